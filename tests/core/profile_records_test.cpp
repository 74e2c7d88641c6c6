// Runtime behaviour of the profile records: text fields, the report mask, the stamp views, whole
// image round trips and the function-code table. Sizes and offsets are checked at compile time in
// the records header and are not repeated here.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "profile/function_codes.h"
#include "profile/options.h"
#include "profile/records.h"
#include "profile/text_field.h"

namespace korv {
namespace {

using Image = std::vector<std::uint8_t>;

constexpr std::size_t kProfileSize = sizeof(TMouseProfileInfo);
constexpr std::size_t kButtonBase = 872;     // first button entry inside a profile image
constexpr std::size_t kButtonStride = 4168;  // size of one button entry
constexpr std::size_t kOtherConfigSlot = 113032;

Image RandomImage(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Image image(size);
    for (auto& b : image) {
        b = static_cast<std::uint8_t>(byte(generator));
    }
    return image;
}

std::uint16_t ReadWordLE(const Image& image, std::size_t offset) {
    return static_cast<std::uint16_t>(image[offset] | (image[offset + 1] << 8));
}

void PutWordLE(Image& image, std::size_t offset, std::uint16_t value) {
    image[offset] = static_cast<std::uint8_t>(value);
    image[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

Image ImageOf(const TMouseProfileInfo& profile) {
    Image image(kProfileSize);
    std::memcpy(image.data(), &profile, kProfileSize);
    return image;
}

// Offset of the first byte where the images differ, or their size when they are equal; keeps a
// failure message short instead of printing 113064 bytes.
std::size_t FirstDifference(const Image& actual, const Image& expected) {
    EXPECT_EQ(actual.size(), expected.size());
    return static_cast<std::size_t>(
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
        actual.begin());
}

// ---------------------------------------------------------------------------------------------
// Text fields

TEST(TextField, WriteCutsToFieldAndKeepsTheZeroInside) {
    struct Case {
        const char* name;
        std::u16string_view text;
        bool whole;           // expected result
        std::u16string kept;  // text expected in the field afterwards
    };
    // The field holds 5 units: at most 4 of text plus the zero.
    const Case cases[] = {
        {"empty text", u"", true, u""},
        {"short text", u"ab", true, u"ab"},
        {"exact fit", u"abcd", true, u"abcd"},
        {"one unit too long", u"abcde", false, u"abcd"},
        {"much too long", u"abcdefghijklmnop", false, u"abcd"},
        {"pair fits exactly", u"ab\U0001F600", true, u"ab\U0001F600"},
        {"cut would split a pair", u"abc\U0001F600", false, u"abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        struct {
            char16_t field[5];
            char16_t guard;  // the unit right after the field must never be written
        } buffer;
        std::fill(std::begin(buffer.field), std::end(buffer.field), u'\xFFFF');
        buffer.guard = u'#';

        EXPECT_EQ(SetTextField(buffer.field, c.text), c.whole);

        std::array<char16_t, 5> expected{};  // text, then zeros up to the end of the field
        std::copy(c.kept.begin(), c.kept.end(), expected.begin());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), std::begin(buffer.field)));
        EXPECT_EQ(buffer.guard, u'#');
        EXPECT_EQ(GetTextField(buffer.field), c.kept);
    }
}

TEST(TextField, KeepTailWritesOnlyTextAndZero) {
    char16_t field[8];
    std::fill(std::begin(field), std::end(field), u'X');

    EXPECT_TRUE(SetTextField(field, u"ab", TextTail::Keep));

    const char16_t expected[8] = {u'a', u'b', 0, u'X', u'X', u'X', u'X', u'X'};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), std::begin(field)));
}

TEST(TextField, ZeroLengthFieldStoresNothing) {
    EXPECT_FALSE(SetTextField(std::span<char16_t>{}, u"a"));
    EXPECT_EQ(GetTextField(std::span<const char16_t>{}), u"");
}

TEST(TextField, ReadStopsAtFirstZeroOrFieldEnd) {
    // FileName (21 units) is followed directly by MacroPath, so a read that ran past the end of
    // FileName would pick up MacroPath's text.
    struct Case {
        const char* name;
        std::u16string fileName;  // all 21 units of the field
        std::u16string read;
    };
    const std::u16string full(21, u'F');
    const Case cases[] = {
        {"no zero at all", full, full},
        {"zero in the middle, garbage after",
         u"Profile1.pfd" + std::u16string(1, u'\0') + u"zzzzzzzz", u"Profile1.pfd"},
        {"zero first", std::u16string(1, u'\0') + std::u16string(20, u'g'), u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.fileName.size(), std::extent_v<decltype(TProfileSetting::FileName)>);
        TProfileSetting setting{};
        std::copy(c.fileName.begin(), c.fileName.end(), setting.FileName);
        SetTextField(setting.MacroPath, u"MACROS");

        EXPECT_EQ(GetTextField(setting.FileName), c.read);
    }
}

// ---------------------------------------------------------------------------------------------
// Report mask and creation stamp

TEST(ReportMask, StoredAsThreeLittleEndianBytes) {
    struct Case {
        std::uint32_t written;
        std::array<std::uint8_t, 3> bytes;
        std::uint32_t read;
    };
    const Case cases[] = {
        {0x000020, {0x20, 0x00, 0x00}, 0x000020},  // button 5
        {0x000800, {0x00, 0x08, 0x00}, 0x000800},  // button 11
        {0x123456, {0x56, 0x34, 0x12}, 0x123456},
        {0xFF800001, {0x01, 0x00, 0x80}, 0x800001},  // bits above 24 are not stored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        TBUTTONFUNCINFO info;
        std::memset(&info, 0xAA, sizeof info);

        SetReportMask(info, c.written);

        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), info.ReportMask));
        EXPECT_EQ(GetReportMask(info), c.read);
        EXPECT_EQ(info.Reserved3[sizeof info.Reserved3 - 1], 0xAA);  // neighbours untouched
        EXPECT_EQ(info.Reserved4[0], 0xAA);
    }
}

TEST(ProfileUID, DoubleViewsShareTheLittleEndianBytes) {
    struct Case {
        double value;
        std::array<std::uint8_t, 8> bytes;
    };
    const Case cases[] = {
        {1.0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F}},
        {45000.5, {0x00, 0x00, 0x00, 0x00, 0x10, 0xF9, 0xE5, 0x40}},
        {-2.0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        TProfileUIDData written{};
        written.SetDataTime(c.value);
        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), written.RawData));

        TProfileUIDData loaded{};
        std::copy(c.bytes.begin(), c.bytes.end(), loaded.RawData);
        EXPECT_EQ(loaded.DataTime(), c.value);
        EXPECT_EQ(loaded.DoubleData(), c.value);
    }
}

// ---------------------------------------------------------------------------------------------
// Whole profile images

// The data module's working copies that these tests move images through.
struct WorkingCopies {
    TMouseProfileInfo FCurrentProfileInfo{};
    TMouseProfileInfo FDefaultProfileInfo{};
    TMouseProfileInfo FTestProfileInfo{};
    TOtherConfig FOtherConfig;
};

TEST(ProfileImage, NotInterpretedBytesSurviveLoadEditAndSave) {
    const Image loaded = RandomImage(kProfileSize, 20240611);
    auto dm = std::make_unique<WorkingCopies>();

    std::memcpy(&dm->FCurrentProfileInfo, loaded.data(), kProfileSize);
    EXPECT_EQ(FirstDifference(ImageOf(dm->FCurrentProfileInfo), loaded), kProfileSize);

    // Working copies are copied as records, then edited field by field.
    dm->FDefaultProfileInfo = dm->FCurrentProfileInfo;
    TMouseProfileInfo& profile = dm->FDefaultProfileInfo;
    profile.ConfigInfo.ButtonFuncInfo[4].FunctionCode = kFunctionCodeMicrophoneMute;
    SetReportMask(profile.ConfigInfo.ButtonFuncInfo[7], 0x000080);
    const std::u16string_view caption = u"CLOSE TAB";
    SetTextField(profile.ConfigInfo.ButtonFuncInfo[3].ComboKey.ComboKeyText, caption,
                 TextTail::Keep);

    Image expected = loaded;
    PutWordLE(expected, kButtonBase + kButtonStride * 4 + 4150, kFunctionCodeMicrophoneMute);
    const std::size_t mask = kButtonBase + kButtonStride * 7 + 4064;
    expected[mask] = 0x80;
    expected[mask + 1] = 0x00;
    expected[mask + 2] = 0x00;
    const std::size_t text = kButtonBase + kButtonStride * 3 + 78;
    for (std::size_t i = 0; i <= caption.size(); ++i) {
        PutWordLE(expected, text + 2 * i, i < caption.size() ? caption[i] : u'\0');
    }

    EXPECT_EQ(FirstDifference(ImageOf(profile), expected), kProfileSize);
}

TEST(ProfileImage, OtherConfigSlotIsCarriedWithoutBeingFollowed) {
    Image loaded(kProfileSize, 0);
    // What the configuration program leaves there are references into its own memory: values that
    // would crash or leak if this program read them as a list or a string.
    for (std::size_t i = 0; i < 28; ++i) {
        loaded[kOtherConfigSlot + i] = static_cast<std::uint8_t>(0xE1 + i);
    }

    auto dm = std::make_unique<WorkingCopies>();
    std::memcpy(&dm->FCurrentProfileInfo, loaded.data(), kProfileSize);
    dm->FTestProfileInfo = dm->FCurrentProfileInfo;

    EXPECT_EQ(FirstDifference(ImageOf(dm->FTestProfileInfo), loaded), kProfileSize);
    EXPECT_TRUE(dm->FOtherConfig.HelpFile.empty());
    EXPECT_TRUE(dm->FOtherConfig.OfficialWebsite.empty());
    dm.reset();  // under the sanitizers, freeing anything derived from the slot would be caught
}

TEST(ProfileImage, FunctionCodeOfEachButtonIsTheWordInTheImage) {
    const Image image = RandomImage(kProfileSize, 7);
    auto profile = std::make_unique<TMouseProfileInfo>();
    std::memcpy(profile.get(), image.data(), kProfileSize);

    for (std::size_t n = 0; n < 12; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(profile->ConfigInfo.ButtonFuncInfo[n].FunctionCode,
                  ReadWordLE(image, 5022 + kButtonStride * n));
    }
}

// ---------------------------------------------------------------------------------------------
// Function codes

TEST(FunctionCodeTable, RowsBelongToTheirCodes) {
    struct Case {
        int code;
        std::int32_t deviceCode;
        std::int32_t functionID;
    };
    const Case cases[] = {
        {0, 1, 1},    {5, 16, 6},   {19, 15, 905}, {28, 14, 914},
        {38, 25, 12}, {43, 13, 14}, {47, 14, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::optional<TFunctionCodeRow> row = FindFunctionCode(c.code);
        ASSERT_TRUE(row.has_value());
        EXPECT_EQ(row->DeviceCode, c.deviceCode);
        EXPECT_EQ(row->FunctionID, c.functionID);
    }
}

TEST(FunctionCodeTable, CodesOutsideTheTableHaveNoRow) {
    for (int code : {-1, 48, 0xFFFF, -0x10000}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(FindFunctionCode(code).has_value());
    }
}

}  // namespace
}  // namespace korv
