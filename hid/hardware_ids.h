#pragma once
// The hardware identifiers Windows lists for a HID top-level collection, built from what any
// platform knows of the device, so that an include list written on Windows selects the same
// interface elsewhere.
//
// Threads: plain functions; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korv {

// What identifies a HID device and one of its top-level collections.
struct HidDeviceIdentity {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::optional<std::uint16_t> revision;  // the device release (bcdDevice), when known
    // The USB interface number, only for a device with more than one interface (a composite
    // device: Windows then adds &MI_).
    std::optional<std::uint8_t> interface_number;
    std::uint16_t collection_index = 1;  // 1-based, in the descriptor's order
    std::uint16_t collection_count = 1;  // top-level collections of the interface (&Col when > 1)
    std::uint16_t usage_page = 0;
    std::uint16_t usage = 0;
};

// The identifiers in the order Windows lists them, most specific first, for example for the
// second collection of interface 1 of a composite device:
//   HID\VID_1234&PID_ABCD&REV_0102&MI_01&Col02, HID\VID_1234&PID_ABCD&MI_01&Col02,
//   HID\VID_1234&UP:FFA0_U:0001, HID_DEVICE_UP:FFA0_U:0001, HID_DEVICE_UPR:FF00-FFFF, HID_DEVICE
[[nodiscard]] std::vector<std::u16string> WindowsHardwareIds(const HidDeviceIdentity& identity);

}  // namespace korv
