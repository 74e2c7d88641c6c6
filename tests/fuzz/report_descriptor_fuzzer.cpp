// libFuzzer target for report descriptors of any content and the input reports read with them:
// the descriptor is parsed, and each report is given to a collection's ButtonUsages and to the
// usage tracker as the reader gives it. Checked beyond the sanitizers, for a descriptor that
// parses: every length fits what the hidraw node can carry, identifiers are unique and non-zero,
// every button field lies inside its collection's input report, a report of the collection's
// full input length always has its usages, and the usages of any report are no more than
// MaxButtonUsages, never 0, and each within a button field of that report.
//
// An input is a piece (InputReader::Piece) with the descriptor, then reports until it ends,
// each: a byte choosing the collection, a byte choosing its identifier among the collection's,
// a 16-bit length, then the bytes (the rest of the report up to the length is zeros).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hid/button_usages.h"
#include "hid/report_descriptor.h"
#include "tests/fuzz/fuzz_support.h"

namespace korv::fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMaxReportBytes = 16384;

// Where the fields of report `id` end, in bytes, counting the identifier byte.
std::size_t FieldsEnd(const HidCollectionLayout& layout, std::uint8_t id) {
    std::size_t end = 0;
    for (const HidButtonField& field : layout.button_fields) {
        if (field.report_id == id) {
            const std::size_t bits = field.bit_offset + std::size_t{field.bit_size} * field.count;
            end = std::max(end, (bits + 7) / 8 + 1);
        }
    }
    return end;
}

void CheckLayout(const HidCollectionLayout& layout) {
    const HidCapabilities& caps = layout.capabilities;
    FUZZ_CHECK(caps.input_report_length <= kMaxReportBytes);
    FUZZ_CHECK(caps.output_report_length <= kMaxReportBytes);
    FUZZ_CHECK(caps.feature_report_length <= kMaxReportBytes);
    Bytes ids = layout.report_ids;
    std::ranges::sort(ids);
    FUZZ_CHECK(std::ranges::adjacent_find(ids) == ids.end());
    FUZZ_CHECK(std::ranges::find(ids, 0) == ids.end());
    for (const HidButtonField& field : layout.button_fields) {
        FUZZ_CHECK(field.usage_minimum <= field.usage_maximum);
        FUZZ_CHECK(layout.report_ids.empty()
                       ? field.report_id == 0
                       : std::ranges::find(ids, field.report_id) != ids.end());
        FUZZ_CHECK(FieldsEnd(layout, field.report_id) <= caps.input_report_length);
    }
}

bool InSomeField(const HidCollectionLayout& layout, std::uint8_t id, std::uint16_t usage) {
    return std::ranges::any_of(layout.button_fields, [&](const HidButtonField& field) {
        return field.report_id == id && usage >= field.usage_minimum &&
               usage <= field.usage_maximum;
    });
}

// A report as the reader hands it: the identifier byte first when the collection has
// identifiers, `length` bytes in all, from the input's bytes and zeros after them.
Bytes ReportOf(const HidCollectionLayout& layout, InputReader& input) {
    const std::uint8_t choice = input.Byte();
    const std::size_t length = input.Uint16();
    const auto bytes = input.Take(length);
    Bytes report(bytes.begin(), bytes.end());
    report.resize(length, 0);
    if (!layout.report_ids.empty() && !report.empty())
        report.front() = layout.report_ids[choice % layout.report_ids.size()];
    return report;
}

void CheckReport(const HidCollectionLayout& layout, std::span<const std::uint8_t> report,
                 ButtonUsageTracker& tracker) {
    const bool numbered = !layout.report_ids.empty();
    const auto usages = layout.ButtonUsages(report);
    if (!layout.OwnsReport(report)) {
        FUZZ_CHECK(!usages.has_value());
        return;
    }
    // The identifier byte counts in the input length, also when the descriptor has none.
    const std::size_t full_length = numbered ? report.size() : report.size() + 1;
    if (full_length >= layout.capabilities.input_report_length)
        FUZZ_CHECK(usages.has_value());
    static_cast<void>(tracker.ParseButtonUsages(usages, layout.MaxButtonUsages()));
    if (!usages)
        return;
    const std::uint8_t id = numbered ? report.front() : 0;
    FUZZ_CHECK(usages->size() <= layout.MaxButtonUsages());
    for (const std::uint16_t usage : *usages) {
        FUZZ_CHECK(usage != 0);
        FUZZ_CHECK(InSomeField(layout, id, usage));
    }
}

}  // namespace
}  // namespace korv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korv;
    using namespace korv::fuzz;
    InputReader input({data, size});
    const auto descriptor = input.Piece();
    const auto layouts = ParseReportDescriptor(descriptor);
    if (!layouts)
        return 0;
    for (const HidCollectionLayout& layout : *layouts)
        CheckLayout(layout);
    ButtonUsageTracker tracker;
    while (!input.AtEnd() && !layouts->empty()) {
        const HidCollectionLayout& layout = (*layouts)[input.Byte() % layouts->size()];
        const Bytes report = ReportOf(layout, input);
        CheckReport(layout, report, tracker);
    }
    return 0;
}
