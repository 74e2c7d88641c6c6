#pragma once
// Port: files and folders of the platform.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The whole content of a file, or nothing when it is missing or cannot be read.
    virtual std::optional<std::vector<std::uint8_t>> ReadWholeFile(
        std::u16string_view path) const = 0;

    // The folder of the running executable, ending in a path separator.
    virtual std::u16string ExecutableFolder() const = 0;
};

}  // namespace korv
