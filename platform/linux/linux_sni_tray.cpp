#include "platform/linux/linux_sni_tray.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

constexpr std::uint64_t kIconFileLimit = 1 << 20;
constexpr std::uint32_t kMenuVersion = 3;
constexpr std::int32_t kRootId = 0;
constexpr std::size_t kAboutPosition = 1;  // the item the Windows tray never shows either
constexpr char kUnknownItemError[] = "org.freedesktop.DBus.Error.InvalidArgs";
// How long the first registration waits for the watcher's answer before the start goes on.
constexpr std::chrono::milliseconds kFirstRegistrationWait{500};

LinuxSniTray& Self(void* self) {
    return *static_cast<LinuxSniTray*>(self);
}

// The dbusmenu label of a Windows caption: "&" marks the mnemonic there ("&&" a plain "&"), "_"
// marks it here ("__" a plain "_").
std::string MenuLabel(std::u16string_view caption) {
    std::string label;
    const std::string text = Utf8FromUtf16(caption);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            label += text[++i] == '&' ? "&" : "_";
            if (text[i] != '&')
                label += text[i];
        } else {
            label += text[i] == '_' ? "__" : std::string(1, text[i]);
        }
    }
    return label;
}

// Position of a menu item's identifier in the port's order, or the item count for none.
std::size_t Position(std::int32_t id) {
    const auto found = std::find(kTrayMenuItemIds.begin(), kTrayMenuItemIds.end(), id);
    return static_cast<std::size_t>(found - kTrayMenuItemIds.begin());
}

// Whether a property is asked for: an empty list asks for all of them.
bool Wanted(const std::vector<std::string>& names, std::string_view name) {
    return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

// Reads an "as" argument.
int ReadNames(sd_bus_message* message, std::vector<std::string>& names) {
    char** strv = nullptr;
    const int read = sd_bus_message_read_strv(message, &strv);
    if (read < 0)
        return read;
    for (char** name = strv; name != nullptr && *name != nullptr; ++name) {
        names.emplace_back(*name);
        free(*name);
    }
    free(strv);
    return read;
}

// A group call names a few of the menu's four items; longer lists are refused whole, never
// answered item by item.
constexpr std::size_t kGroupLimit = 64;

// Reads an "ai" argument of at most kGroupLimit identifiers: each one once, in the order first
// given. -E2BIG for a longer list.
int ReadIds(sd_bus_message* message, std::vector<std::int32_t>& ids) {
    const void* data = nullptr;
    std::size_t size = 0;
    const int read = sd_bus_message_read_array(message, 'i', &data, &size);
    if (read < 0)
        return read;
    const std::size_t count = size / sizeof(std::int32_t);
    if (count > kGroupLimit)
        return -E2BIG;
    for (std::size_t i = 0; i < count; ++i) {
        std::int32_t id = 0;
        std::memcpy(&id, static_cast<const std::uint8_t*>(data) + i * sizeof id, sizeof id);
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    }
    return read;
}

// Reads the events of an EventGroup call: at most kGroupLimit of them (-E2BIG beyond). The
// names point into the call.
int ReadEvents(sd_bus_message* call,
               std::vector<std::pair<std::int32_t, std::string_view>>& events) {
    int result = sd_bus_message_enter_container(call, 'a', "(isvu)");
    while (result >= 0 && (result = sd_bus_message_enter_container(call, 'r', "isvu")) > 0) {
        if (events.size() == kGroupLimit)
            return -E2BIG;
        std::int32_t id = 0;
        const char* event = nullptr;
        result = sd_bus_message_read(call, "is", &id, &event);
        if (result >= 0)
            result = sd_bus_message_skip(call, "vu");
        if (result >= 0)
            result = sd_bus_message_exit_container(call);
        if (result >= 0)
            events.emplace_back(id, event);
    }
    return result >= 0 ? sd_bus_message_exit_container(call) : result;
}

// The error of a group call's arguments: a named one for a list beyond kGroupLimit.
int GroupError(sd_bus_error* error, int result) {
    if (result != -E2BIG)
        return result;
    return sd_bus_error_setf(error, SD_BUS_ERROR_LIMITS_EXCEEDED, "More than %zu menu items",
                             kGroupLimit);
}

int AppendIds(sd_bus_message* reply, const std::vector<std::int32_t>& ids) {
    return sd_bus_message_append_array(reply, 'i', ids.data(), ids.size() * sizeof(std::int32_t));
}

// One dictionary entry {sv} of a string or a boolean.
int AppendEntry(sd_bus_message* reply, const char* name, const std::string& value) {
    return sd_bus_message_append(reply, "{sv}", name, "s", value.c_str());
}
int AppendEntry(sd_bus_message* reply, const char* name, bool value) {
    return sd_bus_message_append(reply, "{sv}", name, "b", value ? 1 : 0);
}

// a(iiay): each picture's width, height and ARGB bytes.
int AppendPixmaps(sd_bus_message* reply, const std::vector<IconPicture>& pictures) {
    int result = sd_bus_message_open_container(reply, 'a', "(iiay)");
    for (const IconPicture& picture : pictures) {
        if (result >= 0)
            result = sd_bus_message_open_container(reply, 'r', "iiay");
        if (result >= 0)
            result = sd_bus_message_append(reply, "ii", static_cast<std::int32_t>(picture.width),
                                           static_cast<std::int32_t>(picture.height));
        if (result >= 0)
            result =
                sd_bus_message_append_array(reply, 'y', picture.argb.data(), picture.argb.size());
        if (result >= 0)
            result = sd_bus_message_close_container(reply);
    }
    return result >= 0 ? sd_bus_message_close_container(reply) : result;
}

// (sa(iiay)ss): no icon of its own, the hint's first line as the title, the rest below it.
int AppendToolTip(sd_bus_message* reply, std::u16string_view hint) {
    const std::size_t line_end = hint.find(u'\n');
    const std::string title = Utf8FromUtf16(hint.substr(0, line_end));
    const std::string text = line_end == std::u16string_view::npos
                                 ? std::string()
                                 : Utf8FromUtf16(hint.substr(line_end + 1));
    int result = sd_bus_message_open_container(reply, 'r', "sa(iiay)ss");
    if (result >= 0)
        result = sd_bus_message_append(reply, "s", "");
    if (result >= 0)
        result = AppendPixmaps(reply, {});
    if (result >= 0)
        result = sd_bus_message_append(reply, "ss", title.c_str(), text.c_str());
    return result >= 0 ? sd_bus_message_close_container(reply) : result;
}

int UnknownItem(sd_bus_error* error, std::int32_t id) {
    return sd_bus_error_setf(error, kUnknownItemError, "No menu item %d", static_cast<int>(id));
}

}  // namespace

LinuxSniTray::LinuxSniTray(LinuxBus& bus, const FileSystem& files, std::u16string data_folder,
                           TrayActions actions, const DebugOutput& debug)
    : bus_(bus),
      files_(files),
      data_folder_(std::move(data_folder)),
      actions_(std::move(actions)),
      debug_(debug),
      self_(std::make_shared<LinuxSniTray*>(this)) {}

std::unique_ptr<LinuxSniTray> LinuxSniTray::Create(LinuxBus& bus, const FileSystem& files,
                                                   std::u16string data_folder, TrayActions actions,
                                                   const DebugOutput& debug) {
    static const sd_bus_vtable item[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("Category", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Id", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Title", "s", ItemProperty, 0, 0),
        SD_BUS_PROPERTY("Status", "s", ItemProperty, 0, 0),
        SD_BUS_PROPERTY("WindowId", "i", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("IconName", "s", ItemProperty, 0, 0),
        SD_BUS_PROPERTY("IconPixmap", "a(iiay)", ItemProperty, 0, 0),
        SD_BUS_PROPERTY("OverlayIconName", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("AttentionIconName", "s", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", ItemProperty, 0, 0),
        SD_BUS_PROPERTY("ItemIsMenu", "b", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Menu", "o", ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_METHOD("ContextMenu", "ii", "", OnContextMenu, 0),
        SD_BUS_METHOD("Activate", "ii", "", OnActivate, 0),
        SD_BUS_METHOD("SecondaryActivate", "ii", "", OnActivate, 0),
        SD_BUS_METHOD("Scroll", "is", "", OnScroll, 0),
        SD_BUS_SIGNAL("NewTitle", "", 0),
        SD_BUS_SIGNAL("NewIcon", "", 0),
        SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
        SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
        SD_BUS_SIGNAL("NewToolTip", "", 0),
        SD_BUS_SIGNAL("NewStatus", "s", 0),
        SD_BUS_VTABLE_END};
    static const sd_bus_vtable menu[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("Version", "u", MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("TextDirection", "s", MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Status", "s", MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("IconThemePath", "as", MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", OnGetLayout, 0),
        SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", OnGetGroupProperties, 0),
        SD_BUS_METHOD("GetProperty", "is", "v", OnGetProperty, 0),
        SD_BUS_METHOD("Event", "isvu", "", OnEvent, 0),
        SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", OnEventGroup, 0),
        SD_BUS_METHOD("AboutToShow", "i", "b", OnAboutToShow, 0),
        SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", OnAboutToShowGroup, 0),
        SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
        SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
        SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
        SD_BUS_VTABLE_END};
    std::unique_ptr<LinuxSniTray> tray(
        new LinuxSniTray(bus, files, std::move(data_folder), std::move(actions), debug));
    sd_bus_slot* item_slot = nullptr;
    if (sd_bus_add_object_vtable(bus.Get(), &item_slot, kTrayItemObjectPath, kTrayItemInterface,
                                 item, tray.get()) < 0)
        return nullptr;
    tray->item_object_.reset(item_slot);
    sd_bus_slot* menu_slot = nullptr;
    if (sd_bus_add_object_vtable(bus.Get(), &menu_slot, kTrayMenuObjectPath, kTrayMenuInterface,
                                 menu, tray.get()) < 0)
        return nullptr;
    tray->menu_object_.reset(menu_slot);
    return tray;
}

LinuxSniTray::~LinuxSniTray() {
    *self_ = nullptr;
}

// The match is sent before the first registration: a watcher that starts between the two is
// seen by its signal.
bool LinuxSniTray::Show() {
    if (shown_)
        return true;
    const std::string match = std::string(
                                  "type='signal',sender='org.freedesktop.DBus',"
                                  "path='/org/freedesktop/DBus',"
                                  "interface='org.freedesktop.DBus',"
                                  "member='NameOwnerChanged',arg0='") +
                              kTrayWatcherBusName + "'";
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match_async(bus_.Get(), &slot, match.c_str(), OnWatcherOwnerChanged, nullptr,
                               this) < 0)
        return false;
    watcher_match_.reset(slot);
    shown_ = true;
    Register();
    AwaitFirstAnswer();
    return true;
}

// The first registration's answer is awaited before the program goes on with its start-up,
// whose work would otherwise hold up the watcher and the bus on a busy machine. The wait serves
// the connection as the loop would, since a watcher may read the item before it answers. One
// that has not answered in time is not waited for; its answer is taken whenever it comes.
void LinuxSniTray::AwaitFirstAnswer() {
    if (!ServeBusUntil(
            bus_.Get(), [this] { return !awaiting_answer_; }, kFirstRegistrationWait) &&
        awaiting_answer_)
        debug_.Trace(u"Tray icon: the panel has not answered yet; it shows the item once it does");
    bus_.Refresh();
}

void LinuxSniTray::Register() {
    registered_ = false;
    const char* unique_name = nullptr;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_get_unique_name(bus_.Get(), &unique_name) < 0 ||
        sd_bus_call_method_async(bus_.Get(), &slot, kTrayWatcherBusName, kTrayWatcherObjectPath,
                                 kTrayWatcherInterface, "RegisterStatusNotifierItem", OnRegistered,
                                 this, "s", unique_name) < 0) {
        debug_.Trace(u"Tray icon cannot be added");
        return;
    }
    register_call_.reset(slot);
    awaiting_answer_ = true;
    bus_.Refresh();
}

int LinuxSniTray::OnRegistered(sd_bus_message* reply, void* self, sd_bus_error*) {
    Self(self).Answered(sd_bus_message_get_error(reply));
    return 0;
}

void LinuxSniTray::Answered(const sd_bus_error* error) {
    awaiting_answer_ = false;
    registered_ = error == nullptr;
    if (registered_)
        debug_.Trace(u"Tray icon added");
    else if (sd_bus_error_has_names(error, SD_BUS_ERROR_SERVICE_UNKNOWN,
                                    SD_BUS_ERROR_NAME_HAS_NO_OWNER))
        debug_.Trace(u"Tray icon cannot be added yet; trying again until it can");
    else
        debug_.Trace(u"Tray icon cannot be added: " + Utf16FromUtf8(error->name));
}

// A new owner of the watcher's name forgets the items of the old one: register with it again.
int LinuxSniTray::OnWatcherOwnerChanged(sd_bus_message* signal, void* self, sd_bus_error*) {
    LinuxSniTray& tray = Self(self);
    const char* name = nullptr;
    const char* old_owner = nullptr;
    const char* new_owner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &old_owner, &new_owner) < 0 ||
        std::strcmp(name, kTrayWatcherBusName) != 0)
        return 0;
    if (new_owner[0] != '\0')
        tray.Register();
    else
        tray.registered_ = false;
    return 0;
}

void LinuxSniTray::Post(std::function<void()> TrayActions::*action) {
    const std::weak_ptr<LinuxSniTray*> self = self_;
    const bool posted = bus_.Loop().PostTask([self, action] {
        const auto cell = self.lock();
        if (!cell || *cell == nullptr)
            return;
        // A copy: the action may end the program and with it the tray.
        const std::function<void()> run = (*cell)->actions_.*action;
        if (run)
            run();
    });
    if (!posted)
        debug_.Trace(u"Tray click lost: the main loop takes no task");
}

int LinuxSniTray::OnActivate(sd_bus_message* call, void* self, sd_bus_error*) {
    Self(self).Post(&TrayActions::config);
    return sd_bus_reply_method_return(call, "");
}

// The menu is the panel's to show; the item has no menu of its own to pop up.
int LinuxSniTray::OnContextMenu(sd_bus_message* call, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(call, "");
}

int LinuxSniTray::OnScroll(sd_bus_message* call, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(call, "");
}

int LinuxSniTray::ItemProperty(sd_bus*, const char*, const char*, const char* property,
                               sd_bus_message* reply, void* self, sd_bus_error*) {
    const LinuxSniTray& tray = Self(self);
    const std::string_view name = property;
    if (name == "Category")
        return sd_bus_message_append(reply, "s", "Hardware");
    if (name == "Id")
        return sd_bus_message_append(reply, "s", kTrayItemId);
    if (name == "Title")
        return sd_bus_message_append(reply, "s", Utf8FromUtf16(tray.title_).c_str());
    if (name == "Status")
        return sd_bus_message_append(reply, "s", "Active");
    if (name == "WindowId")
        return sd_bus_message_append(reply, "i", 0);
    if (name == "IconName")
        return sd_bus_message_append(reply, "s", tray.icon_name_);
    if (name == "IconPixmap")
        return AppendPixmaps(reply, tray.pixmaps_);
    if (name == "ToolTip")
        return AppendToolTip(reply, tray.hint_);
    if (name == "ItemIsMenu")
        return sd_bus_message_append(reply, "b", 0);
    if (name == "Menu")
        return sd_bus_message_append(reply, "o", kTrayMenuObjectPath);
    return sd_bus_message_append(reply, "s", "");  // the overlay and attention icons: none
}

int LinuxSniTray::MenuProperty(sd_bus*, const char*, const char*, const char* property,
                               sd_bus_message* reply, void*, sd_bus_error*) {
    const std::string_view name = property;
    if (name == "Version")
        return sd_bus_message_append(reply, "u", kMenuVersion);
    if (name == "TextDirection")
        return sd_bus_message_append(reply, "s", "ltr");
    if (name == "Status")
        return sd_bus_message_append(reply, "s", "normal");
    return sd_bus_message_append(reply, "as", 0);  // IconThemePath: the theme's own
}

bool LinuxSniTray::KnownItem(std::int32_t id) {
    return id == kRootId || Position(id) < kTrayMenuItems;
}

int LinuxSniTray::AppendItemProperties(sd_bus_message* reply, std::int32_t id,
                                       const std::vector<std::string>& names) const {
    int result = sd_bus_message_open_container(reply, 'a', "{sv}");
    const std::size_t position = Position(id);
    if (id == kRootId) {
        if (result >= 0 && Wanted(names, "children-display"))
            result = AppendEntry(reply, "children-display", std::string("submenu"));
    } else if (position < kTrayMenuItems) {
        if (result >= 0 && Wanted(names, "label"))
            result = AppendEntry(reply, "label", MenuLabel(captions_[position]));
        if (result >= 0 && Wanted(names, "enabled"))
            result = AppendEntry(reply, "enabled", true);
        if (result >= 0 && Wanted(names, "visible"))
            result = AppendEntry(reply, "visible", position != kAboutPosition);
    }
    return result >= 0 ? sd_bus_message_close_container(reply) : result;
}

// (ia{sv}av): the item, its properties and, down to `depth` levels (-1: all), its children.
int LinuxSniTray::AppendMenuItem(sd_bus_message* reply, std::int32_t id, std::int32_t depth,
                                 const std::vector<std::string>& names) const {
    int result = sd_bus_message_open_container(reply, 'r', "ia{sv}av");
    if (result >= 0)
        result = sd_bus_message_append(reply, "i", id);
    if (result >= 0)
        result = AppendItemProperties(reply, id, names);
    if (result >= 0)
        result = sd_bus_message_open_container(reply, 'a', "v");
    if (id == kRootId && depth != 0) {
        for (const std::int32_t child : kTrayMenuItemIds) {
            if (result >= 0)
                result = sd_bus_message_open_container(reply, 'v', "(ia{sv}av)");
            if (result >= 0)
                result = AppendMenuItem(reply, child, depth - 1, names);
            if (result >= 0)
                result = sd_bus_message_close_container(reply);
        }
    }
    if (result >= 0)
        result = sd_bus_message_close_container(reply);
    return result >= 0 ? sd_bus_message_close_container(reply) : result;
}

int LinuxSniTray::OnGetLayout(sd_bus_message* call, void* self, sd_bus_error* error) {
    const LinuxSniTray& tray = Self(self);
    std::int32_t parent = 0;
    std::int32_t depth = 0;
    std::vector<std::string> names;
    int result = sd_bus_message_read(call, "ii", &parent, &depth);
    if (result >= 0)
        result = ReadNames(call, names);
    if (result < 0)
        return result;
    if (!KnownItem(parent))
        return UnknownItem(error, parent);
    sd_bus_message* raw = nullptr;
    result = sd_bus_message_new_method_return(call, &raw);
    if (result < 0)
        return result;
    const SdBusMessage reply(raw);
    result = sd_bus_message_append(reply.get(), "u", tray.menu_revision_);
    if (result >= 0)
        result = tray.AppendMenuItem(reply.get(), parent, depth, names);
    return result >= 0 ? sd_bus_send(nullptr, reply.get(), nullptr) : result;
}

int LinuxSniTray::OnGetGroupProperties(sd_bus_message* call, void* self, sd_bus_error* error) {
    const LinuxSniTray& tray = Self(self);
    std::vector<std::int32_t> ids;
    std::vector<std::string> names;
    int result = ReadIds(call, ids);
    if (result >= 0)
        result = ReadNames(call, names);
    if (result < 0)
        return GroupError(error, result);
    if (ids.empty())
        ids.assign(kTrayMenuItemIds.begin(), kTrayMenuItemIds.end());
    sd_bus_message* raw = nullptr;
    result = sd_bus_message_new_method_return(call, &raw);
    if (result < 0)
        return result;
    const SdBusMessage reply(raw);
    result = sd_bus_message_open_container(reply.get(), 'a', "(ia{sv})");
    for (const std::int32_t id : ids) {
        if (!KnownItem(id))
            continue;
        if (result >= 0)
            result = sd_bus_message_open_container(reply.get(), 'r', "ia{sv}");
        if (result >= 0)
            result = sd_bus_message_append(reply.get(), "i", id);
        if (result >= 0)
            result = tray.AppendItemProperties(reply.get(), id, names);
        if (result >= 0)
            result = sd_bus_message_close_container(reply.get());
    }
    if (result >= 0)
        result = sd_bus_message_close_container(reply.get());
    return result >= 0 ? sd_bus_send(nullptr, reply.get(), nullptr) : result;
}

int LinuxSniTray::OnGetProperty(sd_bus_message* call, void* self, sd_bus_error* error) {
    const LinuxSniTray& tray = Self(self);
    std::int32_t id = 0;
    const char* name = nullptr;
    const int read = sd_bus_message_read(call, "is", &id, &name);
    if (read < 0)
        return read;
    const std::size_t position = Position(id);
    if (position >= kTrayMenuItems)
        return UnknownItem(error, id);
    const std::string_view property = name;
    if (property == "label")
        return sd_bus_reply_method_return(call, "v", "s",
                                          MenuLabel(tray.captions_[position]).c_str());
    if (property == "enabled" || property == "visible")
        return sd_bus_reply_method_return(
            call, "v", "b", property == "enabled" || position != kAboutPosition ? 1 : 0);
    return sd_bus_error_setf(error, kUnknownItemError, "No property %s", name);
}

// Clicks on Config and Exit run their actions; other events (hovered, opened, closed) and About
// change nothing.
bool LinuxSniTray::MenuEvent(std::int32_t id, std::string_view event) {
    if (!KnownItem(id))
        return false;
    if (event != "clicked")
        return true;
    const std::size_t position = Position(id);
    if (position == 0)
        Post(&TrayActions::config);
    else if (position == kTrayMenuItems - 1)
        Post(&TrayActions::exit);
    return true;
}

int LinuxSniTray::OnEvent(sd_bus_message* call, void* self, sd_bus_error* error) {
    std::int32_t id = 0;
    const char* event = nullptr;
    int result = sd_bus_message_read(call, "is", &id, &event);
    if (result >= 0)
        result = sd_bus_message_skip(call, "vu");
    if (result < 0)
        return result;
    if (!Self(self).MenuEvent(id, event))
        return UnknownItem(error, id);
    return sd_bus_reply_method_return(call, "");
}

// Runs the events once the whole call has been read; an item clicked more than once in one
// call runs its action once. Answers the identifiers it does not know; when it knows none of
// them, an error.
int LinuxSniTray::OnEventGroup(sd_bus_message* call, void* self, sd_bus_error* error) {
    LinuxSniTray& tray = Self(self);
    std::vector<std::pair<std::int32_t, std::string_view>> events;
    int result = ReadEvents(call, events);
    if (result < 0)
        return GroupError(error, result);
    std::vector<std::int32_t> unknown;
    std::array<bool, kTrayMenuItems> clicked{};
    for (const auto& [id, event] : events) {
        if (!KnownItem(id)) {
            if (std::find(unknown.begin(), unknown.end(), id) == unknown.end())
                unknown.push_back(id);
            continue;
        }
        if (event == "clicked" && Position(id) < kTrayMenuItems) {
            if (std::exchange(clicked[Position(id)], true))
                continue;
        }
        tray.MenuEvent(id, event);
    }
    const bool none_known =
        std::ranges::none_of(events, [](const auto& event) { return KnownItem(event.first); });
    if (!events.empty() && none_known)
        return UnknownItem(error, unknown.front());
    sd_bus_message* raw = nullptr;
    result = sd_bus_message_new_method_return(call, &raw);
    if (result < 0)
        return result;
    const SdBusMessage reply(raw);
    result = AppendIds(reply.get(), unknown);
    return result >= 0 ? sd_bus_send(nullptr, reply.get(), nullptr) : result;
}

// The menu is always up to date: nothing to refresh before it shows.
int LinuxSniTray::OnAboutToShow(sd_bus_message* call, void*, sd_bus_error* error) {
    std::int32_t id = 0;
    const int read = sd_bus_message_read(call, "i", &id);
    if (read < 0)
        return read;
    if (!KnownItem(id))
        return UnknownItem(error, id);
    return sd_bus_reply_method_return(call, "b", 0);
}

int LinuxSniTray::OnAboutToShowGroup(sd_bus_message* call, void*, sd_bus_error* error) {
    std::vector<std::int32_t> ids;
    const int read = ReadIds(call, ids);
    if (read < 0)
        return GroupError(error, read);
    std::vector<std::int32_t> unknown;
    std::copy_if(ids.begin(), ids.end(), std::back_inserter(unknown),
                 [](std::int32_t id) { return !KnownItem(id); });
    sd_bus_message* raw = nullptr;
    int result = sd_bus_message_new_method_return(call, &raw);
    if (result < 0)
        return result;
    const SdBusMessage reply(raw);
    result = AppendIds(reply.get(), {});
    if (result >= 0)
        result = AppendIds(reply.get(), unknown);
    return result >= 0 ? sd_bus_send(nullptr, reply.get(), nullptr) : result;
}

// Before Show no panel knows the item: there is nobody to tell, and a signal would only delay
// the registration behind it.
void LinuxSniTray::Emit(const char* path, const char* interface, const char* member) {
    if (!shown_)
        return;
    if (sd_bus_emit_signal(bus_.Get(), path, interface, member, "") < 0)
        debug_.Trace(u"Tray signal " + Utf16FromUtf8(member) + u" cannot be sent");
    bus_.Refresh();
}

// A missing file keeps the icon shown so far without a word, as a file that holds no picture
// does with one: an installation may leave the pictures out.
void LinuxSniTray::SetIcon(TrayIconState state) {
    const std::u16string path =
        data_folder_ + (state == TrayIconState::Muted ? kTrayMutedIconFile : kTrayIconFile);
    FileRead file = files_.ReadWholeFile(path, kIconFileLimit);
    if (file.status == FileRead::Status::Missing)
        return;
    std::vector<IconPicture> pictures = file.status == FileRead::Status::Read
                                            ? DecodeIconFile(file.bytes)
                                            : std::vector<IconPicture>();
    if (pictures.empty()) {
        debug_.Trace(u"Tray icon file " + path + u" is not an icon");
        return;
    }
    icon_ = state;
    pixmaps_ = std::move(pictures);
    icon_name_ = state == TrayIconState::Muted ? kTrayMutedIconName : kTrayIconName;
    Emit(kTrayItemObjectPath, kTrayItemInterface, "NewIcon");
}

void LinuxSniTray::SetHint(std::u16string_view hint) {
    if (hint == hint_)
        return;
    hint_ = hint;
    Emit(kTrayItemObjectPath, kTrayItemInterface, "NewToolTip");
}

// The host reads the new labels from the signal; those that read the layout again see its new
// revision.
void LinuxSniTray::SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& captions) {
    if (captions == captions_)
        return;
    captions_ = captions;
    ++menu_revision_;
    if (!shown_)
        return;  // no panel knows the menu yet
    sd_bus_message* raw = nullptr;
    int result = sd_bus_message_new_signal(bus_.Get(), &raw, kTrayMenuObjectPath,
                                           kTrayMenuInterface, "ItemsPropertiesUpdated");
    const SdBusMessage signal(raw);
    if (result >= 0)
        result = sd_bus_message_open_container(signal.get(), 'a', "(ia{sv})");
    for (std::size_t i = 0; i < kTrayMenuItems; ++i) {
        if (result >= 0)
            result = sd_bus_message_open_container(signal.get(), 'r', "ia{sv}");
        if (result >= 0)
            result = sd_bus_message_append(signal.get(), "i", kTrayMenuItemIds[i]);
        if (result >= 0)
            result = AppendItemProperties(signal.get(), kTrayMenuItemIds[i], {"label"});
        if (result >= 0)
            result = sd_bus_message_close_container(signal.get());
    }
    if (result >= 0)
        result = sd_bus_message_close_container(signal.get());
    if (result >= 0)
        result = sd_bus_message_append(signal.get(), "a(ias)", 0);
    if (result < 0 || sd_bus_send(bus_.Get(), signal.get(), nullptr) < 0 ||
        sd_bus_emit_signal(bus_.Get(), kTrayMenuObjectPath, kTrayMenuInterface, "LayoutUpdated",
                           "ui", menu_revision_, kRootId) < 0)
        debug_.Trace(u"Tray menu update cannot be sent");
    bus_.Refresh();
}

void LinuxSniTray::SetTitle(std::u16string_view title) {
    if (title == title_)
        return;
    title_ = title;
    Emit(kTrayItemObjectPath, kTrayItemInterface, "NewTitle");
}

void LinuxSniTray::Terminate() {
    bus_.Loop().Quit(0);
}

}  // namespace korv::os_linux
