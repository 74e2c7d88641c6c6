// KORVANTH417MON.exe, the monitor: one per logged-on user, no visible window, a tray icon.

#include <windows.h>

#include "app/settings_file.h"
#include "platform/win32/peer_messages.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/monitor/monitor_window.h"

namespace {

constexpr int kExitWindowFailed = 1;
constexpr int kExitNoMutex = 2;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace korv;
    using namespace korv::win32;
    Win32Platform platform;
    // The log starts first, so that it also tells of a start that ends at once.
    platform.StartMonitorLog();
    // The single-instance mutex has the window class's name. Creating it is the check itself,
    // so two monitors started at the same moment cannot both pass. A second start ends here,
    // before any window or tray icon, with one trace line and without a sound.
    const UniqueHandle mutex(CreateMutexW(nullptr, TRUE, ToWide(kMonitorWindowClass).c_str()));
    if (mutex.Valid() && GetLastError() == ERROR_ALREADY_EXISTS) {
        platform.debug.Trace(kAlreadyRunningTrace);
        return 0;
    }
    if (!mutex.Valid()) {
        platform.debug.Trace(u"Single-instance mutex cannot be created; the monitor ends");
        return kExitNoMutex;
    }
    const auto data_module = LoadDataModule(platform.DataPorts(), platform.settings);
    int result = kExitWindowFailed;
    if (const auto window = MonitorWindow::Create(instance, platform, *data_module))
        result = RunMessageLoop();
    else
        platform.debug.Trace(u"The monitor window cannot be created; the monitor ends");
    ReleaseMutex(mutex.Get());
    return result;
}
