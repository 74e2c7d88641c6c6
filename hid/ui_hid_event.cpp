#include "hid/ui_hid_event.h"

#include "base/decimal_text.h"

namespace korv {

TuiHIDEvent::TuiHIDEvent(DeviceNotifications& notifications, MainLoop& main_loop,
                         const DebugOutput& debug)
    : usb_guid_(notifications.InterfaceClassName()),
      timer_to_start_monitor_(main_loop.CreateTimer([this] { TimerToStartMonitorTimer(); })) {
    Register(notifications, debug);
    timer_to_start_monitor_->Start(kStartupArrivalDelay);
}

TuiHIDEvent::~TuiHIDEvent() {
    owner_.Check();
}

// Without the platform's notices a device plugged in later goes unnoticed until the next start,
// so a refusal is worth a trace line; the start-up arrival opens the device either way.
void TuiHIDEvent::Register(DeviceNotifications& notifications, const DebugOutput& debug) {
    DeviceNotificationStart start = notifications.Register(listener_);
    registration_ = std::move(start.registration);
    registered_ = registration_ != nullptr && !start.failure;
    if (start.failure) {
        debug.Trace(u"Device notifications: " + start.failure->call + u" failed, error " +
                    DecimalText(start.failure->error) +
                    u"; devices plugged in later are not noticed");
    }
    if (registration_) {
        // Not being able to queue it only loses the one early OnDeviceChange.
        static_cast<void>(registration_->PostNodesChanged());
    }
}

void TuiHIDEvent::WMDeviceChange(const DeviceEvent& event) {
    owner_.Check();
    switch (event.kind) {
        case DeviceEventKind::Arrival:
            Raise(OnDeviceArrival);
            break;
        case DeviceEventKind::Removal:
            Raise(OnDeviceRemove);
            break;
        case DeviceEventKind::NodesChanged:
            Raise(OnDeviceChange);
            break;
    }
}

void TuiHIDEvent::TimerToStartMonitorTimer() {
    timer_to_start_monitor_->Stop();
    Raise(OnDeviceArrival);
}

void TuiHIDEvent::Raise(TNotifyEvent event) {
    if (event) {
        event();
    }
}

}  // namespace korv
