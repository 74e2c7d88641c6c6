#pragma once
// TKORVANTH417MONMAIN, the monitor's hidden main window, as far as it is the same on every
// platform: its components in their order of creation, FormCreate and FormDestroy, the tray's
// actions, the reload requests of the configuration program and the report dispatch. The
// platform's window delivers messages and tray clicks to these operations.

#include <array>
#include <memory>
#include <string>

#include "app/report_dispatch.h"
#include "hook/ui_hook.h"
#include "lang/component.h"
#include "lang/ui_language.h"
#include "ports/tray.h"
#include "ports/window_system.h"
#include "profile/dm_unit.h"

namespace korv {

class Microphone;

// Everything the monitor window works through.
struct MonitorPorts {
    DataModulePorts data;
    const WindowSystem& windows;
    Microphone& microphone;
    Tray& tray;
    HookServices hook;
};

// The texts the tray shows, before translation.
inline constexpr std::u16string_view kTrayHint = u"GAMING MOUSE DRIVER";
inline constexpr std::u16string_view kApplicationTitle = u"GAMING MOUSE MONITOR";
inline constexpr std::array<std::u16string_view, kTrayMenuItems> kTrayMenuTexts = {
    u"Config", u"About", u"Exit"};
// Below the executable's folder (which ends with a backslash, so the path holds two).
inline constexpr std::u16string_view kTrayIconFile = u"\\images\\0409\\icons\\logo.ico";

class TKORVANTH417MONMAIN : public Component {
  public:
    // Creates the components in the window's order: the hook component (which loads the hook
    // library), the language component, then the tray. `own_window` is the platform window
    // the monitor posts its private events to.
    TKORVANTH417MONMAIN(Component* owner, const MonitorPorts& ports, TDM& data_module,
                        WindowRef own_window);

    void FormCreate();
    void FormDestroy();
    void LoadTrayIcon();
    void ApplyLanguage();

    // Tray.
    void TrayIconDblClick() { ShowConfigProgram(); }
    void Config1Click() { ShowConfigProgram(); }
    void Exit1Click();
    void ShowConfigProgram();

    // Messages.
    void WMReloadProfiles(std::intptr_t lParam);
    void WMReloadSettings();
    void WMMonitorEvent(std::uintptr_t wParam, std::intptr_t lParam) {
        dispatcher_.WMMonitorEvent(wParam, lParam);
    }
    ReportDispatcher& Dispatcher() { return dispatcher_; }

    TuiHook& uiHook1() { return *hook_; }
    TuiLanguage& uiLanguage1() { return *language_; }
    // The translated application title (the caption of the program's message boxes).
    const std::u16string& Title() const { return title_; }

  private:
    MonitorPorts ports_;
    TDM& dm_;
    std::unique_ptr<TuiHook> hook_;
    TuiLanguage* language_;
    ReportDispatcher dispatcher_;
    std::u16string title_;
};

}  // namespace korv
