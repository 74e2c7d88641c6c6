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
    std::optional<std::uint16_t> revision;         // the device release (bcdDevice), when known
    std::optional<std::uint8_t> interface_number;  // of a USB composite device's interface
    std::uint16_t collection_index = 1;            // 1-based, in the descriptor's order
    std::uint16_t collection_count = 1;            // top-level collections of the interface
    std::uint16_t usage_page = 0;
    std::uint16_t usage = 0;
};

// The identifiers in the order Windows lists them, most specific first, for example
// "HID\VID_046D&PID_C08B&REV_2701&MI_01&Col02", "HID\VID_046D&PID_C08B&MI_01&Col02",
// "HID\VID_046D&UP:FF00_U:0001", "HID_DEVICE_UP:FF00_U:0001", "HID_DEVICE".
[[nodiscard]] std::vector<std::u16string> WindowsHardwareIds(const HidDeviceIdentity& identity);

}  // namespace korv
