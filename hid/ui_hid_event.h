#pragma once
// TuiHIDEvent: tells its owner when a HID device interface arrives or is removed, and announces
// one arrival 1500 ms after it is created, so that the owner opens its device at start-up the
// same way as after a plug-in.
//
// Threads: construction, destruction and every event on the main thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/thread_affinity.h"
#include "ports/device_notifications.h"
#include "ports/main_loop.h"

namespace korv {

// The HID device-interface class in registry text form.
inline constexpr std::u16string_view kHidInterfaceClass = u"{4d1e55b2-f16f-11cf-88cb-001111000030}";
inline constexpr std::chrono::milliseconds kStartupArrivalDelay{1500};

class TuiHIDEvent {
  public:
    using TNotifyEvent = std::function<void()>;

    // Registers for the notifications of `interface_class` (the HID class when empty), posts
    // itself one NodesChanged event and starts the one-shot start-up timer.
    TuiHIDEvent(DeviceNotifications& notifications, MainLoop& main_loop,
                std::u16string_view interface_class = kHidInterfaceClass);
    // Ends the notifications (unregisters) and the start-up timer.
    ~TuiHIDEvent();
    TuiHIDEvent(const TuiHIDEvent&) = delete;
    TuiHIDEvent& operator=(const TuiHIDEvent&) = delete;

    [[nodiscard]] const std::u16string& FUsbGuid() const { return usb_guid_; }
    // Whether the platform accepted the notification request; when not, only the start-up
    // arrival and the self-posted NodesChanged are raised.
    [[nodiscard]] bool Registered() const;

    // One device-change message: arrivals and removals of device interfaces (device type 5) raise
    // OnDeviceArrival and OnDeviceRemove, NodesChanged raises OnDeviceChange; the rest is ignored.
    void WMDeviceChange(std::uint32_t event, std::optional<std::uint32_t> device_type);

    TNotifyEvent OnDeviceArrival;
    TNotifyEvent OnDeviceRemove;
    TNotifyEvent OnDeviceChange;

  private:
    class Listener : public DeviceChangeListener {
      public:
        explicit Listener(TuiHIDEvent& owner) : owner_(owner) {}
        void OnDeviceChange(std::uint32_t event,
                            std::optional<std::uint32_t> device_type) override {
            owner_.WMDeviceChange(event, device_type);
        }

      private:
        TuiHIDEvent& owner_;
    };

    void TimerToStartMonitorTimer();
    // By value: a handler may assign another handler to the event it runs from.
    static void Raise(TNotifyEvent event);

    ThreadAffinity owner_;
    std::u16string usb_guid_;
    Listener listener_{*this};
    // Declared after the listener, so that it unregisters before the listener goes.
    std::unique_ptr<DeviceNotificationRegistration> registration_;
    std::unique_ptr<OneShotTimer> timer_to_start_monitor_;
};

}  // namespace korv
