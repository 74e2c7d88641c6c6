#pragma once
// Files and folders on Windows.

#include "ports/file_system.h"

namespace korv::win32 {

class Win32FileSystem : public FileSystem {
  public:
    FileRead ReadWholeFile(std::u16string_view path, std::uint64_t max_bytes) const override;
    std::u16string ExecutableFolder() const override;
    bool FileExists(std::u16string_view path) const override;
    bool FolderExists(std::u16string_view path) const override;
    bool CreateFolder(std::u16string_view path) const override;
    bool WriteWholeFile(std::u16string_view path,
                        std::span<const std::uint8_t> bytes) const override;
};

}  // namespace korv::win32
