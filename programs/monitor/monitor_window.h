#pragma once
// The monitor's hidden main window on Windows: a top-level window of class TKORVANTH417MONMAIN
// that is never shown and has no task-bar button, yet receives every message sent to its class
// from the moment it exists. It owns the tray icon and hands messages, tray clicks and menu
// commands to the portable monitor.
//
// Threads: the thread that creates it, which runs the message loop (the main thread): its window
// procedure, timers and tray run there, and it must be destroyed there.

#include <windows.h>

#include <memory>

#include "app/deferred_message_boxes.h"
#include "app/mouse_monitor.h"
#include "platform/win32/win32_tray.h"
#include "programs/common/win32_platform.h"

namespace korv::win32 {

class MonitorWindow {
  public:
    // Creates the hidden window and its components in their order, shows the tray icon and runs
    // FormCreate. Null, with a trace line naming the failed call, when the window class cannot
    // be registered or the window cannot be created.
    [[nodiscard]] static std::unique_ptr<MonitorWindow> Create(HINSTANCE instance,
                                                               Win32Platform& platform,
                                                               TDM& data_module);
    // Runs FormDestroy, removes the tray icon and destroys the window.
    ~MonitorWindow();
    MonitorWindow(const MonitorWindow&) = delete;
    MonitorWindow& operator=(const MonitorWindow&) = delete;

    HWND Handle() const { return window_; }
    TKORVANTH417MONMAIN& Monitor() { return *monitor_; }
    Win32Tray& Tray() { return *tray_; }

  private:
    MonitorWindow(HINSTANCE instance, Win32Platform& platform);
    void CreateComponents(TDM& data_module, HICON program_icon);
    void ShowTrayIcon();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    void TrayCallback(LPARAM mouse_message);
    LPARAM FoldQueued(UINT message, LPARAM lparam) const;

    HINSTANCE instance_;
    Win32Platform& platform_;
    HWND window_ = nullptr;
    UINT taskbar_created_ = 0;
    bool class_registered_ = false;
    bool tray_retrying_ = false;
    UINT tray_retry_wait_ = 0;  // milliseconds before the next add; 0 while none is due
    // The hook component's box comes up once the window is complete and the message loop runs.
    DeferredMessageBoxes message_boxes_;
    std::unique_ptr<Win32Tray> tray_;
    std::unique_ptr<TKORVANTH417MONMAIN> monitor_;
};

// The message loop of the program: runs until the monitor asks to end.
int RunMessageLoop();

}  // namespace korv::win32
