#pragma once
// Port: the platform's modal message box.
//
// Threads: the main thread; a box runs its own message loop until it is closed.

#include <string_view>

namespace korv {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;

    // Shows `text` under `caption` with the error icon and an OK button; returns once the user
    // has closed it.
    virtual void ShowError(std::u16string_view text, std::u16string_view caption) = 0;
};

}  // namespace korv
