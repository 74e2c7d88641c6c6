#pragma once
// The records and event types of the HID data component: the report buffer handed to the
// platform in one piece, the parameter block of the output and feature operations, and the
// handlers that readers raise.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "hid/usage_and_page.h"

namespace korv {

// A report: its identifier byte directly followed by up to 65535 bytes, so that the identifier
// and the bytes form one buffer. DATASIZE counts either the bytes after the identifier or the
// whole buffer, depending on the operation.
struct THidReallyData {
    std::uint8_t ReportID = 0;
    std::uint8_t DATAReally[65535] = {};
    std::uint32_t DATASIZE = 0;
};
static_assert(std::is_standard_layout_v<THidReallyData>);
static_assert(offsetof(THidReallyData, ReportID) == 0);
static_assert(offsetof(THidReallyData, DATAReally) == 1);
static_assert(offsetof(THidReallyData, DATASIZE) == 65536);
static_assert(sizeof(THidReallyData) == 65540);

// The identifier byte and the bytes after it, as one buffer of the largest report.
inline constexpr std::size_t kHidReportBufferBytes = 1 + sizeof(THidReallyData::DATAReally);

// The first `count` bytes of the report buffer, from ReportID on; `count` is clamped to the
// buffer, so no caller can reach DATASIZE or beyond.
[[nodiscard]] inline std::span<std::uint8_t> ReportBytes(THidReallyData& data, std::size_t count) {
    return {reinterpret_cast<std::uint8_t*>(&data), std::min(count, kHidReportBufferBytes)};
}
[[nodiscard]] inline std::span<const std::uint8_t> ReportBytes(const THidReallyData& data,
                                                               std::size_t count) {
    return {reinterpret_cast<const std::uint8_t*>(&data), std::min(count, kHidReportBufferBytes)};
}

// What the output and feature operations act on.
struct THIDDataParam {
    USAGE_AND_PAGE UsageAndPage{};
    // A hardware identifier to match; empty or "*" selects by the include list instead (for the
    // operations that use the identifier rule).
    std::u16string DeviceID;
    THidReallyData Data;
    // Set by HidFindAndSetFeatureReport: an opaque token of the interface it used last. That
    // interface is closed again when the operation returns, so the token only identifies it.
    std::uintptr_t DeviceHandle = 0;
};

// ADeviceID is the interface's first hardware identifier (empty when it has none), ADevicePath
// its device-interface path. Data points at the bytes after the identifier and is valid only
// during the call.
using TuiHIDDataReceived =
    std::function<void(std::u16string_view ADeviceID, std::u16string_view ADevicePath,
                       std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;
// ButtonData: a released usage in the low 16 bits, or else a pressed usage in the high 16 bits.
using TuiHIDParsedDataReceived =
    std::function<void(std::u16string_view ADeviceID, std::u16string_view ADevicePath,
                       std::uint8_t ReportID, std::uint32_t ButtonData)>;
using TuiHIDDeviceNotConnected =
    std::function<void(std::u16string_view ADeviceID, std::u16string_view ADevicePath)>;

}  // namespace korv
