#include "platform/win32/win32_device_notifications.h"

#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <optional>
#include <utility>

#include "platform/win32/hidden_window.h"
#include "platform/win32/unique_handle.h"

namespace korv::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"KorvDeviceNotificationWindow";

// Owns a notification registration.
struct DeviceNotificationTraits : NullIsEmpty<HDEVNOTIFY> {
    static void Close(HDEVNOTIFY notification) { UnregisterDeviceNotification(notification); }
};
using UniqueDeviceNotification = UniqueResource<DeviceNotificationTraits>;

DeviceNotificationFailure LastFailure(std::u16string call) {
    return {std::move(call), GetLastError()};
}

// The interface path of a device-interface broadcast of `interface_class`, read no further than
// the broadcast's own size says; nothing for any other broadcast.
std::optional<std::u16string> InterfacePathOf(LPARAM broadcast_address,
                                              const GUID& interface_class) {
    constexpr std::size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(broadcast_address);
    if (header == nullptr || header->dbch_size < kNameOffset ||
        header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return std::nullopt;
    }
    const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    if (!IsEqualGUID(broadcast->dbcc_classguid, interface_class))
        return std::nullopt;
    const std::size_t capacity = (header->dbch_size - kNameOffset) / sizeof(wchar_t);
    std::u16string path;
    for (std::size_t i = 0; i < capacity && broadcast->dbcc_name[i] != L'\0'; ++i)
        path.push_back(static_cast<char16_t>(broadcast->dbcc_name[i]));
    return path;
}

// What a WM_DEVICECHANGE means for the listener; nothing when it is none of its business.
std::optional<DeviceEvent> EventOf(WPARAM event, LPARAM lparam, const GUID& interface_class) {
    if (event == DBT_DEVNODES_CHANGED)
        return DeviceEvent{DeviceEventKind::NodesChanged, {}};
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return std::nullopt;
    std::optional<std::u16string> path = InterfacePathOf(lparam, interface_class);
    if (!path)
        return std::nullopt;
    const DeviceEventKind kind =
        event == DBT_DEVICEARRIVAL ? DeviceEventKind::Arrival : DeviceEventKind::Removal;
    return DeviceEvent{kind, std::move(*path)};
}

class Win32DeviceNotificationRegistration : public DeviceNotificationRegistration {
  public:
    Win32DeviceNotificationRegistration(HWND window, const GUID& interface_class,
                                        DeviceChangeListener& listener)
        : window_(window), interface_class_(interface_class), listener_(listener) {
        SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Win32DeviceNotificationRegistration() override {
        // No callback once the destruction has begun; the notification goes before the window.
        SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, 0);
    }
    Win32DeviceNotificationRegistration(const Win32DeviceNotificationRegistration&) = delete;
    Win32DeviceNotificationRegistration& operator=(const Win32DeviceNotificationRegistration&) =
        delete;

    [[nodiscard]] std::optional<DeviceNotificationFailure> RequestNotifications() {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interface_class_;
        notification_.Reset(
            RegisterDeviceNotificationW(window_.Get(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
        if (!notification_)
            return LastFailure(u"RegisterDeviceNotificationW");
        return std::nullopt;
    }

    [[nodiscard]] bool PostNodesChanged() override {
        return PostMessageW(window_.Get(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, -1) != FALSE;
    }

    void Deliver(WPARAM event, LPARAM lparam) {
        if (const std::optional<DeviceEvent> device_event =
                EventOf(event, lparam, interface_class_))
            listener_.OnDeviceEvent(*device_event);
    }

  private:
    UniqueWindow window_;
    GUID interface_class_;
    DeviceChangeListener& listener_;
    UniqueDeviceNotification notification_;
};

// TRUE grants a query broadcast (anything but BROADCAST_QUERY_DENY does).
LRESULT CALLBACK NotificationWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DEVICECHANGE) {
        auto* registration = reinterpret_cast<Win32DeviceNotificationRegistration*>(
            GetWindowLongPtrW(window, GWLP_USERDATA));
        if (registration != nullptr)
            registration->Deliver(wparam, lparam);
        return TRUE;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// Top-level: a message-only window receives no broadcasts.
HWND CreateNotificationWindow() {
    return CreateHiddenWindow(kWindowClass, NotificationWindowProc, HiddenWindowKind::kTopLevel);
}

}  // namespace

std::u16string GuidText(const GUID& guid) {
    constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text = u"{";
    const auto append = [&](std::uint32_t value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
            text.push_back(kDigits[(value >> shift) & 0xF]);
    };
    append(guid.Data1, 8);
    text.push_back(u'-');
    append(guid.Data2, 4);
    text.push_back(u'-');
    append(guid.Data3, 4);
    text.push_back(u'-');
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            text.push_back(u'-');
        append(guid.Data4[i], 2);
    }
    text.push_back(u'}');
    return text;
}

std::u16string Win32DeviceNotifications::InterfaceClassName() const {
    return GuidText(interface_class_);
}

DeviceNotificationStart Win32DeviceNotifications::Register(DeviceChangeListener& listener) {
    const HWND window = CreateNotificationWindow();
    if (window == nullptr)
        return {nullptr, LastFailure(u"CreateWindowExW")};
    auto registration =
        std::make_unique<Win32DeviceNotificationRegistration>(window, interface_class_, listener);
    std::optional<DeviceNotificationFailure> failure = registration->RequestNotifications();
    return {std::move(registration), std::move(failure)};
}

}  // namespace korv::win32
