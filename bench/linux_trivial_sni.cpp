// The floor of the tray's start-up bench (bench/linux_startup.sh): the least a program does to
// show an item in a panel. It connects to the session bus (sd-bus), owns no name, exports a
// minimal org.kde.StatusNotifierItem (an id, a title, a status and an icon name, and Activate)
// at /StatusNotifierItem and registers it with org.kde.StatusNotifierWatcher by its connection's
// unique name, as the monitor does, then says so and waits for SIGTERM or SIGINT with the item
// shown.
//
//   linux_trivial_sni
//
// Exit codes: 0 ended by a signal, 2 no session bus or it refused the item, 3 the watcher
// refused the registration (no watcher runs).

#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cstddef>
#include <cstdio>
#include <memory>

namespace {

constexpr char kItemPath[] = "/StatusNotifierItem";

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct EventUnref {
    void operator()(sd_event* event) const { sd_event_unref(event); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};

// The item's texts; each property's getter is given the address of its own field.
struct ItemTexts {
    const char* category = "ApplicationStatus";
    const char* id = "linux-trivial-sni";
    const char* title = "linux_trivial_sni";
    const char* status = "Active";
    const char* icon_name = "korvanth417-monitor";
};

int Text(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* field,
         sd_bus_error*) {
    return sd_bus_message_append(reply, "s", *static_cast<const char* const*>(field));
}

int Activate(sd_bus_message* call, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(call, "");
}

int Registered(sd_bus_message* reply, void* event, sd_bus_error*) {
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        std::fprintf(stderr, "linux_trivial_sni: the watcher refused the item: %s\n",
                     sd_bus_message_get_error(reply)->name);
        return sd_event_exit(static_cast<sd_event*>(event), 3);
    }
    std::printf("registered\n");
    std::fflush(stdout);
    return 0;
}

int Run() {
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGTERM);
    sigaddset(&quit, SIGINT);
    sigprocmask(SIG_BLOCK, &quit, nullptr);
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("Category", "s", Text, offsetof(ItemTexts, category),
                        SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Id", "s", Text, offsetof(ItemTexts, id), SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Title", "s", Text, offsetof(ItemTexts, title),
                        SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("Status", "s", Text, offsetof(ItemTexts, status),
                        SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_PROPERTY("IconName", "s", Text, offsetof(ItemTexts, icon_name),
                        SD_BUS_VTABLE_PROPERTY_CONST),
        SD_BUS_METHOD("Activate", "ii", "", Activate, 0),
        SD_BUS_VTABLE_END};
    static ItemTexts texts;
    sd_event* raw_event = nullptr;
    sd_bus* raw_bus = nullptr;
    if (sd_event_default(&raw_event) < 0)
        return 2;
    const std::unique_ptr<sd_event, EventUnref> event(raw_event);
    if (sd_bus_open_user(&raw_bus) < 0) {
        std::fprintf(stderr, "linux_trivial_sni: no session bus\n");
        return 2;
    }
    const std::unique_ptr<sd_bus, BusClose> bus(raw_bus);
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(bus.get(), &slot, kItemPath, "org.kde.StatusNotifierItem", vtable,
                                 &texts) < 0) {
        std::fprintf(stderr, "linux_trivial_sni: the item cannot be exported\n");
        return 2;
    }
    const std::unique_ptr<sd_bus_slot, SlotUnref> object(slot);
    const char* unique_name = nullptr;
    if (sd_bus_get_unique_name(bus.get(), &unique_name) < 0 ||
        sd_bus_call_method_async(bus.get(), nullptr, "org.kde.StatusNotifierWatcher",
                                 "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                                 "RegisterStatusNotifierItem", Registered, event.get(), "s",
                                 unique_name) < 0 ||
        sd_bus_attach_event(bus.get(), event.get(), 0) < 0 ||
        sd_event_add_signal(event.get(), nullptr, SIGTERM, nullptr, nullptr) < 0 ||
        sd_event_add_signal(event.get(), nullptr, SIGINT, nullptr, nullptr) < 0) {
        std::fprintf(stderr, "linux_trivial_sni: the bus refused the registration\n");
        return 2;
    }
    return sd_event_loop(event.get());
}

}  // namespace

int main() {
    return Run();
}
