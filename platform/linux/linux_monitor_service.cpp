#include "platform/linux/linux_monitor_service.h"

#include <utility>

#include "platform/linux/bus_names.h"

namespace korv::os_linux {
namespace {

LinuxMonitorService& Self(void* self) {
    return *static_cast<LinuxMonitorService*>(self);
}

}  // namespace

LinuxMonitorService::LinuxMonitorService(LinuxBus& bus, MonitorRequests requests)
    : bus_(bus),
      requests_(std::move(requests)),
      self_(std::make_shared<LinuxMonitorService*>(this)) {}

std::unique_ptr<LinuxMonitorService> LinuxMonitorService::Create(LinuxBus& bus,
                                                                 MonitorRequests requests) {
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD_WITH_ARGS("ReloadProfiles", SD_BUS_ARGS("i", profile_id), SD_BUS_NO_RESULT,
                                OnReloadProfiles, 0),
        SD_BUS_METHOD("ReloadSettings", "", "", OnReloadSettings, 0),
        SD_BUS_METHOD("ToggleMicrophone", "", "", OnToggleMicrophone, 0),
        SD_BUS_PROPERTY(kMicrophoneMutedProperty, "b", GetMicrophoneMuted, 0,
                        SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
        SD_BUS_VTABLE_END};
    std::unique_ptr<LinuxMonitorService> service(new LinuxMonitorService(bus, std::move(requests)));
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(bus.Get(), &slot, kMonitorObjectPath, kMonitorInterface, vtable,
                                 service.get()) < 0)
        return nullptr;
    service->object_.reset(slot);
    return service;
}

LinuxMonitorService::~LinuxMonitorService() {
    *self_ = nullptr;
    object_.reset();
    waiting_calls_.clear();
}

BusNameResult LinuxMonitorService::OwnName() {
    const BusNameResult result = RequestBusName(bus_.Get(), kMonitorBusName);
    bus_.Refresh();
    return result;
}

bool LinuxMonitorService::EmitMutedChanged(bool muted) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_signal(bus_.Get(), &raw, kMonitorObjectPath,
                                  "org.freedesktop.DBus.Properties", "PropertiesChanged") < 0)
        return false;
    const SdBusMessage signal(raw);
    const int muted_value = muted ? 1 : 0;
    const bool sent = sd_bus_message_append(signal.get(), "sa{sv}as", kMonitorInterface, 1,
                                            kMicrophoneMutedProperty, "b", muted_value, 0) >= 0 &&
                      sd_bus_send(bus_.Get(), signal.get(), nullptr) >= 0;
    bus_.Refresh();
    return sent;
}

int LinuxMonitorService::OnReloadProfiles(sd_bus_message* call, void* self, sd_bus_error*) {
    std::int32_t profile_id = 0;
    const int read = sd_bus_message_read(call, "i", &profile_id);
    if (read < 0)
        return read;
    LinuxMonitorService& service = Self(self);
    service.queued_profile_id_ = profile_id;
    service.QueueReload(call);
    return 1;
}

int LinuxMonitorService::OnReloadSettings(sd_bus_message* call, void* self, sd_bus_error*) {
    LinuxMonitorService& service = Self(self);
    service.queued_settings_ = true;
    service.QueueReload(call);
    return 1;
}

int LinuxMonitorService::OnToggleMicrophone(sd_bus_message* call, void* self, sd_bus_error*) {
    const LinuxMonitorService& service = Self(self);
    if (service.requests_.toggle_microphone)
        service.requests_.toggle_microphone();
    return sd_bus_reply_method_return(call, "");
}

int LinuxMonitorService::GetMicrophoneMuted(sd_bus*, const char*, const char*, const char*,
                                            sd_bus_message* reply, void* self, sd_bus_error*) {
    const LinuxMonitorService& service = Self(self);
    const std::optional<bool> muted =
        service.requests_.microphone_muted ? service.requests_.microphone_muted() : std::nullopt;
    return sd_bus_message_append(reply, "b", muted.value_or(false) ? 1 : 0);
}

// The task runs once the bus has handed over every call that had arrived, so the calls queued
// behind this one are folded into the same reload.
void LinuxMonitorService::QueueReload(sd_bus_message* call) {
    waiting_calls_.emplace_back(sd_bus_message_ref(call));
    if (reload_task_queued_)
        return;
    const std::weak_ptr<LinuxMonitorService*> self = self_;
    reload_task_queued_ = bus_.Loop().PostTask([self] {
        if (const auto cell = self.lock(); cell && *cell != nullptr)
            (*cell)->RunQueuedReloads();
    });
    if (!reload_task_queued_)
        RunQueuedReloads();
}

void LinuxMonitorService::RunQueuedReloads() {
    reload_task_queued_ = false;
    if (const auto profile_id = std::exchange(queued_profile_id_, std::nullopt);
        profile_id && requests_.reload_profiles)
        requests_.reload_profiles(*profile_id);
    if (std::exchange(queued_settings_, false) && requests_.reload_settings)
        requests_.reload_settings();
    // A caller that expects no reply gets none: sd-bus leaves those out.
    for (const SdBusMessage& call : std::exchange(waiting_calls_, {}))
        static_cast<void>(sd_bus_reply_method_return(call.get(), ""));
    bus_.Refresh();
}

}  // namespace korv::os_linux
