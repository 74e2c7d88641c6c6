#pragma once
// Files and folders on Windows.

#include "ports/file_system.h"

namespace korv::win32 {

class Win32FileSystem : public FileSystem {
  public:
    [[nodiscard]] FileRead ReadWholeFile(std::u16string_view path,
                                         std::uint64_t max_bytes) const override;
    std::u16string ExecutableFolder() const override;
    [[nodiscard]] bool FileExists(std::u16string_view path) const override;
    [[nodiscard]] bool FolderExists(std::u16string_view path) const override;
    [[nodiscard]] bool CreateFolder(std::u16string_view path) const override;
    [[nodiscard]] bool WriteWholeFile(std::u16string_view path,
                                      std::span<const std::uint8_t> bytes) const override;
};

}  // namespace korv::win32
