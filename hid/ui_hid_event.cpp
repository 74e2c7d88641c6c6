#include "hid/ui_hid_event.h"

namespace korv {

TuiHIDEvent::TuiHIDEvent(DeviceNotifications& notifications, MainLoop& main_loop,
                         std::u16string_view interface_class)
    : usb_guid_(interface_class.empty() ? kHidInterfaceClass : interface_class),
      registration_(notifications.Register(usb_guid_, listener_)),
      timer_to_start_monitor_(main_loop.CreateTimer([this] { TimerToStartMonitorTimer(); })) {
    if (registration_) {
        // Not being able to queue it only loses the one early OnDeviceChange.
        static_cast<void>(registration_->PostNodesChanged());
    }
    timer_to_start_monitor_->Start(kStartupArrivalDelay);
}

TuiHIDEvent::~TuiHIDEvent() {
    owner_.Check();
}

bool TuiHIDEvent::Registered() const {
    return registration_ && registration_->Registered();
}

void TuiHIDEvent::WMDeviceChange(std::uint32_t event, std::optional<std::uint32_t> device_type) {
    owner_.Check();
    const bool interface_broadcast = device_type == kDeviceTypeInterface;
    switch (static_cast<DeviceChangeEvent>(event)) {
        case DeviceChangeEvent::Arrival:
            if (interface_broadcast) {
                Raise(OnDeviceArrival);
            }
            break;
        case DeviceChangeEvent::RemoveComplete:
            if (interface_broadcast) {
                Raise(OnDeviceRemove);
            }
            break;
        case DeviceChangeEvent::NodesChanged:
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
