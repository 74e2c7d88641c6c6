// KORVANTH417MON.exe, the monitor: one per logged-on user, no visible window, a tray icon.

#include <windows.h>

#include "app/messages.h"
#include "app/settings_file.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/monitor/monitor_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace korv;
    using namespace korv::win32;
    // The single-instance mutex has the window class's name. A second start ends here, before
    // any window or tray icon, without a sound.
    const std::wstring mutex_name = ToWide(kMonitorWindowClass);
    if (const HANDLE other = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, mutex_name.c_str())) {
        CloseHandle(other);
        return 0;
    }
    const UniqueHandle mutex(CreateMutexW(nullptr, TRUE, mutex_name.c_str()));

    Win32Platform platform;
    const auto data_module = LoadDataModule(platform.DataPorts());
    int result = 0;
    {
        MonitorWindow window(instance, platform, *data_module);
        result = RunMessageLoop();
    }
    ReleaseMutex(mutex.Get());
    return result;
}
