#pragma once
// What the HID devices on a descriptor share (a hidraw node, a simulator's socket): the failure
// kind of an errno, the outcomes of a read, and the wait in poll for the device or for a stop
// request. Each device keeps its own operation names in the failures it reports.
//
// Threads: functions without state, for any thread. A stop event is signalled from any thread
// while the device that waits on it lives.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/linux/unique_fd.h"
#include "ports/hid_interfaces.h"

namespace korv::os_linux {

using DeviceClock = std::chrono::steady_clock;

// The kind of failure an errno of open, read, write, send, recv, connect, poll or ioctl on a
// device descriptor means.
[[nodiscard]] HidFailureKind HidFailureKindOf(int error);
[[nodiscard]] HidFailure HidFailureOf(std::string_view operation, int error);

[[nodiscard]] HidReadResult ReadOutcome(HidReadResult::Status status, HidFailure failure);
// A read that CancelRead ended; `operation` is where the device noticed.
[[nodiscard]] HidReadResult CancelledRead(std::string_view operation);
[[nodiscard]] HidReadResult ReportRead(std::size_t size);

// A non-blocking eventfd that stays readable once signalled (nobody reads it): invalid, with
// errno set, when the system has none to give.
[[nodiscard]] UniqueFd NewStopEvent();
// Makes the stop event readable; nothing when `stop` is invalid (a device never opened).
void SignalStop(const UniqueFd& stop);

struct DeviceWait {
    enum class How : std::uint8_t { Ready, Stopped, TimedOut, Failed };
    How how = How::Failed;
    short revents = 0;  // Ready: the device's (ready, hung up or failed)
    int error = 0;      // Failed: poll's errno
};

// Waits in poll until `device` has one of `events` or `stop` is signalled, until `deadline` when
// there is one. A signalled stop wins over a ready device.
[[nodiscard]] DeviceWait WaitForDeviceOrStop(int device, short events, int stop,
                                             std::optional<DeviceClock::time_point> deadline);

}  // namespace korv::os_linux
