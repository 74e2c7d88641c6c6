#include "app/mouse_monitor.h"

#include "app/settings_file.h"
#include "base/decimal_text.h"
#include "hid/usage_and_page.h"
#include "lang/translation_engine.h"
#include "ports/file_system.h"
#include "ports/microphone.h"

namespace korv {

TKORVANTH417MONMAIN::TKORVANTH417MONMAIN(Component* owner, const MonitorPorts& ports,
                                         TDM& data_module, const SettingsFile& settings)
    : Component(owner, u"KORVANTH417MONMAIN", std::u16string(kMonitorClassName),
                ComponentKind::kWindow),
      ports_(ports),
      dm_(data_module),
      hook_(std::make_unique<TuiHook>(ports.hook)),
      language_(&CreateLanguageComponent(*this,
                                         {ports.data.locale, ports.data.files, &ports.data.debug})),
      dispatcher_(
          {ports.peer, ports.main_loop, ports.data.registry, ports.microphone, ports.data.debug},
          data_module),
      hid_data_(std::make_unique<TuiHIDData>(ports.hid, ports.main_loop, ports.data.debug,
                                             settings.ReadIncludeList())),
      device_arrival_timer_(ports.main_loop.CreateTimer([this] { TimerDeviceArrialTimer(); })),
      hid_event_(std::make_unique<TuiHIDEvent>(ports.device_notifications, ports.main_loop,
                                               ports.data.debug)),
      title_(kApplicationTitle) {
    hid_data_->OnData = [this](std::u16string_view id, std::u16string_view path,
                               std::uint8_t report_id, const std::uint8_t* data,
                               std::uint16_t size) {
        dispatcher_.uiHIDData1Data(id, path, report_id, std::span(data, size), size);
    };
    hid_event_->OnDeviceArrival = [this] { uiHIDEvent1DeviceArrival(); };
    dispatcher_.OnMicrophoneToggled = [this] { ShowMicrophoneState(); };
}

void TKORVANTH417MONMAIN::FormCreate() {
    LoadTrayIcon();
    ApplyLanguage();
    ports_.microphone.Prepare();
    ShowMicrophoneState();
}

// The readers of the mouse stop with the window; nothing else is released explicitly.
void TKORVANTH417MONMAIN::FormDestroy() {
    hid_data_->HidStopRead();
}

void TKORVANTH417MONMAIN::uiHIDEvent1DeviceArrival() {
    device_arrival_timer_->Stop();
    device_arrival_timer_->Start(kDeviceArrivalDelay);
}

void TKORVANTH417MONMAIN::TimerDeviceArrialTimer() {
    device_arrival_timer_->Stop();
    ReopenDevice();
}

// Stops every reader, lets what is pending run (deliveries the stopped readers left behind are
// dropped there), then opens the mouse's interfaces again. The trace counts the readers that
// read, not those that could not open their interface or only wait for their stop.
void TKORVANTH417MONMAIN::ReopenDevice() {
    hid_data_->HidStopRead();
    ports_.main_loop.ProcessPending();
    ports_.main_loop.Sleep(kReopenPause);
    hid_data_->HidFindAndReadDevice(MouseUsageAndPage, u"*");
    ports_.data.debug.Trace(u"ReopenDevice: " + DecimalText(hid_data_->ReadingReaderCount()) +
                            u" reader(s)");
}

// The muted picture while the microphone is muted, the plain one otherwise.
void TKORVANTH417MONMAIN::LoadTrayIcon() {
    ports_.tray.SetIcon(microphone_muted_.value_or(false) ? TrayIconState::Muted
                                                          : TrayIconState::Plain);
}

void TKORVANTH417MONMAIN::ShowMicrophoneState() {
    if (dm_.FOtherConfig.ShowMicrophoneState == 0)
        return;
    const std::optional<bool> muted = ports_.microphone.Muted();
    const bool icon_changes = muted.value_or(false) != microphone_muted_.value_or(false);
    microphone_muted_ = muted;
    if (icon_changes)
        LoadTrayIcon();
    ports_.tray.SetHint(TrayHint());
}

// The hint names the program and, when it is known, the microphone's state.
std::u16string TKORVANTH417MONMAIN::TrayHint() const {
    std::u16string hint = TranslateText(kTrayHint);
    if (microphone_muted_) {
        hint += u"\n";
        hint += TranslateText(*microphone_muted_ ? kMicrophoneMutedText : kMicrophoneOnText);
    }
    return hint;
}

// Follows the language stored by the configuration program, then shows the tray's texts in it.
void TKORVANTH417MONMAIN::ApplyLanguage() {
    TuiLanguage& language = *language_;
    const std::int32_t stored = dm_.FAllProfileSettingInfo.CurrentLanguage;
    if (language.GetLanguageIndexByShortID(language.Lang()) != stored) {
        language.SetLang(language.GetLanguageShortIDByIndex(stored));
    }
    ports_.tray.SetHint(TrayHint());
    title_ = TranslateText(kApplicationTitle);
    ports_.tray.SetTitle(title_);
    std::array<std::u16string, kTrayMenuItems> captions;
    for (std::size_t i = 0; i < kTrayMenuItems; ++i)
        captions[i] = TranslateText(kTrayMenuTexts[i]);
    ports_.tray.SetMenuCaptions(captions);
}

// Brings a running configuration program forward, or starts it.
void TKORVANTH417MONMAIN::ShowConfigProgram() {
    if (ports_.peer.Show())
        return;
    if (!ports_.peer.Start())
        ports_.data.debug.Trace(std::u16string(ports_.peer.ProgramName()) + u" cannot be started");
}

void TKORVANTH417MONMAIN::Exit1Click() {
    // The monitor ends whether or not the notice reached the configuration program.
    static_cast<void>(ports_.peer.NotifyMonitorExit());
    ports_.tray.Terminate();
}

void TKORVANTH417MONMAIN::WMReloadProfiles(std::intptr_t lParam) {
    dm_.LoadProfileGroupSettingInfoFromRegistry();
    dm_.LoadAllProfileInfoFromRegistry();
    // A profile with no stored value keeps the image in memory, which serves until the
    // configuration program stores one.
    static_cast<void>(dm_.LoadCurrentProfileInfoFromRegistry());
    static_cast<void>(dispatcher_.WriteProfileID(static_cast<std::int32_t>(lParam)));  // traced
}

void TKORVANTH417MONMAIN::WMReloadSettings() {
    dm_.LoadAllProfileInfoFromRegistry();
    ApplyLanguage();
}

}  // namespace korv
