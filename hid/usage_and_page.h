#pragma once
// The HID collection selector shared by the data module, which sets it at start-up, and the
// device access, which searches for it.

#include <cstdint>

namespace korv {

struct USAGE_AND_PAGE {
    std::uint16_t Usage;
    std::uint16_t UsagePage;
};

// The mouse's vendor interface: usage 1 on the vendor usage page 0xFFA0.
inline constexpr USAGE_AND_PAGE kMouseVendorCollection{0x0001, 0xFFA0};

// Process-wide selector of the mouse's vendor interface, written while the data module is
// created and read when the device is (re)opened, both on the main thread.
inline USAGE_AND_PAGE MouseUsageAndPage{};

}  // namespace korv
