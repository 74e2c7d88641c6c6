#pragma once
// A stand-in for a desktop panel's StatusNotifierWatcher: it owns org.kde.StatusNotifierWatcher
// (letting a later watcher take the name over, as a restarted panel does), accepts
// RegisterStatusNotifierItem and reports each registration (the caller's unique name and the
// service it gave) to a callback. The tests and the end-to-end script's helper program run it.
//
// Threads: the loop's thread, as any LinuxBus.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/linux_bus.h"
#include "platform/linux/linux_sni_tray.h"

namespace korv::testing {

class TrayWatcherStandIn {
  public:
    using OnRegistered = std::function<void(const std::string& sender, const std::string& service)>;

    // Null when the object cannot be added or the name cannot be taken.
    [[nodiscard]] static std::unique_ptr<TrayWatcherStandIn> Start(os_linux::LinuxBus& bus,
                                                                   OnRegistered on_registered) {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", OnRegisterItem, 0),
            SD_BUS_METHOD("RegisterStatusNotifierHost", "s", "", OnRegisterHost, 0),
            SD_BUS_PROPERTY("RegisteredStatusNotifierItems", "as", GetItems, 0, 0),
            SD_BUS_PROPERTY("IsStatusNotifierHostRegistered", "b", GetHostRegistered, 0, 0),
            SD_BUS_PROPERTY("ProtocolVersion", "i", GetProtocolVersion, 0, 0),
            SD_BUS_SIGNAL("StatusNotifierItemRegistered", "s", 0),
            SD_BUS_VTABLE_END};
        std::unique_ptr<TrayWatcherStandIn> watcher(
            new TrayWatcherStandIn(bus, std::move(on_registered)));
        sd_bus_slot* slot = nullptr;
        if (sd_bus_add_object_vtable(bus.Get(), &slot, os_linux::kTrayWatcherObjectPath,
                                     os_linux::kTrayWatcherInterface, vtable, watcher.get()) < 0)
            return nullptr;
        watcher->object_.reset(slot);
        const int owned =
            sd_bus_request_name(bus.Get(), os_linux::kTrayWatcherBusName,
                                SD_BUS_NAME_ALLOW_REPLACEMENT | SD_BUS_NAME_REPLACE_EXISTING);
        bus.Refresh();
        return owned >= 0 ? std::move(watcher) : nullptr;
    }

  private:
    TrayWatcherStandIn(os_linux::LinuxBus& bus, OnRegistered on_registered)
        : bus_(bus), on_registered_(std::move(on_registered)) {}

    static int OnRegisterItem(sd_bus_message* call, void* self, sd_bus_error*) {
        auto& watcher = *static_cast<TrayWatcherStandIn*>(self);
        const char* service = nullptr;
        const int read = sd_bus_message_read(call, "s", &service);
        if (read < 0)
            return read;
        const std::string sender = sd_bus_message_get_sender(call);
        watcher.items_.push_back(std::string(service) + os_linux::kTrayItemObjectPath);
        static_cast<void>(sd_bus_emit_signal(
            watcher.bus_.Get(), os_linux::kTrayWatcherObjectPath, os_linux::kTrayWatcherInterface,
            "StatusNotifierItemRegistered", "s", watcher.items_.back().c_str()));
        if (watcher.on_registered_)
            watcher.on_registered_(sender, service);
        return sd_bus_reply_method_return(call, "");
    }
    static int OnRegisterHost(sd_bus_message* call, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(call, "");
    }
    static int GetItems(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                        void* self, sd_bus_error*) {
        const auto& watcher = *static_cast<TrayWatcherStandIn*>(self);
        int result = sd_bus_message_open_container(reply, 'a', "s");
        for (const std::string& item : watcher.items_)
            if (result >= 0)
                result = sd_bus_message_append(reply, "s", item.c_str());
        return result >= 0 ? sd_bus_message_close_container(reply) : result;
    }
    static int GetHostRegistered(sd_bus*, const char*, const char*, const char*,
                                 sd_bus_message* reply, void*, sd_bus_error*) {
        return sd_bus_message_append(reply, "b", 1);
    }
    static int GetProtocolVersion(sd_bus*, const char*, const char*, const char*,
                                  sd_bus_message* reply, void*, sd_bus_error*) {
        return sd_bus_message_append(reply, "i", 0);
    }

    os_linux::LinuxBus& bus_;
    OnRegistered on_registered_;
    std::vector<std::string> items_;
    os_linux::SdBusSlot object_;
};

}  // namespace korv::testing
