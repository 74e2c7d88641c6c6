#pragma once
// Sends device events to the udev daemon's netlink group (2) as the daemon does: the libudev
// monitor message, a "libudev" header in front of the NUL-separated properties, with the hash
// of the subsystem that a monitor's socket filter checks. Only root may send to the group, and
// a monitor receives only what is sent in its own network namespace: the tests send in a
// private namespace (RunInPrivateNetworkNamespace), so nothing reaches the host's programs.
//
// Threads: a sender is used by the thread that created it; its socket belongs to that thread's
// network namespace.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/unique_fd.h"

namespace korv::os_linux::test {

// The properties of a hidraw node's event: ACTION, DEVPATH, SUBSYSTEM, DEVNAME, SEQNUM, MAJOR,
// MINOR.
[[nodiscard]] std::vector<std::string> HidrawEventProperties(std::string_view action, int number,
                                                             std::uint64_t sequence_number);

// The message a udev daemon sends for these properties.
[[nodiscard]] std::string UdevMonitorMessage(const std::vector<std::string>& properties);

class UdevEventSender {
  public:
    UdevEventSender();

    [[nodiscard]] bool Valid() const { return socket_.Valid(); }
    // Sends bytes as they are to the udev group; false with errno when refused.
    [[nodiscard]] bool SendRaw(std::string_view message) const;
    [[nodiscard]] bool Send(const std::vector<std::string>& properties) const {
        return SendRaw(UdevMonitorMessage(properties));
    }

  private:
    UniqueFd socket_;
};

// Runs `body` on a thread of its own that first moves to a new network namespace, so that its
// netlink sockets see only each other; the rest of the process keeps its namespace. 0 when it
// ran, else the errno of unshare (EPERM without CAP_SYS_ADMIN).
[[nodiscard]] int RunInPrivateNetworkNamespace(const std::function<void()>& body);

}  // namespace korv::os_linux::test
