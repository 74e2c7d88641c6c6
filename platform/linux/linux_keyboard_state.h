#pragma once
// The keyboard state on Linux, where the monitor has no hook library: no key is ever reported
// down, so key combinations are never completed by a modifier the monitor cannot see.
//
// Threads: any.

#include "ports/keyboard_state.h"

namespace korv::os_linux {

class NoKeyboardState final : public KeyboardState {
  public:
    [[nodiscard]] bool IsKeyDown(std::uint8_t) const override { return false; }
};

}  // namespace korv::os_linux
