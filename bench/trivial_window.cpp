// The yardstick for the monitor's start-up figures: a program that only creates a hidden
// top-level window of its own class and runs a message loop until it is closed.

#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"KorvTrivialWindow";
    RegisterClassW(&window_class);
    CreateWindowExW(WS_EX_TOOLWINDOW, L"KorvTrivialWindow", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                    nullptr, instance, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
