#include "programs/common/win32_platform.h"

namespace korv::win32 {

namespace {

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

}  // namespace korv::win32
