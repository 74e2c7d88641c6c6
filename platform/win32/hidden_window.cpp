#include "platform/win32/hidden_window.h"

namespace korv::win32 {

HWND CreateHiddenWindow(const wchar_t* class_name, WNDPROC procedure, HiddenWindowKind kind) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = class_name;
    // Fails for every window after the first, the class being registered then.
    RegisterClassW(&window_class);
    if (kind == HiddenWindowKind::kMessageOnly) {
        return CreateWindowExW(0, class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                               nullptr);
    }
    return CreateWindowExW(WS_EX_TOOLWINDOW, class_name, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                           nullptr, instance, nullptr);
}

}  // namespace korv::win32
