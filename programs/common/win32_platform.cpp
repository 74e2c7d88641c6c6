#include "programs/common/win32_platform.h"

namespace korv::win32 {

namespace {

std::vector<PipeHidDeclaration> DeclaredSimulatedInterfaces(const SettingsFile& settings,
                                                            const DebugOutput& debug) {
    SimulatedInterfaceList declared = settings.ReadSimulatedInterfaces();
    for (const std::u16string& entry : declared.rejected) {
        debug.Trace(u"config.ini: " + entry +
                    u" is not PIPE, HARDWARE-ID, USAGE-PAGE, USAGE, INPUT-LENGTH, "
                    u"OUTPUT-LENGTH, FEATURE-LENGTH; it is skipped");
    }
    std::vector<PipeHidDeclaration> pipes;
    for (SimulatedHidInterface& simulated : declared.interfaces) {
        pipes.push_back({std::move(simulated.pipe_name), std::move(simulated.hardware_id),
                         simulated.capabilities});
    }
    return pipes;
}

}  // namespace

Win32Platform::Win32Platform()
    : microphone(debug, [this] { return title; }),
      pipe_hid(DeclaredSimulatedInterfaces(settings, debug)) {}

}  // namespace korv::win32
