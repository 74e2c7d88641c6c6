#pragma once
// The configuration program's object on the session bus (names in bus_names.h), as the
// stand-in configuration program serves it: every call from the monitor becomes one log line,
// the same line the Windows stand-in writes for the message the Windows monitor sends ("7040
// UM_PROFILE_SWITCHED wParam=2 lParam=0"), and the profile switch is answered at once; what the
// program does about the switch runs afterwards, once the monitor has its answer.
//
// Threads: the main loop's thread; the log runs there.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/linux/linux_bus.h"
#include "ports/main_loop.h"

namespace korv::os_linux {

class LinuxConfigService {
  public:
    using Log = std::function<void(std::string_view line)>;
    using ProfileSwitched = std::function<void(std::uint32_t slot)>;

    // Puts the object on the bus; the name is not asked for yet (see OwnName). Null when the
    // connection refuses the object. `profile_switched`, when given, runs as a task of
    // `main_loop` after each ProfileSwitched call has been answered; the service must then live
    // as long as the loop runs its tasks.
    [[nodiscard]] static std::unique_ptr<LinuxConfigService> Create(
        LinuxBus& bus, Log log, MainLoop* main_loop = nullptr,
        ProfileSwitched profile_switched = {});
    LinuxConfigService(const LinuxConfigService&) = delete;
    LinuxConfigService& operator=(const LinuxConfigService&) = delete;

    // Asks for the configuration program's bus name; AlreadyOwned when another one runs.
    [[nodiscard]] BusNameResult OwnName();

  private:
    LinuxConfigService(LinuxBus& bus, Log log, MainLoop* main_loop, ProfileSwitched switched)
        : bus_(bus),
          log_(std::move(log)),
          main_loop_(main_loop),
          profile_switched_(std::move(switched)) {}
    void Write(std::string_view line) const;

    static int OnProfileSwitched(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnDeviceEvent(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnMonitorExit(sd_bus_message* call, void* self, sd_bus_error* error);
    static int OnShow(sd_bus_message* call, void* self, sd_bus_error* error);

    LinuxBus& bus_;
    Log log_;
    MainLoop* main_loop_;
    ProfileSwitched profile_switched_;
    SdBusSlot object_;
};

}  // namespace korv::os_linux
