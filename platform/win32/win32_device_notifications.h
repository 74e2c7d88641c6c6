#pragma once
// Device-interface notifications on Windows: a hidden top-level window of its own (a
// message-only window receives no broadcasts) registered with RegisterDeviceNotificationW for
// one interface class, the HID class unless told otherwise. Its WM_DEVICECHANGE messages reach
// the listener as arrivals and removals of that class's interfaces, with their device path
// (dbcc_name), and as NodesChanged; other device types, other classes and other events are left
// out.

#include <windows.h>

#include <string>

#include "platform/win32/hid_class.h"
#include "ports/device_notifications.h"

namespace korv::win32 {

// A GUID in registry text form with lower-case digits, "{4d1e55b2-f16f-11cf-...}".
[[nodiscard]] std::u16string GuidText(const GUID& guid);

class Win32DeviceNotifications : public DeviceNotifications {
  public:
    explicit Win32DeviceNotifications(const GUID& interface_class = kHidInterfaceClassGuid)
        : interface_class_(interface_class) {}

    [[nodiscard]] std::u16string InterfaceClassName() const override;
    // The registration's window lives on the calling thread, which must run a message loop.
    [[nodiscard]] DeviceNotificationStart Register(DeviceChangeListener& listener) override;

  private:
    GUID interface_class_;
};

}  // namespace korv::win32
