#pragma once
// The configuration program's side of the monitor's object (bus_names.h): it asks the running
// monitor to reload what was stored, or to toggle the microphone, and waits for the answer, so
// that the monitor has acted when a call returns Done. Nothing starts a monitor on the bus's
// behalf: a name without an owner is a monitor that does not run.
//
// Threads: the thread that owns the connection. The calls block for at most the answer time;
// the client runs no main loop.

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/linux/linux_bus.h"

namespace korv::os_linux {

// How long the configuration program waits for the monitor's answer.
inline constexpr std::chrono::milliseconds kMonitorAnswerTime{5000};

enum class MonitorAnswer : std::uint8_t {
    Done,       // the monitor has done what it was asked
    NoMonitor,  // no monitor runs (or there is no session bus)
    NoAnswer,   // it runs, but did not answer in time, or refused
};

class LinuxMonitorClient {
  public:
    // A null connection finds no monitor.
    explicit LinuxMonitorClient(SdBusConnection connection,
                                std::chrono::milliseconds answer_time = kMonitorAnswerTime)
        : connection_(std::move(connection)), answer_time_(answer_time) {}

    [[nodiscard]] MonitorAnswer ReloadProfiles(std::int32_t profile_id);
    [[nodiscard]] MonitorAnswer ReloadSettings();
    [[nodiscard]] MonitorAnswer ToggleMicrophone();
    // The monitor's MicrophoneMuted property; nothing when it cannot be read.
    [[nodiscard]] std::optional<bool> MicrophoneMuted();

  private:
    // A call of the monitor's object, or null.
    [[nodiscard]] SdBusMessage NewCall(const char* interface, const char* member) const;
    // Sends a call (null: it could not be built) and waits for the reply.
    [[nodiscard]] MonitorAnswer Exchange(const SdBusMessage& call, SdBusMessage& reply);

    SdBusConnection connection_;
    std::chrono::milliseconds answer_time_;
};

}  // namespace korv::os_linux
