#include "platform/win32/win32_message_box.h"

#include <windows.h>

#include "platform/win32/wide_string.h"

namespace korv::win32 {

void Win32MessageBoxes::ShowError(std::u16string_view text, std::u16string_view caption) {
    MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(caption).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace korv::win32
