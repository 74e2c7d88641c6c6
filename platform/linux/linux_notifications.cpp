#include "platform/linux/linux_notifications.h"

#include <cstdint>
#include <string>

#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

constexpr std::int32_t kServerChosenTimeout = -1;
constexpr std::uint32_t kNewNotification = 0;

// The answer (the notification's number, or an error when no service runs) is of no use: the
// trace line is written already.
int DropAnswer(sd_bus_message*, void*, sd_bus_error*) {
    return 0;
}

}  // namespace

void LinuxNotifications::ShowError(std::u16string_view text, std::u16string_view caption) {
    trace_.ShowError(text, caption);
    static_cast<void>(Send(text, caption));
}

bool LinuxNotifications::Send(std::u16string_view text, std::u16string_view caption) {
    if (!bus_.Connected())
        return false;
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus_.Get(), &raw, kNotificationsBusName,
                                       kNotificationsObjectPath, kNotificationsInterface,
                                       "Notify") < 0)
        return false;
    const SdBusMessage call(raw);
    const std::string sender = Utf8FromUtf16(title_());
    const std::string summary = Utf8FromUtf16(caption);
    const std::string body = Utf8FromUtf16(text);
    // The slot is the bus's own (floating): the answer may come after this object is gone.
    const bool sent =
        sd_bus_message_append(call.get(), "susssasa{sv}i", sender.c_str(), kNewNotification,
                              kNotificationIcon, summary.c_str(), body.c_str(), 0, 0,
                              kServerChosenTimeout) >= 0 &&
        sd_bus_call_async(bus_.Get(), nullptr, call.get(), DropAnswer, nullptr, 0) >= 0;
    bus_.Refresh();
    return sent;
}

}  // namespace korv::os_linux
