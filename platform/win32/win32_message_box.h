#pragma once
// The modal message box of Windows.

#include "ports/message_box.h"

namespace korv::win32 {

class Win32MessageBoxes : public MessageBoxes {
  public:
    void ShowError(std::u16string_view text, std::u16string_view caption) override;
};

}  // namespace korv::win32
