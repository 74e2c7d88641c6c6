#pragma once
// A file system held in memory, for the core's tests. Paths use backslashes and the drive/UNC
// rule of full paths as on Windows, or, given '/', slashes and the rule of Unix (a full path
// starts with a slash); folders must exist before files are written into them, as on a real
// disk. Files that text is appended to keep that text, apart from the files of bytes; a file open
// for appending keeps its text when it is renamed, as an open file on a disk does.

#include <map>
#include <memory>
#include <optional>
#include <set>

#include "ports/appending_files.h"
#include "ports/file_system.h"

namespace korv::fake {

class MemoryFileSystem : public FileSystem, public AppendingFiles {
  public:
    explicit MemoryFileSystem(std::u16string executable_folder = u"C:\\Program Files\\Monitor\\",
                              char16_t separator = u'\\');

    void Put(std::u16string path, std::vector<std::uint8_t> bytes);
    // A file that exists but cannot be read (locked or without permission).
    void PutUnreadable(std::u16string path);
    void AddFolder(std::u16string path);
    // Every following write fails, as on a full disk.
    void FailWrites(bool fail) { fail_writes_ = fail; }
    // Every following rename fails, as when another program holds the target open.
    void FailRenames(bool fail) { fail_renames_ = fail; }

    // Compares the size with the limit before it copies anything, as a real file system does.
    [[nodiscard]] FileRead ReadWholeFile(std::u16string_view path,
                                         std::uint64_t max_bytes) const override;
    std::u16string ExecutableFolder() const override { return executable_folder_; }
    // The data folder is the executable's until a test moves it, as a Linux installation does.
    std::u16string DataFolder() const override {
        return data_folder_.empty() ? executable_folder_ : data_folder_;
    }
    void SetDataFolder(std::u16string folder) { data_folder_ = std::move(folder); }
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
    bool IsFullPath(std::u16string_view path) const override;

    [[nodiscard]] std::unique_ptr<AppendingFile> OpenForAppending(
        std::u16string_view path) const override;
    [[nodiscard]] bool Rename(std::u16string_view from, std::u16string_view to) const override;

    // What a test inspects.
    const std::map<std::u16string, std::vector<std::uint8_t>>& Files() const { return files_; }
    int WriteCount() const { return write_count_; }
    // Renames tried so far, failed ones included.
    int RenameCount() const { return rename_count_; }
    // Bytes handed out by every ReadWholeFile so far.
    std::uint64_t BytesRead() const { return bytes_read_; }

    // The text appended to a file; nothing when there is no such file.
    std::optional<std::u16string> Text(std::u16string_view path) const;

  private:
    class TextFile;
    struct AppendedText {
        std::u16string text;
        std::uint64_t size = 0;  // of the text in UTF-8
    };

    std::u16string executable_folder_;
    std::u16string data_folder_;
    char16_t separator_;
    // The port is const, as a real file system is state outside the program; the fake keeps
    // that state here.
    mutable std::map<std::u16string, std::vector<std::uint8_t>> files_;
    mutable std::set<std::u16string> folders_;
    // Shared with the files open on them, which keep their text through a rename.
    mutable std::map<std::u16string, std::shared_ptr<AppendedText>> texts_;
    std::set<std::u16string> unreadable_;
    bool fail_writes_ = false;
    bool fail_renames_ = false;
    mutable int write_count_ = 0;
    mutable int rename_count_ = 0;
    mutable std::uint64_t bytes_read_ = 0;
};

}  // namespace korv::fake
