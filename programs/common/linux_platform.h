#pragma once
// The Linux backends that the monitor and the stand-in configuration program share: files, the
// store, the shell, the language, the clock, the trace lines, "config.ini" read once, and the
// main loop.
//
// Threads: created and used on the main thread.

#include <csignal>
#include <functional>
#include <initializer_list>
#include <memory>

#include "app/settings_file.h"
#include "platform/linux/linux_file_system.h"
#include "platform/linux/linux_keyed_store.h"
#include "platform/linux/linux_main_loop.h"
#include "platform/linux/linux_system.h"
#include "profile/dm_unit.h"

namespace korv::os_linux {

class LinuxPlatform {
  public:
    LinuxPlatform() = default;
    DataModulePorts DataPorts() { return {registry, files, shell, locale, clock, debug}; }

    // Runs `on_signal` on the main loop whenever one of `signals` arrives; they no longer end
    // the program by themselves. Call it before any thread starts: the signals are blocked on
    // the calling thread, and threads started later inherit that. Null (and the signals left as
    // they were) when the system refuses.
    [[nodiscard]] std::unique_ptr<FdWatch> WatchSignals(std::initializer_list<int> signals,
                                                        std::function<void()> on_signal);

    LinuxDebugOutput debug;
    LinuxFileSystem files;
    LinuxKeyedStore registry;
    LinuxShell shell;
    LinuxLocale locale;
    LinuxClock clock;
    // "config.ini", read once at start: the user's own copy, else the installed one.
    const SettingsFile settings =
        SettingsFile::LoadFile(SettingsFilePath(files), files, locale, debug);
    LinuxMainLoop main_loop;
};

}  // namespace korv::os_linux
