#pragma once
// The wire between the monitor and the configuration program on Linux: the session bus names,
// objects and interfaces of both programs, and the configuration program's file. Other programs
// (the configuration program, desktop shortcuts, panel widgets) use these names: they do not
// change.
//
//   com.korvanth417.Monitor  /com/korvanth417/Monitor  com.korvanth417.Monitor1
//     ReloadProfiles(i profile_id)   reload the profiles, then record profile_id
//     ReloadSettings()               reload the settings and apply the language
//     ToggleMicrophone()             flip the default microphone's mute
//     MicrophoneMuted (b, read-only, PropertiesChanged)
//   com.korvanth417.Config   /com/korvanth417/Config   com.korvanth417.Config1
//     ProfileSwitched(u slot)        the monitor waits for the reply, a bounded time
//     DeviceEvent(u kind, u value)   kinds 2 and 6; no reply expected
//     MonitorExit()                  no reply expected
//     Show()                         no reply expected

namespace korv::os_linux {

inline constexpr char kMonitorBusName[] = "com.korvanth417.Monitor";
inline constexpr char kMonitorObjectPath[] = "/com/korvanth417/Monitor";
inline constexpr char kMonitorInterface[] = "com.korvanth417.Monitor1";
inline constexpr char kMicrophoneMutedProperty[] = "MicrophoneMuted";

inline constexpr char kConfigBusName[] = "com.korvanth417.Config";
inline constexpr char kConfigObjectPath[] = "/com/korvanth417/Config";
inline constexpr char kConfigInterface[] = "com.korvanth417.Config1";

// The configuration program, in the monitor's own folder.
inline constexpr char kConfigProgramFile[] = "korvanth417-config";

}  // namespace korv::os_linux
