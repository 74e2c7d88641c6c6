#pragma once
// The keyboard state of the calling thread on Windows.

#include "ports/keyboard_state.h"

namespace korv::win32 {

class Win32KeyboardState : public KeyboardState {
  public:
    [[nodiscard]] bool IsKeyDown(std::uint8_t virtual_key) const override;
};

}  // namespace korv::win32
