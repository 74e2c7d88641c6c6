#pragma once
// Device-interface notifications on Linux, from two sources watched by the main loop:
// - a libudev monitor filtered on the hidraw subsystem: "add" is an arrival and "remove" a
//   removal of the node it names (/dev/hidrawN). It takes the udev daemon's events where one
//   runs, the kernel's own where none does (containers have none). Events lost to a full socket
//   give one Arrival without a path;
// - inotify on the folder of the simulated interfaces' sockets: a socket file that appears is
//   an arrival, one that is removed a removal, with the socket's full file name (the control
//   sockets of the simulated mouse, NAME-control, count too: one more arrival restarts the
//   core's re-open delay and changes nothing else). Lost events are made up by looking at the
//   folder again; a folder that is removed is made again and watched again.
// No threads, no timers: the loop wakes only for an event.
//
// Threads: construction, Register, the registration and every callback on the loop's thread.

#include <string>

#include "platform/linux/linux_main_loop.h"
#include "ports/device_notifications.h"

namespace korv::os_linux {

// Whose hidraw events the udev monitor takes.
enum class UdevEvents : std::uint8_t {
    Automatic,   // the udev daemon's when one runs (its control socket exists), else the kernel's
    FromDaemon,  // the "udev" source: events the daemon has processed, so the node exists
    FromKernel,  // the "kernel" source: the kernel's own, for a system without a udev daemon
};

// The source Automatic stands for on this system now.
[[nodiscard]] UdevEvents RunningUdevEvents();

class LinuxDeviceNotifications : public DeviceNotifications {
  public:
    // `socket_folder`: the simulated interfaces' folder (DefaultSocketFolder of
    // linux_socket_hid.h, or a test's own), created readable by its owner only when missing;
    // empty: no folder is watched. The loop outlives every registration.
    LinuxDeviceNotifications(LinuxMainLoop& loop, std::string socket_folder,
                             UdevEvents udev_events = UdevEvents::Automatic);

    // "hidraw", the subsystem whose nodes the notices name.
    [[nodiscard]] std::u16string InterfaceClassName() const override;

    // Both sources; when one cannot be started the other still reports, and `failure` names the
    // first call that failed with its errno.
    [[nodiscard]] DeviceNotificationStart Register(DeviceChangeListener& listener) override;

  private:
    LinuxMainLoop& loop_;
    std::string socket_folder_;
    UdevEvents udev_events_;
};

}  // namespace korv::os_linux
