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

// A button field of an input report, as the Windows HID class counts buttons: an array (each of
// `count` slots of `bit_size` bits holds the index of a usage) or a variable of one bit a usage,
// on any usage page. Bits are counted from `bit_offset` after the report identifier byte, when
// the collection has identifiers. A variable field's bit i stands for usage_minimum + i, its bits
// beyond usage_maximum for usage_maximum (a field with fewer usages than bits gives the last one
// to the rest). An array whose usages are listed one by one rather than as a range is several
// fields at the same offset, one per run of consecutive usages, each with the logical value that
// stands for its first usage.
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
//
// Reports given to OwnsReport and ButtonUsages are as hidraw reads them: the identifier byte
// first when the collection has identifiers, the data alone when it has none.
struct HidCollectionLayout {
    // Usage page and usage; report lengths as the Windows HID class states them: the longest
    // report of each kind in bytes plus one byte for the identifier (also when the collection has
    // none), 0 when the collection has no report of that kind.
    HidCapabilities capabilities;
    std::vector<std::uint8_t> report_ids;  // in the order of the descriptor; empty when none
    std::vector<HidButtonField> button_fields;

    // Whether an input report belongs to this collection: its identifier byte is one of the
    // collection's; without identifiers, whether the collection has input reports at all.
    [[nodiscard]] bool OwnsReport(std::span<const std::uint8_t> report) const;
    // The most button usages one input report can list (one for each bit of a variable field
    // and each slot of an array), as HidP_MaxUsageListLength for all usage pages.
    [[nodiscard]] std::size_t MaxButtonUsages() const;
    // The usages of the buttons that are down in an input report of this collection, in the
    // order of the fields (an array's slots in order, each slot whose value lies in the logical
    // range naming one usage; usage 0 never listed); nothing when the report is not one of this
    // collection's or is too short for its fields. A report of the collection's input report
    // length (less the identifier byte when it has none) always has its usages.
    [[nodiscard]] std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t> report) const;
};

// The top-level collections of a report descriptor, in their order; nothing when the descriptor
// is malformed (an item that runs past the end, unbalanced collections or delimiters, a push
// or pop out of bounds, report identifier 0, a field without an identifier where identifiers are
// used, an unknown global item) or beyond the limits of the Linux HID core, under which a
// descriptor never reaches a hidraw node at all (more than kMaxReportDescriptorSize bytes, a
// field of more than 256 bits a slot or 12288 slots, a report longer than 16384 bytes with its
// identifier, collections nested more than 16 deep, more than 12288 usages for one item).
[[nodiscard]] std::optional<std::vector<HidCollectionLayout>> ParseReportDescriptor(
    std::span<const std::uint8_t> descriptor);

}  // namespace korv
