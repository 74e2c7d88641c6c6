#include "platform/win32/win32_device_notifications.h"

#include "base/ascii_text.h"

#include <windows.h>

#include <dbt.h>

#include <cstddef>
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

// The hex digits of `text` from `at`, `count` of them, as a number.
std::optional<std::uint32_t> HexNumber(std::u16string_view text, std::size_t at,
                                       std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// The header's device type, for arrivals and removals that carry one.
std::optional<std::uint32_t> DeviceTypeOf(WPARAM event, LPARAM header_address) {
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || header_address == 0)
        return std::nullopt;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(header_address);
    if (header->dbch_size < offsetof(DEV_BROADCAST_HDR, dbch_devicetype) + sizeof(DWORD))
        return std::nullopt;
    return header->dbch_devicetype;
}

class Win32DeviceNotificationRegistration : public DeviceNotificationRegistration {
  public:
    Win32DeviceNotificationRegistration(HWND window, DeviceChangeListener& listener)
        : window_(window), listener_(listener) {
        SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Win32DeviceNotificationRegistration() override {
        // No callback once the destruction has begun; the notification goes before the window.
        SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, 0);
    }
    Win32DeviceNotificationRegistration(const Win32DeviceNotificationRegistration&) = delete;
    Win32DeviceNotificationRegistration& operator=(const Win32DeviceNotificationRegistration&) =
        delete;

    void RequestNotifications(const GUID& interface_class) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interface_class;
        notification_ = std::make_unique<UniqueDeviceNotification>(
            RegisterDeviceNotificationW(window_.Get(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    }

    [[nodiscard]] bool Registered() const override {
        return notification_ != nullptr && notification_->Get() != nullptr;
    }

    [[nodiscard]] bool PostNodesChanged() override {
        return PostMessageW(window_.Get(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, -1) != FALSE;
    }

    void Deliver(WPARAM event, LPARAM header_address) {
        listener_.OnDeviceChange(static_cast<std::uint32_t>(event),
                                 DeviceTypeOf(event, header_address));
    }

  private:
    UniqueWindow window_;
    DeviceChangeListener& listener_;
    std::unique_ptr<UniqueDeviceNotification> notification_;
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

std::optional<GUID> ParseGuidText(std::u16string_view text) {
    // {01234567-0123-0123-0123-0123456789ab}
    if (text.size() != 38 || text[0] != u'{' || text[9] != u'-' || text[14] != u'-' ||
        text[19] != u'-' || text[24] != u'-' || text[37] != u'}') {
        return std::nullopt;
    }
    const auto data1 = HexNumber(text, 1, 8);
    const auto data2 = HexNumber(text, 10, 4);
    const auto data3 = HexNumber(text, 15, 4);
    if (!data1 || !data2 || !data3)
        return std::nullopt;
    GUID guid{*data1, static_cast<std::uint16_t>(*data2), static_cast<std::uint16_t>(*data3), {}};
    constexpr std::size_t kByteOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < 8; ++i) {
        const auto byte = HexNumber(text, kByteOffsets[i], 2);
        if (!byte)
            return std::nullopt;
        guid.Data4[i] = static_cast<std::uint8_t>(*byte);
    }
    return guid;
}

std::unique_ptr<DeviceNotificationRegistration> Win32DeviceNotifications::Register(
    std::u16string_view interface_class, DeviceChangeListener& listener) {
    const HWND window = CreateNotificationWindow();
    if (window == nullptr)
        return nullptr;
    auto registration = std::make_unique<Win32DeviceNotificationRegistration>(window, listener);
    if (const std::optional<GUID> guid = ParseGuidText(interface_class))
        registration->RequestNotifications(*guid);
    return registration;
}

}  // namespace korv::win32
