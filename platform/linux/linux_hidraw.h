#pragma once
// The platform's HID interfaces on Linux, through hidraw. The walk reads sysfs only
// (<root>/sys/class/hidraw/*: each node's uevent, its HID device's uevent and report descriptor,
// and the USB interface number and device release above it), so listing and identifying an
// interface opens no device. The report descriptor is read with the portable parser; each of
// its top-level collections is one interface, as Windows lists them, with the hardware
// identifiers Windows would give it.
//
// Device paths: the node's file, "<root>/dev/hidraw3", when its descriptor has one top-level
// collection; "<root>/dev/hidraw3#col02" (the 1-based collection index, two digits or more, as in
// the "&Col02" of the Windows identifiers) for each of several. Only these forms open.
//
// One hidraw node carries the reports of every collection of its interface: a device opened for
// a collection reads and drops the reports of the others.
//
// Threads: as the port says. Enumerate and Open on the owner's thread (the main thread); they
// read small sysfs files and never wait for a device.

#include <string>

#include "ports/debug_output.h"
#include "ports/hid_interfaces.h"

namespace korv::os_linux {

// How long a write may wait for the node to take the report.
inline constexpr int kHidrawWriteTimeoutMs = 1000;

class LinuxHidrawInterfaces final : public HidInterfaces {
  public:
    // `root`: the folder that holds "sys" and "dev" ("/" on a real system; tests point it at a
    // fake tree). `debug` receives one trace line for each node the walk skips and why.
    explicit LinuxHidrawInterfaces(const DebugOutput& debug, std::string root = "/");

    // One interface per top-level collection of each node that can be read, nodes in the order
    // of their numbers. A node whose files are missing, oversized or malformed is skipped.
    [[nodiscard]] std::vector<HidInterfaceInfo> Enumerate() const override;

    // Identify reads sysfs only. Reading and Control open the node O_RDWR | O_NONBLOCK
    // (EACCES/EPERM: AccessDenied; ENOENT/ENODEV: DeviceGone). A path that names no present
    // node and collection fails as DeviceGone ("open", ENOENT).
    [[nodiscard]] OpenResult Open(std::u16string_view path, HidOpenMode mode) const override;

  private:
    const DebugOutput& debug_;
    std::string root_;
};

}  // namespace korv::os_linux
