#include "platform/linux/linux_config_service.h"

#include <cstdint>
#include <string>
#include <utility>

#include "platform/linux/bus_names.h"

namespace korv::os_linux {
namespace {

// The Windows stand-in's line for a message of the suite.
std::string MessageLine(std::uint32_t number, std::string_view name, std::uint32_t wparam) {
    return std::to_string(number) + " " + std::string(name) + " wParam=" + std::to_string(wparam) +
           " lParam=0";
}

}  // namespace

void LinuxConfigService::Write(std::string_view line) const {
    if (log_)
        log_(line);
}

std::unique_ptr<LinuxConfigService> LinuxConfigService::Create(LinuxBus& bus, Log log,
                                                               MainLoop* main_loop,
                                                               ProfileSwitched profile_switched) {
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD_WITH_ARGS("ProfileSwitched", SD_BUS_ARGS("u", slot), SD_BUS_NO_RESULT,
                                OnProfileSwitched, 0),
        SD_BUS_METHOD_WITH_ARGS("DeviceEvent", SD_BUS_ARGS("u", kind, "u", value), SD_BUS_NO_RESULT,
                                OnDeviceEvent, 0),
        SD_BUS_METHOD("MonitorExit", "", "", OnMonitorExit, 0),
        SD_BUS_METHOD("Show", "", "", OnShow, 0),
        SD_BUS_VTABLE_END};
    std::unique_ptr<LinuxConfigService> service(
        new LinuxConfigService(bus, std::move(log), main_loop, std::move(profile_switched)));
    sd_bus_slot* slot = nullptr;
    // The handlers get the service, which stays put while its object is on the bus.
    if (sd_bus_add_object_vtable(bus.Get(), &slot, kConfigObjectPath, kConfigInterface, vtable,
                                 service.get()) < 0)
        return nullptr;
    service->object_.reset(slot);
    return service;
}

BusNameResult LinuxConfigService::OwnName() {
    const BusNameResult result = RequestBusName(bus_.Get(), kConfigBusName);
    bus_.Refresh();
    return result;
}

int LinuxConfigService::OnProfileSwitched(sd_bus_message* call, void* self, sd_bus_error*) {
    std::uint32_t slot = 0;
    if (const int read = sd_bus_message_read(call, "u", &slot); read < 0)
        return read;
    auto& service = *static_cast<LinuxConfigService*>(self);
    service.Write(MessageLine(7040, "UM_PROFILE_SWITCHED", slot));
    const int replied = sd_bus_reply_method_return(call, "");
    // The monitor waits for the answer; the switch is acted on once it has it.
    if (service.profile_switched_ && service.main_loop_ != nullptr &&
        !service.main_loop_->PostTask([&service, slot] { service.profile_switched_(slot); }))
        service.Write("the profile switch cannot be acted on: the main loop refused it");
    return replied;
}

int LinuxConfigService::OnDeviceEvent(sd_bus_message* call, void* self, sd_bus_error*) {
    std::uint32_t kind = 0;
    std::uint32_t value = 0;
    if (const int read = sd_bus_message_read(call, "uu", &kind, &value); read < 0)
        return read;
    if (kind == 2) {
        static_cast<LinuxConfigService*>(self)->Write(
            MessageLine(7042, "UM_DEVICE_NOTIFY_2", value));
    } else if (kind == 6) {
        static_cast<LinuxConfigService*>(self)->Write(
            MessageLine(7043, "UM_DEVICE_NOTIFY_6", value));
    } else {
        static_cast<LinuxConfigService*>(self)->Write(
            "DeviceEvent kind=" + std::to_string(kind) +
            " (not an event of the suite) value=" + std::to_string(value));
    }
    return sd_bus_reply_method_return(call, "");
}

int LinuxConfigService::OnMonitorExit(sd_bus_message* call, void* self, sd_bus_error*) {
    static_cast<LinuxConfigService*>(self)->Write(MessageLine(7036, "UM_MONITOR_EXIT", 0));
    return sd_bus_reply_method_return(call, "");
}

// The stand-in has no window of its own to raise; the line is what the Windows stand-in logs
// when the monitor brings its window to the front.
int LinuxConfigService::OnShow(sd_bus_message* call, void* self, sd_bus_error*) {
    static_cast<LinuxConfigService*>(self)->Write("brought to the front");
    return sd_bus_reply_method_return(call, "");
}

}  // namespace korv::os_linux
