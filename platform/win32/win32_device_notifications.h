#pragma once
// Device-interface notifications on Windows: a hidden top-level window of its own (a
// message-only window receives no broadcasts) registered with RegisterDeviceNotificationW for
// one interface class, its WM_DEVICECHANGE messages handed to the listener.

#include <windows.h>

#include <memory>
#include <optional>
#include <string_view>

#include "ports/device_notifications.h"

namespace korv::win32 {

// A GUID in registry text form, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" with hex digits in
// either case; nothing when the text has any other form.
[[nodiscard]] std::optional<GUID> ParseGuidText(std::u16string_view text);

class Win32DeviceNotifications : public DeviceNotifications {
  public:
    // The registration's window lives on the calling thread, which must run a message loop;
    // the listener must outlive the registration. A class text that is not a GUID leaves the
    // window unregistered.
    [[nodiscard]] std::unique_ptr<DeviceNotificationRegistration> Register(
        std::u16string_view interface_class, DeviceChangeListener& listener) override;
};

}  // namespace korv::win32
