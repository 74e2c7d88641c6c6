#pragma once
// TKORVANTH417MONMAIN, the monitor's hidden main window, as far as it is the same on every
// platform: its components in their order of creation, FormCreate and FormDestroy, the tray's
// actions, the reload requests of the configuration program, the report dispatch and the
// re-open path of the mouse. The platform's window delivers messages and tray clicks to these
// operations.
//
// Threads: the main thread only, where the window's messages, timers and report deliveries
// run.

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "app/report_dispatch.h"
#include "hid/ui_hid_data.h"
#include "hid/ui_hid_event.h"
#include "hook/ui_hook.h"
#include "lang/component.h"
#include "lang/ui_language.h"
#include "ports/config_peer.h"
#include "ports/main_loop.h"
#include "ports/tray.h"
#include "profile/dm_unit.h"

namespace korv {

class Microphone;
class SettingsFile;

// Everything the monitor window works through.
struct MonitorPorts {
    DataModulePorts data;
    ConfigPeer& peer;
    Microphone& microphone;
    Tray& tray;
    HookServices hook;
    const HidInterfaces& hid;
    MainLoop& main_loop;
    DeviceNotifications& device_notifications;
};

// The class name of the monitor's component (and of its window on Windows).
inline constexpr std::u16string_view kMonitorClassName = u"TKORVANTH417MONMAIN";

// The re-open timer: a burst of device arrivals less than this apart causes one re-open, this
// long after the last of them.
inline constexpr std::chrono::milliseconds kDeviceArrivalDelay{1500};
// The pause of ReopenDevice between stopping the readers and searching again.
inline constexpr std::chrono::milliseconds kReopenPause{50};

// The trace line of a monitor started while another runs for the same user: the later start ends.
inline constexpr std::u16string_view kAlreadyRunningTrace =
    u"The monitor is already running; this start ends";

// The texts the tray shows, before translation.
inline constexpr std::u16string_view kTrayHint = u"GAMING MOUSE DRIVER";
inline constexpr std::u16string_view kApplicationTitle = u"GAMING MOUSE MONITOR";
inline constexpr std::array<std::u16string_view, kTrayMenuItems> kTrayMenuTexts = {
    u"Config", u"About", u"Exit"};
// The second line of the tray hint, before translation.
inline constexpr std::u16string_view kMicrophoneMutedText = u"Microphone muted";
inline constexpr std::u16string_view kMicrophoneOnText = u"Microphone on";

class TKORVANTH417MONMAIN : public Component {
  public:
    // Creates the components in the window's order: the hook component (which loads the hook
    // library), the language component, the tray, the HID data component (with the include list
    // of `settings`, the settings file read at start), the re-open timer and the device-event
    // component.
    TKORVANTH417MONMAIN(Component* owner, const MonitorPorts& ports, TDM& data_module,
                        const SettingsFile& settings);

    void FormCreate();
    void FormDestroy();
    void LoadTrayIcon();
    void ApplyLanguage();
    // Reads the default microphone's mute state and shows it in the tray (icon and hint),
    // unless the settings file turns this off.
    void ShowMicrophoneState();

    // Tray.
    void TrayIconDblClick() { ShowConfigProgram(); }
    void Config1Click() { ShowConfigProgram(); }
    void Exit1Click();
    void ShowConfigProgram();

    // What the configuration program asks: reload the profiles (with the identifier of the
    // profile it changed, stored as ProfileID), reload the settings.
    void WMReloadProfiles(std::intptr_t lParam);
    void WMReloadSettings();
    void WMMonitorEvent(std::uintptr_t wParam, std::intptr_t lParam) {
        dispatcher_.ReceiveMonitorEvent(wParam, lParam);
    }
    ReportDispatcher& Dispatcher() { return dispatcher_; }

    // The re-open path: every device arrival restarts TimerDeviceArrial; when it fires, the
    // readers are stopped and the mouse's interfaces searched again.
    void uiHIDEvent1DeviceArrival();
    void TimerDeviceArrialTimer();
    void ReopenDevice();

    TuiHook& uiHook1() { return *hook_; }
    TuiLanguage& uiLanguage1() { return *language_; }
    TuiHIDData& uiHIDData1() { return *hid_data_; }
    // The translated application title (the caption of the program's message boxes).
    const std::u16string& Title() const { return title_; }

  private:
    std::u16string TrayHint() const;

    MonitorPorts ports_;
    TDM& dm_;
    std::unique_ptr<TuiHook> hook_;
    TuiLanguage* language_;
    ReportDispatcher dispatcher_;
    std::unique_ptr<TuiHIDData> hid_data_;
    std::unique_ptr<OneShotTimer> device_arrival_timer_;
    std::unique_ptr<TuiHIDEvent> hid_event_;
    std::u16string title_;
    std::optional<bool> microphone_muted_;  // as last shown; nothing when unknown or not shown
};

}  // namespace korv
