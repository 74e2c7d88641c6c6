#pragma once
// Port: files and folders of the platform.
//
// Threads: any thread; implementations keep no state between calls. The monitor calls it from
// its main thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The whole content of a file, or nothing when it is missing or cannot be read.
    [[nodiscard]] virtual std::optional<std::vector<std::uint8_t>> ReadWholeFile(
        std::u16string_view path) const = 0;

    // The folder of the running executable, ending in a path separator.
    virtual std::u16string ExecutableFolder() const = 0;

    [[nodiscard]] virtual bool FileExists(std::u16string_view path) const = 0;
    [[nodiscard]] virtual bool FolderExists(std::u16string_view path) const = 0;

    // Creates one folder level: its parent must exist. True when the folder exists afterwards.
    [[nodiscard]] virtual bool CreateFolder(std::u16string_view path) const = 0;

    // Creates or replaces a file with the bytes. An existing file is replaced only once the new
    // content is completely on disk, so a failure or a crash never leaves a truncated file where
    // a good one was.
    [[nodiscard]] virtual bool WriteWholeFile(std::u16string_view path,
                                              std::span<const std::uint8_t> bytes) const = 0;
};

}  // namespace korv
