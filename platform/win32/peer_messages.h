#pragma once
// The wire between the monitor and the configuration program on Windows: window classes,
// the program's file and the message numbers. The portable core speaks of the events these
// messages carry; only the Windows programs and backend know the numbers.

#include <cstdint>
#include <string_view>

namespace korv::win32 {

inline constexpr std::u16string_view kMonitorWindowClass = u"TKORVANTH417MONMAIN";
inline constexpr std::u16string_view kConfigWindowClass = u"TKORVANTH417CFGMAIN";
inline constexpr std::u16string_view kConfigProgramFile = u"KORVANTH417.EXE";

// Configuration program -> monitor.
inline constexpr std::uint32_t UM_RELOAD_PROFILES = 7035;  // lParam: profile identifier
inline constexpr std::uint32_t UM_RELOAD_SETTINGS = 7037;
// Monitor -> configuration program.
inline constexpr std::uint32_t UM_MONITOR_EXIT = 7036;      // posted
inline constexpr std::uint32_t UM_PROFILE_SWITCHED = 7040;  // sent; wParam: profile slot 0..4
inline constexpr std::uint32_t UM_DEVICE_NOTIFY_2 = 7042;   // posted; wParam: event value
inline constexpr std::uint32_t UM_DEVICE_NOTIFY_6 = 7043;   // posted; wParam: event value
// Private to the monitor: a key or profile event to act on, as the mouse's report would cause
// it (wParam: key index 0..11 or 21 + profile slot; lParam: 1 for a key).
inline constexpr std::uint32_t UM_MONITOR_EVENT = 7524;

}  // namespace korv::win32
