#pragma once
// The stand-in configuration program's window (class TKORVANTH417CFGMAIN): the current profile
// group and profile, the interface language, the microphone-state icon setting and each button's
// function of a chosen profile, every change carried out as its command-line command is; and a
// log pane of the monitor's messages. A profile switch the monitor reports (7040) makes that
// profile the current one and asks the monitor to reload. Control identifiers:
// config_window_ids.h.
//
// Threads: the stand-in's main thread, which runs the window's message loop.

#include <windows.h>

#include <string>

namespace korv::win32 {

// Runs the window until it is closed; the exit code of the program.
int RunConfigWindow(HINSTANCE instance, bool hidden, const std::wstring& log_path);

}  // namespace korv::win32
