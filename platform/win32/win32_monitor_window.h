#pragma once
// The monitor's hidden main window on Windows: a top-level window of class TKORVANTH417MONMAIN
// that is never shown and has no task-bar button, yet receives every message sent to its class
// from the moment it exists. It owns the tray icon and hands messages, tray clicks and menu
// commands to the portable monitor.

#include <windows.h>

#include <memory>

#include "app/mouse_monitor.h"
#include "platform/win32/win32_dynamic_library.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_keyboard_state.h"
#include "platform/win32/win32_keyed_store.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_message_box.h"
#include "platform/win32/win32_microphone.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_tray.h"
#include "platform/win32/win32_window_system.h"

namespace korv::win32 {

// The Windows backends of every port the monitor uses.
class Win32Platform {
  public:
    Win32Platform();
    DataModulePorts DataPorts() { return {registry, files, shell, locale, clock, debug}; }

    Win32KeyedStore registry;
    Win32FileSystem files;
    Win32Shell shell;
    Win32Locale locale;
    Win32Clock clock;
    Win32DebugOutput debug;
    Win32WindowSystem windows;
    Win32DynamicLibraryLoader libraries;
    Win32MessageBoxes message_boxes;
    Win32KeyboardState keyboard;
    // The application title for the microphone's message boxes, once the window exists.
    std::u16string title = std::u16string(kApplicationTitle);
    Win32Microphone microphone;
};

class MonitorWindow {
  public:
    // Creates the hidden window and its components in their order, shows the tray icon and runs
    // FormCreate.
    MonitorWindow(HINSTANCE instance, Win32Platform& platform, TDM& data_module);
    // Runs FormDestroy, removes the tray icon and destroys the window.
    ~MonitorWindow();
    MonitorWindow(const MonitorWindow&) = delete;
    MonitorWindow& operator=(const MonitorWindow&) = delete;

    HWND Handle() const { return window_; }
    TKORVANTH417MONMAIN& Monitor() { return *monitor_; }
    Win32Tray& Tray() { return *tray_; }

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    void TrayCallback(LPARAM mouse_message);

    HINSTANCE instance_;
    Win32Platform& platform_;
    HWND window_ = nullptr;
    UINT taskbar_created_ = 0;
    std::unique_ptr<Win32Tray> tray_;
    std::unique_ptr<TKORVANTH417MONMAIN> monitor_;
};

// The message loop of the program: runs until the monitor asks to end.
int RunMessageLoop();

}  // namespace korv::win32
