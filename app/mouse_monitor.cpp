#include "app/mouse_monitor.h"

#include "app/messages.h"
#include "lang/translation_engine.h"
#include "ports/file_system.h"
#include "ports/microphone.h"
#include "ports/shell.h"

namespace korv {

TKORVANTH417MONMAIN::TKORVANTH417MONMAIN(Component* owner, const MonitorPorts& ports,
                                         TDM& data_module, WindowRef own_window)
    : Component(owner, u"KORVANTH417MONMAIN", std::u16string(kMonitorWindowClass),
                ComponentKind::kWindow),
      ports_(ports),
      dm_(data_module),
      hook_(std::make_unique<TuiHook>(ports.hook)),
      language_(&CreateLanguageComponent(*this, {ports.data.locale, ports.data.files})),
      dispatcher_({ports.windows, ports.data.registry, ports.microphone, ports.data.debug},
                  data_module, own_window),
      title_(kApplicationTitle) {}

void TKORVANTH417MONMAIN::FormCreate() {
    LoadTrayIcon();
    ApplyLanguage();
    ports_.microphone.Prepare();
}

// The readers of the mouse stop with the window; nothing else is released explicitly.
void TKORVANTH417MONMAIN::FormDestroy() {}

void TKORVANTH417MONMAIN::LoadTrayIcon() {
    const std::u16string path =
        ports_.data.files.ExecutableFolder() + std::u16string(kTrayIconFile);
    if (ports_.data.files.FileExists(path))
        ports_.tray.SetIconFromFile(path);
}

// Follows the language stored by the configuration program, then shows the tray's texts in it.
void TKORVANTH417MONMAIN::ApplyLanguage() {
    TuiLanguage& language = *language_;
    const std::int32_t stored = dm_.FAllProfileSettingInfo.CurrentLanguage;
    if (language.GetLanguageIndexByShortID(language.Lang()) != stored) {
        language.SetLang(language.GetLanguageShortIDByIndex(stored));
    }
    ports_.tray.SetHint(TranslateText(kTrayHint));
    title_ = TranslateText(kApplicationTitle);
    ports_.tray.SetTitle(title_);
    std::array<std::u16string, kTrayMenuItems> captions;
    for (std::size_t i = 0; i < kTrayMenuItems; ++i)
        captions[i] = TranslateText(kTrayMenuTexts[i]);
    ports_.tray.SetMenuCaptions(captions);
}

void TKORVANTH417MONMAIN::ShowConfigProgram() {
    const WindowRef config = ports_.windows.FindWindowByClass(kConfigWindowClass);
    if (config != 0) {
        ports_.windows.ShowAndBringForward(config);
    } else {
        ports_.data.shell.OpenFile(kConfigProgramFile, ports_.data.files.ExecutableFolder());
    }
}

void TKORVANTH417MONMAIN::Exit1Click() {
    const WindowRef config = ports_.windows.FindWindowByClass(kConfigWindowClass);
    if (config != 0)
        ports_.windows.Post(config, UM_MONITOR_EXIT, 0, 0);
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
