#pragma once
// Port: the platform's notices of arriving and removed HID device interfaces. The backend knows
// which interface class that is and how the platform names it; the core sees only what happened
// and to which device.
//
// Threads: registration and every callback on the main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace korv {

enum class DeviceEventKind : std::uint8_t {
    Arrival,       // a HID device interface arrived
    Removal,       // one was removed
    NodesChanged,  // the platform's devices changed (also the notice a registration posts itself)
};

struct DeviceEvent {
    DeviceEventKind kind = DeviceEventKind::NodesChanged;
    std::u16string path;  // the device interface's path; empty for NodesChanged

    bool operator==(const DeviceEvent&) const = default;
};

class DeviceChangeListener {
  public:
    virtual ~DeviceChangeListener() = default;

    virtual void OnDeviceEvent(const DeviceEvent& event) = 0;
};

// A registration; destroying it unregisters and ends the callbacks.
class DeviceNotificationRegistration {
  public:
    virtual ~DeviceNotificationRegistration() = default;

    // Queues a NodesChanged event to the registration itself, delivered later through the main
    // loop as the platform's own events are; false when it could not be queued.
    [[nodiscard]] virtual bool PostNodesChanged() = 0;
};

// A platform call that failed, for a trace line.
struct DeviceNotificationFailure {
    std::u16string call;      // the name of the platform's function that failed
    std::uint32_t error = 0;  // the platform's error code
};

struct DeviceNotificationStart {
    // Receives the registration's own notices even when the platform refused the device
    // notices; null only when not even that is possible.
    std::unique_ptr<DeviceNotificationRegistration> registration;
    // Why the platform's device notices will not come; nothing when they will.
    std::optional<DeviceNotificationFailure> failure;
};

class DeviceNotifications {
  public:
    virtual ~DeviceNotifications() = default;

    // The interface class the notices are for, as the platform names it.
    [[nodiscard]] virtual std::u16string InterfaceClassName() const = 0;

    // Starts the notices for `listener`, which must outlive the registration.
    [[nodiscard]] virtual DeviceNotificationStart Register(DeviceChangeListener& listener) = 0;
};

}  // namespace korv
