#include "keys/key_code.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace korv {
namespace {

// `code` as upper-case hex with the given number of digits, as UTF-16.
std::u16string Hex(int32_t code, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", digits, static_cast<unsigned>(code));
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

struct LookupCase {
    int32_t VKCode;
    int32_t Extended;
    int32_t HIDCode;
    std::u16string Description;
};

TEST(KeyLookup, ChoosesRowByCodeAndExtendedFlag) {
    const std::vector<LookupCase> cases = {
        // Main Enter and keypad Enter share a code; both flag codings are accepted.
        {0x0D, 0, 0x28, u"ENTER"},
        {0x0D, 224, 0x28, u"ENTER"},
        {0x0D, 1, 0x58, u"ENTER"},
        {0x0D, 225, 0x58, u"ENTER"},
        // Keypad versus dedicated navigation block.
        {0x21, 0, 0x61, u"PAGE UP"},
        {0x21, 1, 0x4B, u"PAGE UP"},
        {0x28, 1, 0x51, u"DOWN ARROW"},
        {0x2D, 0, 0x62, u"Keypad 0 Insert"},
        {0x2D, 1, 0x49, u"INS"},
        {0x2E, 0, 0x63, u"Keypad DEL"},
        {0x2E, 1, 0x4C, u"DEL"},
        // Keys that only exist in extended form answer from the main table either way.
        {0x5B, 0, 0xE3, u"L WIN"},
        {0x5B, 1, 0xE3, u"L WIN"},
        {0x5B, 225, 0xE3, u"L WIN"},
        {0xAD, 1, 0xE2, u"VOLUME_MUTE"},
        // A plain key reported with the flag falls to the extended table's default row.
        {0x41, 0, 0x04, u"A"},
        {0x41, 1, 0, u"UNDEFINED_041"},
        {0xFF, 1, 0x4C, u"DEL"},
        {0xFF, 0, 0, u"UNDEFINED_0FF"},
        // Keys without a HID usage report 0.
        {0x00, 0, 0, u""},
        {0x01, 0, 0, u"Mouse Left Click"},
        {0x10, 0, 0, u"SHIFT"},
        {0xE0, 0, 0, u"Undefined"},
        {0xE2, 0, 0x64, u"Europe 2 (Note 2)"},
        {0xB8, 0, 0, u"UNDEFINED_0B8"},
        {299, 0, 0, u"UNDEFINED_12B"},
        // Out of range.
        {300, 0, 0, u""},
        {300, 1, 0, u""},
        {-1, 0, 0, u""},
        {-1, 1, 0, u""},
        // Any other flag value always reads the extended table, even for extended-only keys.
        {0x0D, 2, 0x58, u"ENTER"},
        {0x41, 2, 0, u"UNDEFINED_041"},
        {0x5B, 2, 0, u"UNDEFINED_05B"},
        {0x2E, -1, 0x4C, u"DEL"},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "VKCode " << c.VKCode << " Extended " << c.Extended);
        EXPECT_EQ(GetHIDCodeByVKCode(c.VKCode, c.Extended), c.HIDCode);
        EXPECT_EQ(GetKeyDescriptionByVKCode(c.VKCode, c.Extended), c.Description);
    }
}

TEST(KeyTables, EveryRowIsIndexedByItsCode) {
    for (int32_t code = 0; code < kKeyTableSize; ++code) {
        SCOPED_TRACE(testing::Message() << "code " << code);
        EXPECT_EQ(KeyboardInfoTable()[code].VKCode, code);
        EXPECT_EQ(KeyboardInfoTableEx()[code].VKCode, code);
        EXPECT_EQ(KeyboardInfoTableEx()[code].Extended, kKeyRowExtended);
    }
}

TEST(KeyTables, BrowserMediaAndLaunchKeysCarryConsumerUsages) {
    const int32_t usages[] = {0x224, 0x225, 0x227, 0x226, 0x221, 0x22A, 0x223, 0xE2,  0xEA,
                              0xE9,  0xB5,  0xB6,  0xB7,  0xCD,  0x18A, 0x183, 0x194, 0x192};
    int32_t code = 0xA6;
    for (int32_t usage : usages) {
        SCOPED_TRACE(testing::Message() << "code " << code);
        EXPECT_EQ(KeyboardInfoTable()[code].HIDCode, usage);
        EXPECT_EQ(KeyboardInfoTable()[code].Extended, kKeyRowExtended);
        ++code;
    }
    EXPECT_EQ(code, 0xB8);
}

// Runs of keys whose name, label and usage follow from their position in the run.
struct KeyRun {
    int32_t FirstCode;
    int32_t Count;
    std::string VKPrefix;
    std::string DescriptionPrefix;
    int FirstNumber;  // label of the first key; -1: the labels are the letters from "A"
    int32_t FirstHIDCode;
};

std::string RunLabel(const KeyRun& run, int offset) {
    if (run.FirstNumber < 0) {
        return std::string(1, static_cast<char>('A' + offset));
    }
    return std::to_string(run.FirstNumber + offset);
}

TEST(KeyTables, DigitLetterNumpadAndFunctionKeyRows) {
    const std::vector<KeyRun> runs = {
        {0x30, 1, "VK_", "", 0, 0x27},
        {0x31, 9, "VK_", "", 1, 0x1E},
        {0x41, 26, "VK_", "", -1, 0x04},
        {0x60, 1, "VK_NUMPAD", "NUMPAD ", 0, 0x62},
        {0x61, 9, "VK_NUMPAD", "NUMPAD ", 1, 0x59},
        {0x70, 12, "VK_F", "F", 1, 0x3A},
        {0x7C, 12, "VK_F", "F", 13, 0x68},
    };
    for (const KeyRun& run : runs) {
        for (int32_t offset = 0; offset < run.Count; ++offset) {
            const TKeyboardInfoTable& row = KeyboardInfoTable()[run.FirstCode + offset];
            SCOPED_TRACE(testing::Message() << "code " << run.FirstCode + offset);
            const std::string label = RunLabel(run, offset);
            EXPECT_EQ(row.VKName, Ascii(run.VKPrefix + label));
            EXPECT_EQ(row.KeyDescription, Ascii(run.DescriptionPrefix + label));
            EXPECT_EQ(row.HIDCode, run.FirstHIDCode + offset);
            EXPECT_EQ(row.Extended, kKeyRowPlain);
        }
    }
}

TEST(KeyTables, UnassignedCodesCarryPlaceholderRows) {
    std::vector<int32_t> codes = {0x05, 0x06, 0x07, 0x0A, 0x0B, 0x0E, 0x0F, 0x5E, 0x5F, 0xE0};
    auto addRange = [&codes](int32_t first, int32_t last) {
        for (int32_t code = first; code <= last; ++code) {
            codes.push_back(code);
        }
    };
    addRange(0x15, 0x1A);
    addRange(0x1C, 0x1F);
    addRange(0x3A, 0x40);
    addRange(0x88, 0x8F);
    addRange(0x92, 0x9F);
    for (int32_t code : codes) {
        SCOPED_TRACE(testing::Message() << "code " << code);
        const TKeyboardInfoTable& row = KeyboardInfoTable()[code];
        EXPECT_EQ(row.VKName, u"VK_UNDEFINED_" + Hex(code, 2));
        EXPECT_EQ(row.KeyDescription, u"Undefined");
        EXPECT_EQ(row.HIDCode, -1);
    }
}

void ExpectDefaultRow(const TKeyboardInfoTable& row, int32_t code, int32_t extended) {
    SCOPED_TRACE(testing::Message() << "code " << code << " extended " << extended);
    EXPECT_EQ(row.VKName, u"VK_UNDEFINED_" + Hex(code, 3));
    EXPECT_EQ(row.KeyDescription, u"UNDEFINED_" + Hex(code, 3));
    EXPECT_EQ(row.ScanCode, 0);
    EXPECT_EQ(row.Extended, extended);
    EXPECT_EQ(row.HIDCode, -1);
}

TEST(KeyTables, CodesWithoutARowKeepDefaults) {
    for (int32_t code = 0; code < kKeyTableSize; ++code) {
        const bool mainReached =
            code <= 0xB7 || (code >= 0xBA && code <= 0xC0) || (code >= 0xDB && code <= 0xE2);
        if (!mainReached) {
            ExpectDefaultRow(KeyboardInfoTable()[code], code, kKeyRowPlain);
        }
        const bool exReached = code == 0x0D || code == 0x2D || code == 0x2E || code == 0xFF ||
                               (code >= 0x21 && code <= 0x28);
        if (!exReached) {
            ExpectDefaultRow(KeyboardInfoTableEx()[code], code, kKeyRowExtended);
        }
    }
}

}  // namespace
}  // namespace korv
