#include "platform/win32/win32_keyboard_state.h"

#include <windows.h>

namespace korv::win32 {

bool Win32KeyboardState::IsKeyDown(std::uint8_t virtual_key) const {
    return (GetKeyState(virtual_key) & 0x8000) != 0;
}

}  // namespace korv::win32
