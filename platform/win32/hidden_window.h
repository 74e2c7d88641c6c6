#pragma once
// The hidden windows of the backends: a window class of the program registered once (a second
// call finds it registered) and a window of it that is never shown.

#include <windows.h>

namespace korv::win32 {

enum class HiddenWindowKind {
    kMessageOnly,  // receives what is sent or posted to it, and its timers
    kTopLevel,     // a tool window without a task-bar button: also receives broadcasts
};

// Null when the window cannot be created (GetLastError tells why).
[[nodiscard]] HWND CreateHiddenWindow(const wchar_t* class_name, WNDPROC procedure,
                                      HiddenWindowKind kind);

}  // namespace korv::win32
