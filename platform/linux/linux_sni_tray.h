#pragma once
// The tray on a Linux desktop: a StatusNotifierItem on the monitor's own bus connection, with
// its menu (Config, About hidden, Exit) served over com.canonical.dbusmenu. A panel that hosts
// such items finds it through org.kde.StatusNotifierWatcher: once shown, the item registers
// with the watcher that runs, with one that appears later, and again when another program takes
// the watcher's name over (a panel restarted). Nothing polls: the watcher's name owner is
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
#include <string_view>
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
    // Puts the item and its menu on the bus, not yet registered (see Show). The icon files are
    // read through `files` from `data_folder` (ending in a separator). Null when the connection
    // refuses the objects.
    [[nodiscard]] static std::unique_ptr<LinuxSniTray> Create(LinuxBus& bus,
                                                              const FileSystem& files,
                                                              std::u16string data_folder,
                                                              TrayActions actions,
                                                              const DebugOutput& debug);
    ~LinuxSniTray() override;
    LinuxSniTray(const LinuxSniTray&) = delete;
    LinuxSniTray& operator=(const LinuxSniTray&) = delete;

    // Registers the item with the watcher that runs, waiting a moment for its answer, and from
    // now on with every watcher that takes the name. False when the bus refuses the watch of the
    // name.
    [[nodiscard]] bool Show();

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
    LinuxSniTray(LinuxBus& bus, const FileSystem& files, std::u16string data_folder,
                 TrayActions actions, const DebugOutput& debug);

    // The bus's handlers; `self` is the tray.
    static int ItemProperty(sd_bus* bus, const char* path, const char* interface,
                            const char* property, sd_bus_message* reply, void* self,
                            sd_bus_error* error);
    static int OnActivate(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnContextMenu(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnScroll(sd_bus_message* call, void* self, sd_bus_error* error);
    static int MenuProperty(sd_bus* bus, const char* path, const char* interface,
                            const char* property, sd_bus_message* reply, void* self,
                            sd_bus_error* error);
    static int OnGetLayout(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnGetGroupProperties(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnGetProperty(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnEvent(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnEventGroup(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnAboutToShow(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnAboutToShowGroup(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnWatcherOwnerChanged(sd_bus_message* signal, void* self, sd_bus_error* error);
    static int OnRegistered(sd_bus_message* reply, void* self, sd_bus_error* error);

    void Register();
    void AwaitFirstAnswer();
    // Takes the watcher's answer to a registration: null when it took the item.
    void Answered(const sd_bus_error* error);
    // Runs the action from the main loop, after the handler that received the click returns.
    void Post(std::function<void()> TrayActions::*action);
    // Whether `id` names a menu item (0, the root, included).
    [[nodiscard]] static bool KnownItem(std::int32_t id);
    // Handles one menu event; false for an unknown item.
    bool MenuEvent(std::int32_t id, std::string_view event);
    int AppendMenuItem(sd_bus_message* reply, std::int32_t id, std::int32_t depth,
                       const std::vector<std::string>& names) const;
    int AppendItemProperties(sd_bus_message* reply, std::int32_t id,
                             const std::vector<std::string>& names) const;
    void Emit(const char* path, const char* interface, const char* member);

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
    bool awaiting_answer_ = false;  // a registration has left and is not answered yet
    bool shown_ = false;
    SdBusSlot item_object_;
    SdBusSlot menu_object_;
    SdBusSlot watcher_match_;
    SdBusSlot register_call_;
    // Shared with the posted clicks; cleared when the tray goes.
    std::shared_ptr<LinuxSniTray*> self_;
};

}  // namespace korv::os_linux
