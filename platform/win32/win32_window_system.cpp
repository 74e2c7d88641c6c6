#include "platform/win32/win32_window_system.h"

#include <windows.h>

#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

HWND Handle(WindowRef window) {
    return reinterpret_cast<HWND>(window);
}

}  // namespace

WindowRef Win32WindowSystem::FindWindowByClass(std::u16string_view class_name) const {
    return reinterpret_cast<WindowRef>(FindWindowW(ToWide(class_name).c_str(), nullptr));
}

bool Win32WindowSystem::Post(WindowRef window, std::uint32_t message, std::uintptr_t wparam,
                             std::intptr_t lparam) const {
    return window != 0 && PostMessageW(Handle(window), message, wparam, lparam);
}

// SMTO_ABORTIFHUNG returns at once for a receiver the system sees as hung; the time-out bounds
// the wait for one that is merely slow. Meanwhile this thread still handles messages sent to it.
std::optional<std::intptr_t> Win32WindowSystem::Send(WindowRef window, std::uint32_t message,
                                                     std::uintptr_t wparam,
                                                     std::intptr_t lparam) const {
    DWORD_PTR result = 0;
    if (window == 0 ||
        !SendMessageTimeoutW(Handle(window), message, wparam, lparam, SMTO_ABORTIFHUNG,
                             static_cast<UINT>(kSendTimeout.count()), &result)) {
        return std::nullopt;
    }
    return static_cast<std::intptr_t>(result);
}

// SW_SHOW shows the window in its current state: a minimised window stays minimised.
void Win32WindowSystem::ShowAndBringForward(WindowRef window) const {
    if (window == 0)
        return;
    ShowWindow(Handle(window), SW_SHOW);
    SetForegroundWindow(Handle(window));
}

}  // namespace korv::win32
