#pragma once
// Files and folders on Linux: POSIX calls, UTF-8 paths at the edge, '/' as the separator; a
// full path starts at the root.
//
// The program's installed data ("ui.local", the shipped "config.ini") lives apart from its
// executable, as Linux installs programs: `<prefix>/share/korvanth417/` beside `<prefix>/bin/`.
//
// Threads: any thread; no state changes after construction.

#include "ports/file_system.h"

namespace korv::os_linux {

class LinuxFileSystem : public FileSystem {
  public:
    // `data_folder` (ending in '/') moves the installed data elsewhere, for tests and for a run
    // from a build folder; empty for `<prefix>/share/korvanth417/`, where the prefix is the
    // parent of the executable's folder.
    explicit LinuxFileSystem(std::u16string data_folder = {});

    [[nodiscard]] FileRead ReadWholeFile(std::u16string_view path,
                                         std::uint64_t max_bytes) const override;
    // From /proc/self/exe; empty when the link cannot be read.
    std::u16string ExecutableFolder() const override;
    std::u16string DataFolder() const override { return data_folder_; }
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
    bool IsFullPath(std::u16string_view path) const override { return path.starts_with(u'/'); }

    // `<prefix>/share/korvanth417/` for an executable in `<prefix>/bin/` (any folder name).
    static std::u16string InstalledDataFolder(std::u16string_view executable_folder);

  private:
    std::u16string data_folder_;
};

}  // namespace korv::os_linux
