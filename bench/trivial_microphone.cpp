// The second and third yardsticks for the monitor's start-up figures.
//
// Without arguments: the trivial hidden-window program that also binds the default microphone's
// volume the way the monitor does at start (COM, the default capture endpoint, its
// IAudioEndpointVolume), through the monitor's own microphone backend. Its working set is the
// floor for a program that can toggle the microphone at once.
//
// With "--platform": the same, plus the two other platform services the monitor holds all day,
// through the monitor's own backends: an icon in the notification area and the HID interface
// class's device notifications (the platform runs a thread of its own for them). Its working set
// is what the platform costs for the monitor's features; what the monitor needs above it is the
// monitor's own.

#include <windows.h>

#include <memory>
#include <string_view>

#include "bench/hidden_window.h"
#include "platform/win32/win32_device_notifications.h"
#include "platform/win32/win32_microphone.h"
#include "platform/win32/win32_tray.h"
#include "ports/debug_output.h"

namespace {

// The microphone traces only when it toggles, which this program never does. Its own class
// keeps the object file of the Windows debug output out of the program.
class NoTrace : public korv::DebugOutput {
  public:
    void Trace(std::u16string_view) const override {}
};

class IgnoreDeviceChanges : public korv::DeviceChangeListener {
  public:
    void OnDeviceEvent(const korv::DeviceEvent&) override {}
};

constexpr UINT kTrayCallback = WM_APP + 1;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
    const bool platform = std::wstring_view(command_line) == L"--platform";
    const HWND window = korv::bench::CreateHiddenWindow(
        instance, platform ? L"KorvTrivialPlatform" : L"KorvTrivialMicrophone");
    // As the monitor does after its window exists: the device notifications and the tray icon,
    // then the endpoint bound and its state read.
    const NoTrace debug;
    IgnoreDeviceChanges listener;
    std::unique_ptr<korv::DeviceNotificationRegistration> registration;
    std::unique_ptr<korv::win32::Win32Tray> tray;
    if (platform) {
        registration = korv::win32::Win32DeviceNotifications().Register(listener).registration;
        tray = std::make_unique<korv::win32::Win32Tray>(
            window, kTrayCallback, LoadIconW(nullptr, IDI_APPLICATION), u"", debug);
        static_cast<void>(tray->Show());  // the working set is measured either way
    }
    korv::win32::Win32Microphone microphone(debug, [] { return std::u16string(); });
    microphone.Prepare();
    static_cast<void>(microphone.EndpointMuted());
    return korv::bench::RunUntilClosed();
}
