#pragma once
// Port: the desktop shell.
//
// Threads: the main thread.

#include <string>
#include <string_view>

namespace korv {

class Shell {
  public:
    virtual ~Shell() = default;

    // The user's personal documents folder, without a trailing separator; empty when the platform
    // has none.
    virtual std::u16string DocumentsFolder() const = 0;

    // Asks the shell to open the file (given by name) with `folder` as the working folder,
    // shown normally; false when it cannot.
    [[nodiscard]] virtual bool OpenFile(std::u16string_view file,
                                        std::u16string_view folder) const = 0;
};

}  // namespace korv
