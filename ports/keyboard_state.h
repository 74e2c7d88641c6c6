#pragma once
// Port: the keyboard state as the calling thread's input sees it.
//
// Threads: the thread whose input state is asked for (the hooking thread).

#include <cstdint>

namespace korv {

class KeyboardState {
  public:
    virtual ~KeyboardState() = default;

    // True while the key with this virtual-key code is held down.
    [[nodiscard]] virtual bool IsKeyDown(std::uint8_t virtual_key) const = 0;
};

}  // namespace korv
