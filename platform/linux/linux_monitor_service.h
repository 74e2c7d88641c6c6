#pragma once
// The monitor's object on the session bus (names in bus_names.h): the configuration program's
// reload requests, a microphone toggle for desktop shortcuts and panels, and the microphone's
// mute state as a property whose changes are signalled.
//
// A reload request is answered once the reload has run, so that a configuration program whose
// call returned knows the monitor acts on what it stored. Reload requests that are already
// queued when one arrives are folded into one reload: every caller is answered after it, and
// the last profile identifier is the one recorded. A flood of them costs one reload, and a
// button press queued behind them waits for no more than that.
//
// Threads: the main loop's thread. The requests run there.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/linux_bus.h"

namespace korv::os_linux {

// What the monitor's object asks of the monitor. Any of them may be empty.
struct MonitorRequests {
    std::function<void(std::int32_t profile_id)> reload_profiles;
    std::function<void()> reload_settings;
    std::function<void()> toggle_microphone;
    // The mute state for the property; nothing reads as not muted.
    std::function<std::optional<bool>()> microphone_muted;
};

class LinuxMonitorService {
  public:
    // Puts the object on the bus; the name is not asked for yet (see OwnName). Null when the
    // connection refuses the object.
    [[nodiscard]] static std::unique_ptr<LinuxMonitorService> Create(LinuxBus& bus,
                                                                     MonitorRequests requests);
    // Reload requests still waiting are dropped unanswered; their callers see the connection's
    // end.
    ~LinuxMonitorService();
    LinuxMonitorService(const LinuxMonitorService&) = delete;
    LinuxMonitorService& operator=(const LinuxMonitorService&) = delete;

    // Asks for the monitor's bus name. AlreadyOwned: another monitor runs, and this one should
    // end quietly.
    [[nodiscard]] BusNameResult OwnName();

    // Signals PropertiesChanged with the microphone's new state. False when it could not be
    // sent.
    [[nodiscard]] bool EmitMutedChanged(bool muted);

  private:
    LinuxMonitorService(LinuxBus& bus, MonitorRequests requests);

    static int OnReloadProfiles(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnReloadSettings(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnToggleMicrophone(sd_bus_message* call, void* self, sd_bus_error* error);
    static int GetMicrophoneMuted(sd_bus* bus, const char* path, const char* interface,
                                  const char* property, sd_bus_message* reply, void* self,
                                  sd_bus_error* error);

    // Keeps the call to be answered after the reload, and makes sure one task runs the reloads.
    void QueueReload(sd_bus_message* call);
    void RunQueuedReloads();

    LinuxBus& bus_;
    MonitorRequests requests_;
    SdBusSlot object_;
    std::optional<std::int32_t> queued_profile_id_;
    bool queued_settings_ = false;
    bool reload_task_queued_ = false;
    std::vector<SdBusMessage> waiting_calls_;
    // Shared with the queued task; cleared when the service goes.
    std::shared_ptr<LinuxMonitorService*> self_;
};

}  // namespace korv::os_linux
