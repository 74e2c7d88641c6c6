#pragma once
// The tray on a Linux desktop: a StatusNotifierItem on the monitor's own bus connection, with
// its menu (Config, About hidden, Exit) served over com.canonical.dbusmenu. A panel that hosts
// such items finds it through org.kde.StatusNotifierWatcher: the item registers with the
// watcher when it is created, when a watcher appears later, and again when another program
// takes the watcher's name over (a panel restarted). Nothing polls: the watcher's name owner is
// followed by its NameOwnerChanged signal.
//
// The item shows the icon by name (the hicolor theme's "korvanth417-monitor" and
// "korvanth417-monitor-muted") and as pixmaps read from the shipped .ico files, so that a panel
// without the theme shows it too. Its tooltip is the hint, its title the application's title,
// the menu's captions those the core gives (translated).
//
// A click on the item (Activate, SecondaryActivate) or on Config runs `config`; a click on Exit
// runs `exit`. They run from the main loop after the bus handler that received the click has
// returned, so that they may end the loop and tear the bus down.
//
// Threads: the main loop's thread, the one that serves the bus.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/icon_file.h"
#include "platform/linux/linux_bus.h"
#include "ports/debug_output.h"
#include "ports/file_system.h"
#include "ports/tray.h"

namespace korv::os_linux {

// The item's and its menu's objects and names. Panels and scripts find the item through them.
inline constexpr char kTrayItemObjectPath[] = "/StatusNotifierItem";
inline constexpr char kTrayItemInterface[] = "org.kde.StatusNotifierItem";
inline constexpr char kTrayMenuObjectPath[] = "/MenuBar";
inline constexpr char kTrayMenuInterface[] = "com.canonical.dbusmenu";
inline constexpr char kTrayItemId[] = "korvanth417-monitor";
inline constexpr char kTrayIconName[] = "korvanth417-monitor";
inline constexpr char kTrayMutedIconName[] = "korvanth417-monitor-muted";
inline constexpr char kTrayWatcherBusName[] = "org.kde.StatusNotifierWatcher";
inline constexpr char kTrayWatcherObjectPath[] = "/StatusNotifierWatcher";
inline constexpr char kTrayWatcherInterface[] = "org.kde.StatusNotifierWatcher";

// The menu items' identifiers in the dbusmenu layout (0 is the root), by the port's position.
inline constexpr std::array<std::int32_t, kTrayMenuItems> kTrayMenuItemIds = {1, 2, 3};

// The icon files, in the folder of the program's data, as the Windows tray names them.
inline constexpr char16_t kTrayIconFile[] = u"images/0409/icons/logo.ico";
inline constexpr char16_t kTrayMutedIconFile[] = u"images/0409/icons/logo-muted.ico";

struct TrayActions {
    std::function<void()> config;  // the item clicked, or Config in its menu
    std::function<void()> exit;    // Exit in its menu
};

class LinuxSniTray final : public Tray {
  public:
    // Puts the item and its menu on the bus and registers the item when a watcher runs. The
    // icon files are read through `files` from `data_folder` (ending in a separator). Null when
    // the connection refuses the objects or the watcher's signal.
    [[nodiscard]] static std::unique_ptr<LinuxSniTray> Create(LinuxBus& bus,
                                                              const FileSystem& files,
                                                              std::u16string data_folder,
                                                              TrayActions actions,
                                                              const DebugOutput& debug);
    ~LinuxSniTray() override;
    LinuxSniTray(const LinuxSniTray&) = delete;
    LinuxSniTray& operator=(const LinuxSniTray&) = delete;

    void SetIcon(TrayIconState state) override;
    void SetHint(std::u16string_view hint) override;
    void SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& captions) override;
    void SetTitle(std::u16string_view title) override;
    // Ends the main loop once the running callback returns: the program shuts down.
    void Terminate() override;

    // What the item shows now.
    [[nodiscard]] TrayIconState Icon() const { return icon_; }
    [[nodiscard]] const std::u16string& Hint() const { return hint_; }
    [[nodiscard]] const std::array<std::u16string, kTrayMenuItems>& MenuCaptions() const {
        return captions_;
    }
    [[nodiscard]] const std::u16string& Title() const { return title_; }
    // Whether the watcher that runs now accepted the item.
    [[nodiscard]] bool Registered() const { return registered_; }

  private:
    struct Impl;
    LinuxSniTray(LinuxBus& bus, const FileSystem& files, std::u16string data_folder,
                 TrayActions actions, const DebugOutput& debug);

    LinuxBus& bus_;
    const FileSystem& files_;
    std::u16string data_folder_;
    TrayActions actions_;
    const DebugOutput& debug_;
    TrayIconState icon_ = TrayIconState::Plain;
    // The pictures shown: the last state whose file held one.
    std::vector<IconPicture> pixmaps_;
    const char* icon_name_ = kTrayIconName;
    std::u16string hint_;
    std::array<std::u16string, kTrayMenuItems> captions_;
    std::u16string title_;
    std::uint32_t menu_revision_ = 1;
    bool registered_ = false;
    SdBusSlot item_object_;
    SdBusSlot menu_object_;
    SdBusSlot watcher_match_;
    SdBusSlot register_call_;
    // Shared with the posted clicks; cleared when the tray goes.
    std::shared_ptr<LinuxSniTray*> self_;
};

}  // namespace korv::os_linux
