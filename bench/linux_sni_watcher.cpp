// The panel's side of the tray for the Linux benches (bench/linux_startup.sh, bench/linux_idle.sh):
// owns org.kde.StatusNotifierWatcher on the session bus, says a host is there, takes
// RegisterStatusNotifierItem (a bus name, or an object path of the caller's connection, as
// items send either), emits StatusNotifierItemRegistered and, when the item's connection goes,
// StatusNotifierItemUnregistered, and reads each new item's properties once as a panel shows
// it. Each event is one line on standard output, stamped with CLOCK_MONOTONIC in milliseconds:
//
//   <ms> watching
//   <ms> registered <service>
//   <ms> shown <service> <property count> properties, Status=<status>
//   <ms> unregistered <service>
//
// Ends on SIGTERM or SIGINT. Exit codes: 0 ended by a signal, 2 no session bus, 3 the name is
// owned already.
//
//   linux_sni_watcher

#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kWatcherInterface[] = "org.kde.StatusNotifierWatcher";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kDefaultItemPath[] = "/StatusNotifierItem";

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct EventUnref {
    void operator()(sd_event* event) const { sd_event_unref(event); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

double NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void Log(const std::string& line) {
    std::printf("%.3f %s\n", NowMs(), line.c_str());
    std::fflush(stdout);
}

class Watcher {
  public:
    explicit Watcher(sd_bus* bus) : bus_(bus) {}

    [[nodiscard]] int Export() {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", OnRegisterItem, 0),
            SD_BUS_METHOD("RegisterStatusNotifierHost", "s", "", OnRegisterHost, 0),
            SD_BUS_PROPERTY("RegisteredStatusNotifierItems", "as", GetItems, 0,
                            SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
            SD_BUS_PROPERTY("IsStatusNotifierHostRegistered", "b", GetHostRegistered, 0,
                            SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("ProtocolVersion", "i", GetProtocolVersion, 0,
                            SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_SIGNAL("StatusNotifierItemRegistered", "s", 0),
            SD_BUS_SIGNAL("StatusNotifierItemUnregistered", "s", 0),
            SD_BUS_SIGNAL("StatusNotifierHostRegistered", "", 0),
            SD_BUS_VTABLE_END};
        sd_bus_slot* slot = nullptr;
        int result =
            sd_bus_add_object_vtable(bus_, &slot, kWatcherPath, kWatcherInterface, vtable, this);
        if (result < 0)
            return result;
        object_.reset(slot);
        result =
            sd_bus_match_signal(bus_, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameOwnerChanged", OnOwnerChanged, this);
        if (result < 0)
            return result;
        owners_.reset(slot);
        return sd_bus_request_name(bus_, kWatcherName, 0);
    }

  private:
    // The item's connection and object path.
    struct Item {
        std::string connection;
        std::string path;
    };

    static Watcher& Self(void* self) { return *static_cast<Watcher*>(self); }

    static int OnRegisterItem(sd_bus_message* call, void* self, sd_bus_error* error) {
        const char* argument = nullptr;
        const int read = sd_bus_message_read(call, "s", &argument);
        if (read < 0)
            return read;
        const std::string sender = sd_bus_message_get_sender(call);
        const bool is_path = argument[0] == '/';
        if (!is_path && argument[0] == '\0')
            return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "an empty service");
        const Item item{is_path ? sender : std::string(argument),
                        is_path ? std::string(argument) : std::string(kDefaultItemPath)};
        const std::string service = item.connection + item.path;
        Watcher& watcher = Self(self);
        // The reply goes out first: the item's call returns as soon as it is registered.
        const int replied = sd_bus_reply_method_return(call, "");
        if (watcher.items_.emplace(service, Item{sender, item.path}).second) {
            Log("registered " + service);
            static_cast<void>(sd_bus_emit_signal(watcher.bus_, kWatcherPath, kWatcherInterface,
                                                 "StatusNotifierItemRegistered", "s",
                                                 service.c_str()));
            watcher.Show(service, item);
        }
        return replied;
    }

    static int OnRegisterHost(sd_bus_message* call, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(call, "");
    }

    static int GetItems(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                        void* self, sd_bus_error*) {
        int result = sd_bus_message_open_container(reply, 'a', "s");
        for (const auto& [service, item] : Self(self).items_) {
            if (result >= 0)
                result = sd_bus_message_append(reply, "s", service.c_str());
        }
        return result < 0 ? result : sd_bus_message_close_container(reply);
    }

    static int GetHostRegistered(sd_bus*, const char*, const char*, const char*,
                                 sd_bus_message* reply, void*, sd_bus_error*) {
        return sd_bus_message_append(reply, "b", 1);
    }

    static int GetProtocolVersion(sd_bus*, const char*, const char*, const char*,
                                  sd_bus_message* reply, void*, sd_bus_error*) {
        return sd_bus_message_append(reply, "i", 0);
    }

    // As a panel does once an item is there: all of its properties in one call.
    void Show(const std::string& service, const Item& item) {
        auto* context = new std::string(service);
        const int called =
            sd_bus_call_method_async(bus_, nullptr, item.connection.c_str(), item.path.c_str(),
                                     "org.freedesktop.DBus.Properties", "GetAll", OnProperties,
                                     context, "s", kItemInterface);
        if (called < 0) {
            Log("unshown " + service + " (the call could not be sent)");
            delete context;
        }
    }

    static int OnProperties(sd_bus_message* reply, void* context, sd_bus_error*) {
        const std::unique_ptr<std::string> service(static_cast<std::string*>(context));
        if (sd_bus_message_is_method_error(reply, nullptr)) {
            Log("unshown " + *service + " (" + sd_bus_message_get_error(reply)->name + ")");
            return 0;
        }
        int count = 0;
        std::string status = "(none)";
        if (sd_bus_message_enter_container(reply, 'a', "{sv}") >= 0) {
            while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
                const char* name = nullptr;
                const char* value = nullptr;
                if (sd_bus_message_read(reply, "s", &name) >= 0 && std::string(name) == "Status" &&
                    sd_bus_message_read(reply, "v", "s", &value) >= 0) {
                    status = value;
                } else {
                    sd_bus_message_skip(reply, "v");
                }
                sd_bus_message_exit_container(reply);
                ++count;
            }
        }
        Log("shown " + *service + " " + std::to_string(count) + " properties, Status=" + status);
        return 0;
    }

    // An item whose connection left the bus is gone.
    static int OnOwnerChanged(sd_bus_message* signal, void* self, sd_bus_error*) {
        const char* name = nullptr;
        const char* old_owner = nullptr;
        const char* new_owner = nullptr;
        if (sd_bus_message_read(signal, "sss", &name, &old_owner, &new_owner) < 0 ||
            new_owner[0] != '\0')
            return 0;
        Watcher& watcher = Self(self);
        for (auto at = watcher.items_.begin(); at != watcher.items_.end();) {
            if (at->second.connection != old_owner) {
                ++at;
                continue;
            }
            Log("unregistered " + at->first);
            static_cast<void>(sd_bus_emit_signal(watcher.bus_, kWatcherPath, kWatcherInterface,
                                                 "StatusNotifierItemUnregistered", "s",
                                                 at->first.c_str()));
            at = watcher.items_.erase(at);
        }
        return 0;
    }

    sd_bus* bus_;
    Slot object_;
    Slot owners_;
    std::map<std::string, Item> items_;  // by the service name the signals carry
};

int Run() {
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGTERM);
    sigaddset(&quit, SIGINT);
    sigprocmask(SIG_BLOCK, &quit, nullptr);
    sd_event* raw_event = nullptr;
    sd_bus* raw_bus = nullptr;
    if (sd_event_default(&raw_event) < 0)
        return 2;
    const std::unique_ptr<sd_event, EventUnref> event(raw_event);
    if (sd_bus_open_user(&raw_bus) < 0) {
        std::fprintf(stderr, "linux_sni_watcher: no session bus\n");
        return 2;
    }
    const std::unique_ptr<sd_bus, BusClose> bus(raw_bus);
    Watcher watcher(bus.get());
    const int exported = watcher.Export();
    if (exported == -EEXIST) {
        std::fprintf(stderr, "linux_sni_watcher: another watcher owns %s\n", kWatcherName);
        return 3;
    }
    if (exported < 0 || sd_bus_attach_event(bus.get(), event.get(), 0) < 0 ||
        sd_event_add_signal(event.get(), nullptr, SIGTERM, nullptr, nullptr) < 0 ||
        sd_event_add_signal(event.get(), nullptr, SIGINT, nullptr, nullptr) < 0) {
        std::fprintf(stderr, "linux_sni_watcher: the bus refused the watcher\n");
        return 2;
    }
    Log("watching");
    sd_event_loop(event.get());
    return 0;
}

}  // namespace

int main() {
    return Run();
}
