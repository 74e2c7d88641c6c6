#pragma once
// Fake hidraw nodes for the tests of the Linux HID backend, served by the kernel's FUSE: a
// private temporary root holding a sysfs tree under "sys/" (class links, uevent files, report
// descriptors, the USB interface number and device release above each HID device) and, mounted
// at "dev/", a FUSE file system whose file "hidrawN" behaves like a hidraw node:
// - one read returns one input report, truncated to the read's size; an empty queue gives
//   EAGAIN with O_NONBLOCK, else the read waits for the next report (or EINTR on a signal);
// - every open file has its own queue of the reports pushed after it was opened (at most 64,
//   later ones dropped, as hidraw does), and poll/epoll report POLLIN while it is not empty;
// - writes of 2 to 16384 bytes are recorded as output reports (POLLOUT, unless held);
// - HIDIOCGFEATURE answers with the report set for its identifier (EPIPE, a stall, for one
//   without) and HIDIOCSFEATURE records the report and answers later gets with it;
// - unplugging wakes every poll with POLLERR | POLLHUP; queued reports are still read, then
//   reads fail with EIO and writes and ioctls with ENODEV; the node and its sysfs entries are
//   gone (ENOENT on open) until a replug, which does not revive files opened before.
// The session runs on a thread of its own inside the test program. Destroying the object stops
// it, unmounts and removes the root, also after a failed assertion.
//
// Threads: every member may be called from any thread.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korv::test {

using Report = std::vector<std::uint8_t>;

// What sysfs tells of one node's device.
struct FakeHidrawIds {
    std::uint16_t bus = 0x0003;  // BUS_USB; any other bus has no USB folders above the device
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::optional<std::uint8_t> interface_number;  // bInterfaceNumber; nullopt: no such file
    std::optional<std::uint16_t> bcd_device;       // bcdDevice; nullopt: no such file
    std::optional<std::uint8_t> interfaces;        // bNumInterfaces; nullopt: no such file
    std::string usb_port = "1-1";  // the USB device's folder: interfaces of one device share it
};

class FakeHidraw {
  public:
    FakeHidraw();
    ~FakeHidraw();
    FakeHidraw(const FakeHidraw&) = delete;
    FakeHidraw& operator=(const FakeHidraw&) = delete;

    // Whether the root exists and the FUSE file system is mounted and served.
    [[nodiscard]] bool Valid() const;
    [[nodiscard]] const std::string& Root() const;

    // Adds node "hidrawN", N counting from 0 in the order of the calls, plugged in.
    int AddDevice(Report descriptor, const FakeHidrawIds& ids);
    // <root>/dev/hidrawN, the file the backend opens.
    [[nodiscard]] std::string NodePath(int node) const;
    // The HID device's sysfs folder (uevent, report_descriptor) and the node's own.
    [[nodiscard]] std::string SysfsDevicePath(int node) const;
    [[nodiscard]] std::string SysfsNodePath(int node) const;

    // An input report, identifier byte first, for every file of the node open now.
    void PushReport(int node, Report report);
    void Unplug(int node);
    // Plugs the node in again with fresh sysfs files.
    void Replug(int node);

    // What HIDIOCGFEATURE answers for the identifier in report[0].
    void SetFeatureReport(int node, Report report);
    // While held, writes fail with EAGAIN and poll reports no POLLOUT.
    void HoldWrites(int node, bool hold);
    // While denied, opens of the node fail with EACCES, as a node of another user's does.
    void DenyOpens(int node, bool deny);

    [[nodiscard]] std::vector<Report> Outputs(int node) const;
    [[nodiscard]] std::vector<Report> FeaturesSet(int node) const;
    [[nodiscard]] int OpenFiles(int node) const;
    // How many opens of the node succeeded since it was added.
    [[nodiscard]] int Opens(int node) const;
    // Waits until exactly `count` files of the node are open: the kernel tells the server of a
    // close only after close() has returned. False after `timeout`.
    [[nodiscard]] bool WaitForOpenFiles(int node, int count,
                                        std::chrono::milliseconds timeout) const;
    // Waits until `count` open files of the node wait in poll or read for a report; false after
    // `timeout`.
    [[nodiscard]] bool WaitForWaiters(int node, int count, std::chrono::milliseconds timeout) const;

    struct Server;

  private:
    void WriteSysfs(int node) const;

    std::string root_;
    std::unique_ptr<Server> server_;
};

}  // namespace korv::test
