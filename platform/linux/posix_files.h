#pragma once
// The file operations the file system, the keyed store and the hidraw walk (its sysfs files)
// share: a read bounded before anything is read, and a replace that never leaves a part of a file
// behind. Paths are UTF-8.
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

// How far the size the open file reports is believed. A file on disk reports its length; a sysfs
// attribute reports a page (text) or a fixed size or 0 (binary), whatever it holds.
enum class ReportedSize : std::uint8_t { Exact, NotTheContent };

// The whole regular file at `path` unless it holds more than `max_bytes`. With an Exact size a
// larger file is refused before anything of it is read, and TooLarge gives that size. Either way
// at most one byte beyond `max_bytes` is read, so a file that grew after its size was asked, or
// one that does not report it, is bounded all the same (TooLarge then gives the bytes seen).
// Something that is not a regular file (a folder, a pipe, a device) is Unreadable, never waited
// for.
FileRead ReadBoundedFile(const std::string& path, std::uint64_t max_bytes,
                         ReportedSize reported = ReportedSize::Exact);

// Writes the bytes to a new file in the target's folder, flushes it to disk, renames it over the
// target and flushes the folder: a crash or a full disk leaves the old file or the new one, and
// a failure removes the new one.
[[nodiscard]] bool ReplaceFileAtomically(const std::string& path,
                                         std::span<const std::uint8_t> bytes);

// The folder part of a path, "/" for a file at the top and "." for a bare name.
std::string ParentFolder(std::string_view path);

}  // namespace korv::os_linux
