#pragma once
// Files and folders on Windows. Paths are built with backslashes; a full path is a drive path
// ("C:\..." or "C:/...") or a UNC path ("\\server\...").
// Files that text is appended to hold it as UTF-8; other programs may read, append to and
// rename them while they are open.

#include "ports/appending_files.h"
#include "ports/file_system.h"

namespace korv::win32 {

class Win32FileSystem : public FileSystem, public AppendingFiles {
  public:
    [[nodiscard]] FileRead ReadWholeFile(std::u16string_view path,
                                         std::uint64_t max_bytes) const override;
    std::u16string ExecutableFolder() const override;
    [[nodiscard]] bool FileExists(std::u16string_view path) const override;
    [[nodiscard]] bool FolderExists(std::u16string_view path) const override;
    [[nodiscard]] bool CreateFolder(std::u16string_view path) const override;
    [[nodiscard]] bool WriteWholeFile(std::u16string_view path,
                                      std::span<const std::uint8_t> bytes) const override;
    std::u16string PathInFolder(std::u16string_view folder,
                                std::u16string_view name) const override;
    std::u16string JoinWithSeparator(std::u16string_view path,
                                     std::u16string_view part) const override;
    std::pair<std::u16string, std::u16string> SplitFolderAndName(
        std::u16string_view path) const override;
    bool IsFullPath(std::u16string_view path) const override { return IsWindowsFullPath(path); }

    [[nodiscard]] std::unique_ptr<AppendingFile> OpenForAppending(
        std::u16string_view path) const override;
    [[nodiscard]] bool Rename(std::u16string_view from, std::u16string_view to) const override;

    // The only forms that name one place whatever the current drive, folder or search order is.
    static bool IsWindowsFullPath(std::u16string_view path);
};

}  // namespace korv::win32
