#include "programs/common/win32_platform.h"

#include "app/settings_file.h"

namespace korv::win32 {

namespace {

std::vector<SimulatedHidInterface> DeclaredSimulatedInterfaces(const Win32FileSystem& files,
                                                               const Win32Locale& locale,
                                                               const DebugOutput& debug) {
    SimulatedInterfaceList declared = SettingsFile::Load(files, locale).ReadSimulatedInterfaces();
    for (const std::u16string& entry : declared.rejected) {
        debug.Trace(u"config.ini: " + entry +
                    u" is not PIPE, HARDWARE-ID, USAGE-PAGE, USAGE, INPUT-LENGTH, "
                    u"OUTPUT-LENGTH, FEATURE-LENGTH; it is skipped");
    }
    return std::move(declared.interfaces);
}

}  // namespace

Win32Platform::Win32Platform()
    : microphone(debug, [this] { return title; }),
      hid(DeclaredSimulatedInterfaces(files, locale, debug)) {}

}  // namespace korv::win32
