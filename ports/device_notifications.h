#pragma once
// Port: the platform's device-interface notifications for one interface class (WM_DEVICECHANGE
// on a hidden top-level window on Windows).
//
// Threads: registration and every callback on the main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace korv {

// The device-change events, numbered as WM_DEVICECHANGE numbers them.
enum class DeviceChangeEvent : std::uint32_t {
    NodesChanged = 0x0007,    // DBT_DEVNODES_CHANGED
    Arrival = 0x8000,         // DBT_DEVICEARRIVAL
    RemoveComplete = 0x8004,  // DBT_DEVICEREMOVECOMPLETE
};
// The device type of a broadcast header that names a device interface (DBT_DEVTYP_DEVICEINTERFACE).
inline constexpr std::uint32_t kDeviceTypeInterface = 5;

class DeviceChangeListener {
  public:
    virtual ~DeviceChangeListener() = default;

    // One device-change message: its event number (any value, not only those above) and, for
    // arrivals and removals, the device type of its broadcast header when there is one.
    virtual void OnDeviceChange(std::uint32_t event, std::optional<std::uint32_t> device_type) = 0;
};

// A registration; destroying it unregisters and ends the callbacks.
class DeviceNotificationRegistration {
  public:
    virtual ~DeviceNotificationRegistration() = default;

    // Whether the platform accepted the notification request (the window exists either way).
    [[nodiscard]] virtual bool Registered() const = 0;

    // Queues a NodesChanged event to the registration's own window, as the platform would
    // deliver it; false when it could not be queued.
    [[nodiscard]] virtual bool PostNodesChanged() = 0;
};

class DeviceNotifications {
  public:
    virtual ~DeviceNotifications() = default;

    // Creates the hidden window and asks for the notifications of the interface class (GUID in
    // registry text form, "{4d1e55b2-...}"). Null when not even the window can be created.
    [[nodiscard]] virtual std::unique_ptr<DeviceNotificationRegistration> Register(
        std::u16string_view interface_class, DeviceChangeListener& listener) = 0;
};

}  // namespace korv
