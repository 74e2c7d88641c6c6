#pragma once
// The hidden window of the start-up yardsticks: a top-level tool window of its own class that
// is never shown, and a message loop that runs until the window is asked to close.

#include <windows.h>

namespace korv::bench {

inline LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// Registers the class and creates the window, as the monitor creates its own.
inline HWND CreateHiddenWindow(HINSTANCE instance, const wchar_t* class_name) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = HiddenWindowProc;
    window_class.hInstance = instance;
    window_class.lpszClassName = class_name;
    RegisterClassW(&window_class);
    return CreateWindowExW(WS_EX_TOOLWINDOW, class_name, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                           nullptr, instance, nullptr);
}

inline int RunUntilClosed() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}

}  // namespace korv::bench
