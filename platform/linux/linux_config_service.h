#pragma once
// The configuration program's object on the session bus (names in bus_names.h), as the
// stand-in configuration program serves it: every call from the monitor becomes one log line,
// the same line the Windows stand-in writes for the message the Windows monitor sends ("7040
// UM_PROFILE_SWITCHED wParam=2 lParam=0"), and the profile switch is answered at once.
//
// Threads: the main loop's thread; the log runs there.

#include <functional>
#include <memory>
#include <string_view>

#include "platform/linux/linux_bus.h"

namespace korv::os_linux {

class LinuxConfigService {
  public:
    using Log = std::function<void(std::string_view line)>;

    // Puts the object on the bus; the name is not asked for yet (see OwnName). Null when the
    // connection refuses the object.
    [[nodiscard]] static std::unique_ptr<LinuxConfigService> Create(LinuxBus& bus, Log log);
    LinuxConfigService(const LinuxConfigService&) = delete;
    LinuxConfigService& operator=(const LinuxConfigService&) = delete;

    // Asks for the configuration program's bus name; AlreadyOwned when another one runs.
    [[nodiscard]] BusNameResult OwnName();

  private:
    LinuxConfigService(LinuxBus& bus, Log log) : bus_(bus), log_(std::move(log)) {}

    static int OnProfileSwitched(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnDeviceEvent(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnMonitorExit(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnShow(sd_bus_message* call, void* self, sd_bus_error* error);

    LinuxBus& bus_;
    Log log_;
    SdBusSlot object_;
};

}  // namespace korv::os_linux
