#pragma once
// Files and folders on Windows.

#include "ports/file_system.h"

namespace korv::win32 {

class Win32FileSystem : public FileSystem {
  public:
    std::optional<std::vector<std::uint8_t>> ReadWholeFile(std::u16string_view path) const override;
    std::u16string ExecutableFolder() const override;
};

}  // namespace korv::win32
