#pragma once
// Message boxes on a Linux desktop: each becomes a notification of the session's notification
// service (org.freedesktop.Notifications: the application's title as the sender's name, the
// box's caption as the summary, the text as the body, the monitor's icon, the server's own
// time-out), and always the same trace line as in a session without one. The call is sent and never
// waited for: a service that is missing, refuses or hangs costs the main loop nothing, and its
// answer is dropped when it comes (or when sd-bus's time-out for it passes).
//
// Threads: the thread of the bus's main loop.

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/linux/linux_bus.h"
#include "platform/linux/linux_message_boxes.h"
#include "ports/debug_output.h"
#include "ports/message_box.h"

namespace korv::os_linux {

inline constexpr char kNotificationsBusName[] = "org.freedesktop.Notifications";
inline constexpr char kNotificationsObjectPath[] = "/org/freedesktop/Notifications";
inline constexpr char kNotificationsInterface[] = "org.freedesktop.Notifications";
// The named icon the package installs in the hicolor theme.
inline constexpr char kNotificationIcon[] = "korvanth417-monitor";

class LinuxNotifications final : public MessageBoxes {
  public:
    // `title` gives the application's title of the moment (it follows the language). `bus` and
    // `debug` must outlive the object.
    LinuxNotifications(LinuxBus& bus, const DebugOutput& debug,
                       std::function<std::u16string()> title)
        : bus_(bus), trace_(debug), title_(std::move(title)) {}

    // Traces the box, then puts the notification on its way; returns at once.
    void ShowError(std::u16string_view text, std::u16string_view caption) override;

  private:
    [[nodiscard]] bool Send(std::u16string_view text, std::u16string_view caption);

    LinuxBus& bus_;
    TraceMessageBoxes trace_;
    std::function<std::u16string()> title_;
};

}  // namespace korv::os_linux
