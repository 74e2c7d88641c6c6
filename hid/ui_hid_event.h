#pragma once
// TuiHIDEvent: tells its owner when a HID device interface arrives or is removed, and announces
// one arrival 1500 ms after it is created, so that the owner opens its device at start-up the
// same way as after a plug-in.
//
// Threads: construction, destruction and every event on the main thread.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "base/thread_affinity.h"
#include "ports/debug_output.h"
#include "ports/device_notifications.h"
#include "ports/main_loop.h"

namespace korv {

inline constexpr std::chrono::milliseconds kStartupArrivalDelay{1500};

class TuiHIDEvent {
  public:
    using TNotifyEvent = std::function<void()>;

    // Registers for the platform's HID device notices, posts itself one NodesChanged event and
    // starts the one-shot start-up timer. A registration the platform refuses is traced; the
    // start-up arrival comes all the same.
    TuiHIDEvent(DeviceNotifications& notifications, MainLoop& main_loop, const DebugOutput& debug);
    // Ends the notifications (unregisters) and the start-up timer.
    ~TuiHIDEvent();
    TuiHIDEvent(const TuiHIDEvent&) = delete;
    TuiHIDEvent& operator=(const TuiHIDEvent&) = delete;

    // The interface class listened to, as the platform names it.
    [[nodiscard]] const std::u16string& FUsbGuid() const { return usb_guid_; }
    // Whether the platform accepted the notification request; when not, only the start-up
    // arrival and the self-posted NodesChanged are raised.
    [[nodiscard]] bool Registered() const { return registered_; }

    // One device event: an arrival raises OnDeviceArrival, a removal OnDeviceRemove, NodesChanged
    // OnDeviceChange.
    void WMDeviceChange(const DeviceEvent& event);

    TNotifyEvent OnDeviceArrival;
    TNotifyEvent OnDeviceRemove;
    TNotifyEvent OnDeviceChange;

  private:
    class Listener : public DeviceChangeListener {
      public:
        explicit Listener(TuiHIDEvent& owner) : owner_(owner) {}
        void OnDeviceEvent(const DeviceEvent& event) override { owner_.WMDeviceChange(event); }

      private:
        TuiHIDEvent& owner_;
    };

    void Register(DeviceNotifications& notifications, const DebugOutput& debug);
    void TimerToStartMonitorTimer();
    // By value: a handler may assign another handler to the event it runs from.
    static void Raise(TNotifyEvent event);

    ThreadAffinity owner_;
    std::u16string usb_guid_;
    Listener listener_{*this};
    bool registered_ = false;
    // Declared after the listener, so that it unregisters before the listener goes.
    std::unique_ptr<DeviceNotificationRegistration> registration_;
    std::unique_ptr<OneShotTimer> timer_to_start_monitor_;
};

}  // namespace korv
