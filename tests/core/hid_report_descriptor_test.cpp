#include "hid/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/core/report_descriptor_samples.h"

namespace korv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace testing_descriptors;
using Usages = std::vector<std::uint16_t>;

struct Collection {
    std::uint16_t usage_page;
    std::uint16_t usage;
    Bytes report_ids;
    std::uint16_t input_length;
    std::uint16_t output_length;
    std::uint16_t feature_length;
    std::size_t max_button_usages;
};

struct DescriptorCase {
    const char* name;
    std::string_view descriptor;
    std::vector<Collection> collections;
};

const DescriptorCase kDescriptors[] = {
    {"boot mouse", kBootMouse, {{0x01, 0x02, {}, 4, 0, 0, 3}}},
    {"boot keyboard", kBootKeyboard, {{0x01, 0x06, {}, 9, 2, 0, 14}}},
    {"wheel mouse", kWheelMouse, {{0x01, 0x02, {}, 5, 0, 0, 3}}},
    {"eight button bits", kEightBitMouse, {{0x01, 0x02, {}, 5, 0, 0, 8}}},
    {"wireless mouse",
     kWirelessMouse,
     {{0x01, 0x02, {26, 18}, 10, 0, 2, 5}, {0x0C, 0x01, {31, 23}, 3, 0, 2, 0}}},
    {"mice, keypad, consumer",
     kMiceKeypadConsumer,
     {{0x01, 0x02, {1}, 7, 0, 0, 5},
      {0x01, 0x02, {2}, 7, 0, 0, 5},
      {0x01, 0x07, {5}, 2, 0, 0, 8},
      {0x0C, 0x01, {6}, 2, 0, 0, 8},
      {0x0C, 0x01, {3}, 0, 0, 3, 0}}},
    {"vendor mouse",
     kVendorMouse,
     {{0x01, 0x02, {1}, 5, 0, 0, 5}, {0xFFA0, 0x01, {7, 8}, 8, 8, 0, 0}}},
};

TEST(HidReportDescriptor, RealDescriptorsGiveTheCollectionsWindowsLists) {
    for (const DescriptorCase& test : kDescriptors) {
        SCOPED_TRACE(test.name);
        const auto layouts = ParseReportDescriptor(Hex(test.descriptor));
        ASSERT_TRUE(layouts.has_value());
        ASSERT_EQ(layouts->size(), test.collections.size());
        for (std::size_t i = 0; i < layouts->size(); ++i) {
            SCOPED_TRACE(i);
            const HidCollectionLayout& layout = (*layouts)[i];
            const Collection& expected = test.collections[i];
            EXPECT_EQ(layout.capabilities,
                      (HidCapabilities{expected.usage, expected.usage_page, expected.input_length,
                                       expected.output_length, expected.feature_length}));
            EXPECT_EQ(layout.report_ids, expected.report_ids);
            EXPECT_EQ(layout.MaxButtonUsages(), expected.max_button_usages);
        }
    }
}

// The fields the hidraw reader relies on, spelled out for a variable field and an array.
TEST(HidReportDescriptor, ButtonFieldsOfTheBootKeyboard) {
    const auto layouts = ParseReportDescriptor(Hex(kBootKeyboard));
    ASSERT_TRUE(layouts.has_value());
    const std::vector<HidButtonField> expected = {
        {0, 0, 1, 8, false, 0x07, 0xE0, 0xE7, 0},
        {0, 16, 8, 6, true, 0x07, 0x00, 0x65, 0},
    };
    EXPECT_EQ(layouts->front().button_fields, expected);
}

// ---- Button usages of input reports ---------------------------------------------------------

struct ReportCase {
    const char* name;
    std::string_view descriptor;
    std::size_t collection;
    std::string_view report;
    std::optional<Usages> usages;
};

const ReportCase kReports[] = {
    {"boot mouse, buttons 1 and 3", kBootMouse, 0, "05 00 00", Usages{1, 3}},
    {"boot mouse, none down", kBootMouse, 0, "00 00 00", Usages{}},
    {"boot mouse, padding bits are no buttons", kBootMouse, 0, "F8 00 00", Usages{}},
    {"boot mouse, long enough for the buttons", kBootMouse, 0, "02", Usages{2}},
    {"boot mouse, empty report", kBootMouse, 0, "", std::nullopt},
    {"last usage stands for the rest", kEightBitMouse, 0, "F9 00 00 00", Usages{1, 3, 3, 3, 3, 3}},
    {"keyboard modifiers and keys", kBootKeyboard, 0, "02 00 04 05 00 00 00 00",
     Usages{0xE1, 0x04, 0x05}},
    {"key index beyond the logical maximum", kBootKeyboard, 0, "00 00 66 00 00 00 00 00", Usages{}},
    {"keyboard report cut inside the key array", kBootKeyboard, 0, "00 00 04 05", std::nullopt},
    {"wireless mouse, report 26", kWirelessMouse, 0, "1a 05 00 00 00 00 00 00 00 00", Usages{1, 3}},
    {"wireless mouse, a report of the other collection", kWirelessMouse, 0, "1f 00 00",
     std::nullopt},
    {"wireless mouse, consumer collection has no buttons", kWirelessMouse, 1, "1f 00 00", Usages{}},
    {"second mouse reads its own report", kMiceKeypadConsumer, 1, "02 11 00 00 00 00 00",
     Usages{1, 5}},
    {"second mouse ignores the first one's", kMiceKeypadConsumer, 1, "01 11 00 00 00 00 00",
     std::nullopt},
    {"keypad, one usage per bit", kMiceKeypadConsumer, 2, "05 11", Usages{0x29, 0xE3}},
    {"consumer bits of one usage each", kMiceKeypadConsumer, 3, "06 05", Usages{0x3F, 0x3F}},
    {"vendor key report", kVendorMouse, 1, "07 10 00 00 00 00 00 00", Usages{}},
    {"vendor collection, mouse report", kVendorMouse, 1, "01 01 00 00 00", std::nullopt},
    {"mouse collection, vendor report", kVendorMouse, 0, "07 10 00 00 00 00 00 00", std::nullopt},
    {"mouse collection, its report", kVendorMouse, 0, "01 01 00 00 00", Usages{1}},
};

TEST(HidReportDescriptor, ButtonUsagesOfInputReports) {
    for (const ReportCase& test : kReports) {
        SCOPED_TRACE(test.name);
        const auto layouts = ParseReportDescriptor(Hex(test.descriptor));
        ASSERT_TRUE(layouts.has_value());
        const HidCollectionLayout& layout = layouts->at(test.collection);
        const Bytes report = Hex(test.report);
        EXPECT_EQ(layout.ButtonUsages(report), test.usages);
    }
}

// ---- Rules of the format, each in a small descriptor ----------------------------------------

struct RuleCase {
    const char* name;
    std::string_view descriptor;
    HidCapabilities capabilities;
    std::size_t max_button_usages;
    std::string_view report;
    Usages usages;
};

const RuleCase kRules[] = {
    {"pop restores the size and count pushed",
     "05 01 09 02 A1 01 75 08 95 01 A4 75 01 95 03 05 09 19 01 29 03 81 02 B4 81 01 C0",
     {0x02, 0x01, 3, 0, 0},
     3,
     "07 00",
     {1, 2, 3}},
    {"an extended usage carries its own page",
     "05 01 0B 01 00 A0 FF A1 01 05 09 19 01 29 02 75 01 95 02 81 02 C0",
     {0x01, 0xFFA0, 2, 0, 0},
     2,
     "02",
     {2}},
    {"a long item is skipped",
     "FE 02 00 AA BB 05 01 09 02 A1 01 05 09 19 01 29 02 75 01 95 02 81 02 C0",
     {0x02, 0x01, 2, 0, 0},
     2,
     "03",
     {1, 2}},
    {"usages take the usage page in effect at the main item",
     "09 02 05 01 A1 01 09 01 09 02 05 09 75 01 95 02 81 02 C0",
     {0x02, 0x01, 2, 0, 0},
     2,
     "03",
     {1, 2}},
    {"of aliased usages the first counts",
     "05 01 09 02 A1 01 05 09 A9 01 09 01 09 02 A9 00 09 03 75 01 95 02 81 02 C0",
     {0x02, 0x01, 2, 0, 0},
     2,
     "03",
     {1, 3}},
    {"an array of usages listed one by one",
     "05 0C 09 01 A1 01 15 01 25 03 75 08 95 02 09 E9 09 EA 09 E2 81 00 C0",
     {0x01, 0x0C, 3, 0, 0},
     2,
     "03 01",
     {0xE2, 0xE9}},
    {"an array index outside the logical range names nothing",
     "05 0C 09 01 A1 01 15 01 25 03 75 08 95 02 09 E9 09 EA 09 E2 81 00 C0",
     {0x01, 0x0C, 3, 0, 0},
     2,
     "00 04",
     {}},
    {"a one-byte logical maximum of FF is 255 when the minimum is not negative",
     "05 09 09 01 A1 01 15 00 25 FF 19 01 29 FF 75 08 95 01 81 00 C0",
     {0x01, 0x09, 2, 0, 0},
     1,
     "C8",
     {201}},
    {"an array with a negative logical minimum",
     "05 09 09 01 A1 01 15 FE 25 01 19 01 29 04 75 04 95 02 81 00 C0",
     {0x01, 0x09, 2, 0, 0},
     2,
     "1E",  // slot 0 holds -2 (usage 1), slot 1 holds 1 (usage 4)
     {1, 4}},
};

TEST(HidReportDescriptor, RulesOfTheFormat) {
    for (const RuleCase& test : kRules) {
        SCOPED_TRACE(test.name);
        const auto layouts = ParseReportDescriptor(Hex(test.descriptor));
        ASSERT_TRUE(layouts.has_value());
        ASSERT_EQ(layouts->size(), 1u);
        EXPECT_EQ(layouts->front().capabilities, test.capabilities);
        EXPECT_EQ(layouts->front().MaxButtonUsages(), test.max_button_usages);
        EXPECT_EQ(layouts->front().ButtonUsages(Hex(test.report)), test.usages);
    }
}

// ---- Malformed descriptors ------------------------------------------------------------------

struct MalformedCase {
    const char* name;
    std::string_view descriptor;
};

const MalformedCase kMalformed[] = {
    {"an item cut short", "05 01 09 02 A1 01 75"},
    {"a four-byte item cut short", "05 01 09 02 A1 01 27 FF FF"},
    {"a long item cut short", "FE 05 00 01 02"},
    {"a collection never ended", "05 01 09 02 A1 01 A1 00 C0"},
    {"an end without a collection", "05 01 09 02 A1 01 C0 C0"},
    {"a push beyond four", "A4 A4 A4 A4 A4"},
    {"a pop without a push", "B4"},
    {"a report count beyond the kernel's", "A1 01 75 01 96 01 30 81 02 C0"},
    {"a report size beyond 256 bits", "A1 01 76 01 01 95 01 81 02 C0"},
    {"a report longer than 16384 bytes", "A1 01 75 FF 96 00 30 81 02 C0"},
    {"report identifier 0", "A1 01 85 00 75 08 95 01 81 02 C0"},
    {"report identifier 256", "A1 01 86 00 01 75 08 95 01 81 02 C0"},
    {"a field without an identifier where identifiers are used",
     "A1 01 75 08 95 01 81 02 85 01 81 02 C0"},
    {"an identifier popped away", "A4 85 01 A1 01 75 08 95 01 81 02 B4 75 08 95 01 81 02 C0"},
    {"an unknown global item", "A1 01 F5 00 C0"},
    {"nested delimiters", "A1 01 A9 01 A9 01 C0"},
    {"a delimiter open at the main item", "A1 01 A9 01 09 01 75 01 95 01 81 02 C0"},
};

TEST(HidReportDescriptor, MalformedDescriptorsGiveNothing) {
    for (const MalformedCase& test : kMalformed) {
        SCOPED_TRACE(test.name);
        EXPECT_FALSE(ParseReportDescriptor(Hex(test.descriptor)).has_value());
    }
}

// `depth` collections one inside the other, a button at the innermost.
Bytes Nested(std::size_t depth) {
    Bytes bytes = Hex("05 01 09 02 A1 01");
    for (std::size_t i = 1; i < depth; ++i)
        bytes.insert(bytes.end(), {0xA1, 0x00});
    const Bytes button = Hex("05 09 09 07 75 01 95 01 81 02");
    bytes.insert(bytes.end(), button.begin(), button.end());
    bytes.insert(bytes.end(), depth, 0xC0);
    return bytes;
}

TEST(HidReportDescriptor, LimitsAreTheKernelsAndHidrawsOwn) {
    const auto deep = ParseReportDescriptor(Nested(16));
    ASSERT_TRUE(deep.has_value());
    EXPECT_EQ(deep->front().ButtonUsages(Hex("01")), Usages{7});
    EXPECT_FALSE(ParseReportDescriptor(Nested(17)).has_value());

    const auto longest =
        ParseReportDescriptor(Hex("05 09 09 01 A1 01 19 01 29 08 75 01 96 00 30 81 02 C0"));
    ASSERT_TRUE(longest.has_value());
    EXPECT_EQ(longest->front().capabilities.input_report_length, 1537);
    EXPECT_EQ(longest->front().MaxButtonUsages(), 12288u);
    Bytes report(1536, 0);
    report.front() = 0x81;
    EXPECT_EQ(longest->front().ButtonUsages(report), (Usages{1, 8}));

    // Main items of tag 0 mean nothing: a descriptor of them lists no collection.
    const auto largest = ParseReportDescriptor(Bytes(kMaxReportDescriptorSize, 0));
    ASSERT_TRUE(largest.has_value());
    EXPECT_TRUE(largest->empty());
    EXPECT_FALSE(ParseReportDescriptor(Bytes(kMaxReportDescriptorSize + 1, 0)).has_value());
}

TEST(HidReportDescriptor, WhichReportsACollectionOwns) {
    const auto vendor = ParseReportDescriptor(Hex(kVendorMouse));
    ASSERT_TRUE(vendor.has_value());
    const HidCollectionLayout& keys = vendor->at(1);
    EXPECT_TRUE(keys.OwnsReport(Hex("07 00")));
    EXPECT_TRUE(keys.OwnsReport(Hex("08")));
    EXPECT_FALSE(keys.OwnsReport(Hex("01 00 00 00 00")));
    EXPECT_FALSE(keys.OwnsReport(Bytes{}));
    // Without identifiers the one input report is the collection's, whatever it holds.
    const auto mouse = ParseReportDescriptor(Hex(kBootMouse));
    ASSERT_TRUE(mouse.has_value());
    EXPECT_TRUE(mouse->front().OwnsReport(Hex("07 00 00")));
    // A collection without input reports owns none.
    const auto lights = ParseReportDescriptor(Hex("05 08 09 4B A1 01 75 08 95 01 91 02 C0"));
    ASSERT_TRUE(lights.has_value());
    EXPECT_FALSE(lights->front().OwnsReport(Hex("01")));
}

}  // namespace
}  // namespace korv
