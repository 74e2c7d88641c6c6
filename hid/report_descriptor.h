#pragma once
// A portable reader of HID report descriptors: what a platform without a HID parser of its own
// (Linux's hidraw gives only the raw descriptor) needs to list an interface the way the Windows
// HID class lists it. Each top-level collection becomes one interface with its usage page and
// usage, the report identifiers it owns, its report lengths and the button fields of its input
// reports.
//
// Threads: plain functions and values; any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ports/hid_interfaces.h"

namespace korv {

// The largest report descriptor a device can have (the hidraw limit, HID_MAX_DESCRIPTOR_SIZE).
inline constexpr std::size_t kMaxReportDescriptorSize = 4096;

// A button field of an input report: `count` fields of `bit_size` bits from `bit_offset` (counted
// after the report identifier byte, when the collection has identifiers).
struct HidButtonField {
    std::uint8_t report_id = 0;  // 0 when the collection has no report identifiers
    std::uint32_t bit_offset = 0;
    std::uint16_t bit_size = 0;
    std::uint16_t count = 0;
    bool is_array = false;  // array (each field holds a usage index) or variable (one bit each)
    std::uint16_t usage_page = 0;
    std::uint16_t usage_minimum = 0;
    std::uint16_t usage_maximum = 0;
    std::int32_t logical_minimum = 0;  // for arrays: the index that stands for usage_minimum
    bool operator==(const HidButtonField&) const = default;
};

// One top-level collection, as Windows lists it as an interface of its own.
struct HidCollectionLayout {
    // Usage page and usage; report lengths as the Windows HID class states them: the longest
    // report of each kind in bytes plus one byte for the identifier (also when the collection has
    // none), 0 when the collection has no report of that kind.
    HidCapabilities capabilities;
    std::vector<std::uint8_t> report_ids;  // in the order of the descriptor; empty when none
    std::vector<HidButtonField> button_fields;

    // Whether an input report (identifier byte first when the collection has identifiers)
    // belongs to this collection.
    [[nodiscard]] bool OwnsReport(std::span<const std::uint8_t> report) const;
    // The most button usages one input report can list (the sum over its button fields).
    [[nodiscard]] std::size_t MaxButtonUsages() const;
    // The usages of the buttons that are down in an input report of this collection, in the
    // order of the fields; nothing when the report is not one of this collection's or is too
    // short for its fields.
    [[nodiscard]] std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t> report) const;
};

// The top-level collections of a report descriptor, in their order; nothing when the descriptor
// is malformed (an item that runs past the end, unbalanced collections, a report longer than
// the HID class allows, more than kMaxReportDescriptorSize bytes).
[[nodiscard]] std::optional<std::vector<HidCollectionLayout>> ParseReportDescriptor(
    std::span<const std::uint8_t> descriptor);

}  // namespace korv
