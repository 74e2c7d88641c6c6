#pragma once
// Port: the desktop shell.

#include <string>

namespace korv {

class Shell {
  public:
    virtual ~Shell() = default;

    // The user's personal documents folder, without a trailing separator; empty when the platform
    // has none.
    virtual std::u16string DocumentsFolder() const = 0;
};

}  // namespace korv
