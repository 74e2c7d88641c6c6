#pragma once
// Device-interface notifications on Linux, from two sources watched by the main loop:
// - where a udev daemon runs, a libudev monitor of its events filtered on the hidraw subsystem:
//   "add" is an arrival and "remove" a removal of the node it names (/dev/hidrawN); events lost
//   to a full socket give one Arrival without a path. Where none runs (containers have none),
//   inotify on /dev, where the kernel makes and removes the hidraw nodes itself: a hidrawN
//   character device that appears is an arrival, one that goes a removal;
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

// Where the notices of hidraw nodes come from.
enum class HidrawEvents : std::uint8_t {
    Automatic,  // the udev daemon's where one runs (its control socket exists), else the folder
    FromUdevDaemon,  // a libudev monitor of the "udev" source: events the daemon has processed
    FromDevFolder,   // inotify on the dev folder, where the kernel makes and removes the nodes
};

// The source Automatic stands for on this system now.
[[nodiscard]] HidrawEvents RunningHidrawEvents();

class LinuxDeviceNotifications : public DeviceNotifications {
  public:
    // `socket_folder`: the simulated interfaces' folder (DefaultSocketFolder of
    // linux_socket_hid.h, or a test's own), created readable by its owner only when missing;
    // empty: no folder is watched. The loop outlives every registration.
    // `hidraw_events` and `dev_folder` (where hidraw nodes are made) are the system's own by
    // default; tests move them.
    LinuxDeviceNotifications(LinuxMainLoop& loop, std::string socket_folder,
                             HidrawEvents hidraw_events = HidrawEvents::Automatic,
                             std::string dev_folder = "/dev");

    // "hidraw", the subsystem whose nodes the notices name.
    [[nodiscard]] std::u16string InterfaceClassName() const override;

    // Both sources; when one cannot be started the other still reports, and `failure` names the
    // first call that failed with its errno.
    [[nodiscard]] DeviceNotificationStart Register(DeviceChangeListener& listener) override;

  private:
    LinuxMainLoop& loop_;
    std::string socket_folder_;
    HidrawEvents hidraw_events_;
    std::string dev_folder_;
};

}  // namespace korv::os_linux
