#include "platform/linux/linux_monitor_client.h"

#include "platform/linux/bus_names.h"

namespace korv::os_linux {

SdBusMessage LinuxMonitorClient::NewCall(const char* interface, const char* member) const {
    sd_bus_message* raw = nullptr;
    if (!connection_ || sd_bus_message_new_method_call(connection_.get(), &raw, kMonitorBusName,
                                                       kMonitorObjectPath, interface, member) < 0)
        return nullptr;
    SdBusMessage call(raw);
    if (sd_bus_message_set_auto_start(call.get(), 0) < 0)
        return nullptr;
    return call;
}

MonitorAnswer LinuxMonitorClient::Exchange(const SdBusMessage& call, SdBusMessage& reply) {
    if (!connection_)
        return MonitorAnswer::NoMonitor;
    if (!call)
        return MonitorAnswer::NoAnswer;
    SdBusError error;
    sd_bus_message* raw = nullptr;
    const int result =
        sd_bus_call(connection_.get(), call.get(), BusTimeout(answer_time_), error.Get(), &raw);
    reply.reset(raw);
    if (result >= 0)
        return MonitorAnswer::Done;
    const bool no_owner = error.Is("org.freedesktop.DBus.Error.ServiceUnknown") ||
                          error.Is("org.freedesktop.DBus.Error.NameHasNoOwner");
    return no_owner || sd_bus_is_open(connection_.get()) <= 0 ? MonitorAnswer::NoMonitor
                                                              : MonitorAnswer::NoAnswer;
}

MonitorAnswer LinuxMonitorClient::ReloadProfiles(std::int32_t profile_id) {
    SdBusMessage call = NewCall(kMonitorInterface, "ReloadProfiles");
    if (call && sd_bus_message_append(call.get(), "i", profile_id) < 0)
        call.reset();
    SdBusMessage reply;
    return Exchange(call, reply);
}

MonitorAnswer LinuxMonitorClient::ReloadSettings() {
    SdBusMessage reply;
    return Exchange(NewCall(kMonitorInterface, "ReloadSettings"), reply);
}

MonitorAnswer LinuxMonitorClient::ToggleMicrophone() {
    SdBusMessage reply;
    return Exchange(NewCall(kMonitorInterface, "ToggleMicrophone"), reply);
}

std::optional<bool> LinuxMonitorClient::MicrophoneMuted() {
    SdBusMessage call = NewCall("org.freedesktop.DBus.Properties", "Get");
    if (call &&
        sd_bus_message_append(call.get(), "ss", kMonitorInterface, kMicrophoneMutedProperty) < 0)
        call.reset();
    SdBusMessage reply;
    int muted = 0;
    if (Exchange(call, reply) != MonitorAnswer::Done ||
        sd_bus_message_enter_container(reply.get(), 'v', "b") <= 0 ||
        sd_bus_message_read(reply.get(), "b", &muted) <= 0)
        return std::nullopt;
    return muted != 0;
}

}  // namespace korv::os_linux
