#include "programs/common/win32_platform.h"

namespace korv::win32 {

namespace {

// The monitor's own folder in the user's local application data folder.
constexpr std::u16string_view kLocalFolderName = u"KORVANTH417";

std::vector<PipeHidDeclaration> DeclaredSimulatedInterfaces(const SettingsFile& settings,
                                                            const DebugOutput& debug) {
    std::vector<PipeHidDeclaration> pipes;
    for (SimulatedHidInterface& simulated : settings.ReadSimulatedInterfaces(debug)) {
        pipes.push_back({std::move(simulated.pipe_name), std::move(simulated.hardware_id),
                         simulated.capabilities});
    }
    return pipes;
}

}  // namespace

Win32Platform::Win32Platform()
    : microphone(debug, [this] { return title; }),
      pipe_hid(DeclaredSimulatedInterfaces(settings, debug)) {}

void Win32Platform::StartMonitorLog() {
    const std::u16string local = LocalAppDataFolder();
    if (local.empty()) {
        debug.Trace(u"The local application data folder is unknown; the monitor keeps no log file");
        return;
    }
    debug.StartLog(MonitorTraceLog(settings, {files, files, clock},
                                   {files.PathInFolder(local, kLocalFolderName)}));
}

}  // namespace korv::win32
