#pragma once
// Port: files and folders of the platform.
//
// Threads: any thread; implementations keep no state between calls. The monitor calls it from
// its main thread.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korv {

// What reading a whole file found.
struct FileRead {
    enum class Status : std::uint8_t {
        Read,        // `bytes` holds the whole file
        Missing,     // there is no such file
        Unreadable,  // the file exists but cannot be opened or read (locked, no access)
        TooLarge,    // the file is larger than the caller's limit: nothing of it was read
    };
    Status status = Status::Missing;
    std::uint64_t size = 0;           // the file's size, for Read and TooLarge
    std::vector<std::uint8_t> bytes;  // the content, for Read
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The whole content of a file of at most `max_bytes`. The size is asked before anything is
    // read, so a larger file costs no memory and is left as it is. Each format the program
    // reads has its own limit.
    [[nodiscard]] virtual FileRead ReadWholeFile(std::u16string_view path,
                                                 std::uint64_t max_bytes) const = 0;

    // The folder of the running executable, ending in a path separator.
    virtual std::u16string ExecutableFolder() const = 0;

    // The folder of the program's installed data files ("ui.local", the shipped "config.ini"),
    // ending in a path separator: the executable's own folder where the program is installed as
    // one folder, a shared data folder where the system keeps programs and data apart.
    virtual std::u16string DataFolder() const { return ExecutableFolder(); }

    [[nodiscard]] virtual bool FileExists(std::u16string_view path) const = 0;
    [[nodiscard]] virtual bool FolderExists(std::u16string_view path) const = 0;

    // Creates one folder level: its parent must exist. True when the folder exists afterwards.
    [[nodiscard]] virtual bool CreateFolder(std::u16string_view path) const = 0;

    // Creates or replaces a file with the bytes. An existing file is replaced only once the new
    // content is completely on disk, so a failure or a crash never leaves a truncated file where
    // a good one was.
    [[nodiscard]] virtual bool WriteWholeFile(std::u16string_view path,
                                              std::span<const std::uint8_t> bytes) const = 0;

    // Path text. Every path the program builds is built here, with the platform's separator;
    // nothing is normalised, so the paths the stored records keep are the texts the
    // configuration program writes, doubled separators included.

    // `name` inside `folder`: the folder, one separator unless the folder ends with one, and the
    // name. With an empty name, the folder ending in a separator.
    virtual std::u16string PathInFolder(std::u16string_view folder,
                                        std::u16string_view name) const = 0;
    // `path`, one separator and `part`, whatever `path` ends with.
    virtual std::u16string JoinWithSeparator(std::u16string_view path,
                                             std::u16string_view part) const = 0;
    // A path cut after its last separator: the folder with that separator, and the name. Without
    // a separator the folder is empty.
    virtual std::pair<std::u16string, std::u16string> SplitFolderAndName(
        std::u16string_view path) const = 0;
    // Whether the path names one place whatever the current folder, drive or search order is.
    virtual bool IsFullPath(std::u16string_view path) const = 0;
};

}  // namespace korv
