#pragma once
// The two file operations the file system and the keyed store share: a read bounded before
// anything is read, and a replace that never leaves a part of a file behind. Paths are UTF-8.
//
// Threads: any thread; no state.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ports/file_system.h"

namespace korv::os_linux {

// The path as the system takes it: UTF-8, nothing for an empty path or one holding a NUL (which
// would name a shorter path than the caller's).
std::optional<std::string> NativePath(std::u16string_view path);

// The whole regular file at `path` unless it is larger than `max_bytes`: its size is taken from
// the open file first. Something that is not a regular file (a folder, a pipe, a device) is
// Unreadable, never waited for.
FileRead ReadBoundedFile(const std::string& path, std::uint64_t max_bytes);

// Writes the bytes to a new file in the target's folder, flushes it to disk, renames it over the
// target and flushes the folder: a crash or a full disk leaves the old file or the new one, and
// a failure removes the new one.
[[nodiscard]] bool ReplaceFileAtomically(const std::string& path,
                                         std::span<const std::uint8_t> bytes);

// The folder part of a path, "/" for a file at the top and "." for a bare name.
std::string ParentFolder(std::string_view path);

}  // namespace korv::os_linux
