#pragma once
// The Windows backend of every port the monitor and the stand-in configuration program use.

#include <string>

#include "app/mouse_monitor.h"
#include "app/settings_file.h"
#include "app/trace_log.h"
#include "hid/combined_hid_interfaces.h"
#include "platform/win32/win32_config_peer.h"
#include "platform/win32/win32_device_notifications.h"
#include "platform/win32/win32_dynamic_library.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_keyboard_state.h"
#include "platform/win32/win32_keyed_store.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_main_loop.h"
#include "platform/win32/win32_message_box.h"
#include "platform/win32/win32_microphone.h"
#include "platform/win32/win32_pipe_hid.h"
#include "platform/win32/win32_system.h"
#include "profile/dm_unit.h"

namespace korv::win32 {

class Win32Platform {
  public:
    Win32Platform();
    DataModulePorts DataPorts() { return {registry, files, shell, locale, clock, debug}; }
    // The monitor's log file, %LOCALAPPDATA%\KORVANTH417\monitor.log, unless the settings file
    // turns it off. Main thread, before the HID readers start.
    void StartMonitorLog();

    Win32KeyedStore registry;
    Win32FileSystem files;
    Win32Shell shell;
    Win32Locale locale;
    Win32Clock clock;
    Win32DebugOutput debugger;
    // Every trace line goes to the debugger output, and to the log file once StartMonitorLog
    // started it.
    LoggedDebugOutput debug{debugger};
    // "config.ini", read once at start for everything that needs it.
    const SettingsFile settings = SettingsFile::Load(files, locale, debug);
    Win32ConfigPeer peer{shell, files, debug};
    Win32DynamicLibraryLoader libraries;
    Win32MessageBoxes message_boxes;
    Win32KeyboardState keyboard;
    // The application title for the microphone's message boxes, once the window exists.
    std::u16string title = std::u16string(kApplicationTitle);
    Win32Microphone microphone;
    Win32MainLoop main_loop;
    Win32DeviceNotifications device_notifications;
    // The platform's HID interfaces, then the simulated ones the settings file declares.
    Win32HidInterfaces platform_hid;
    Win32PipeHidInterfaces pipe_hid;
    CombinedHidInterfaces hid{{&platform_hid, &pipe_hid}};
};

}  // namespace korv::win32
