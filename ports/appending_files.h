#pragma once
// Port: files that text is added to at their end, line by line, such as the monitor's log.
//
// Threads: the opener and Rename from any thread; one open file from one thread at a time (its
// owner serialises the writers).

#include <cstdint>
#include <memory>
#include <string_view>

namespace korv {

// A file open for adding text at its end.
class AppendingFile {
  public:
    virtual ~AppendingFile() = default;

    // Adds the text, as UTF-8, at the end of the file. Nothing of it stays in a buffer of the
    // program: a reader of the file sees it once this returns. False when not all of it could be
    // written (a full disk, a file gone bad).
    [[nodiscard]] virtual bool Append(std::u16string_view text) = 0;
    // The file's size in bytes now, with what other programs added to it (or, when the system
    // cannot tell, what it held when it was opened and what was added through this object).
    virtual std::uint64_t Size() const = 0;
    // Whether `path` still names this file: false once the file was renamed away or another
    // file took the name (another program may do either), or when `path` names no file.
    [[nodiscard]] virtual bool IsNamedBy(std::u16string_view path) const = 0;
};

class AppendingFiles {
  public:
    virtual ~AppendingFiles() = default;

    // Opens the file for adding text, creating it empty when it is missing; other programs may
    // read it, and the file may be renamed, while it is open. Nothing when it cannot be opened
    // (its folder missing, no access).
    [[nodiscard]] virtual std::unique_ptr<AppendingFile> OpenForAppending(
        std::u16string_view path) const = 0;
    // Gives the file `from` the name `to`, replacing a file of that name. False when it could
    // not (no such file, no access).
    [[nodiscard]] virtual bool Rename(std::u16string_view from, std::u16string_view to) const = 0;
};

}  // namespace korv
