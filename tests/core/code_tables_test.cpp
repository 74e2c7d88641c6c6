#include "keys/code_tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

#include "keys/key_code.h"

namespace korv {
namespace {

constexpr unsigned char kSentinel = 0xAB;

template <typename Info>
Info SentinelFilled() {
    Info info;
    std::memset(&info, kSentinel, sizeof info);
    return info;
}

bool TextIsEmpty(const TCOMBOKEYINFO& info) {
    for (char16_t unit : info.ComboKeyText) {
        if (unit != 0) {
            return false;
        }
    }
    return true;
}

// Modifier and usage of key 1 of a THID_CODE_INFO row without a second key.
struct HIDRow {
    std::uint16_t Modifier;
    std::uint16_t Key1;
};

void ExpectHIDRow(const THID_CODE_INFO& info, HIDRow expected) {
    EXPECT_EQ(info.nKeyValue1, expected.Key1);
    EXPECT_EQ(info.nKeyValue2, 0);
    EXPECT_EQ(info.nModifier, expected.Modifier);
}

struct HIDTableCase {
    const char* Name;
    const THIDCodeTable& (*Table)();
    std::vector<HIDRow> FilledRows;
};

TEST(CodeTables, HIDTablesHoldThePresetUsages) {
    const std::vector<HIDTableCase> cases = {
        {"HIDEditKeys",
         HIDEditKeys,
         {{1, 0x1B}, {1, 0x06}, {1, 0x19}, {1, 0x04}, {1, 0x09}, {1, 0x11}, {1, 0x13}, {1, 0x16}}},
        {"HIDSystemKeys",
         HIDSystemKeys,
         {{4, 0x2B}, {4, 0x3D}, {8, 0x08}, {8, 0x15}, {8, 0x07}, {8, 0x0F}}},
        {"HIDMediaKeys",
         HIDMediaKeys,
         {{0, 0xCD}, {0, 0xB7}, {0, 0xB6}, {0, 0xB5}, {0, 0xE9}, {0, 0xEA}, {0, 0xE2}, {0, 0x183}}},
        {"HIDBrowserKeys",
         HIDBrowserKeys,
         {{0, 0x223}, {0, 0x224}, {0, 0x225}, {0, 0x226}, {0, 0x227}, {0, 0x221}, {0, 0x22A}}},
    };
    for (const HIDTableCase& c : cases) {
        for (std::size_t row = 0; row < kCodeTableRows; ++row) {
            SCOPED_TRACE(testing::Message() << c.Name << " row " << row);
            const HIDRow expected = row < c.FilledRows.size() ? c.FilledRows[row] : HIDRow{0, 0};
            ExpectHIDRow(c.Table()[row], expected);
        }
    }
}

// The HID modifier bit that stands for each modifier of a key combination.
std::uint16_t HIDModifierOf(std::uint16_t comboModifier) {
    std::uint16_t hid = 0;
    if (comboModifier & 1) {
        hid |= 4;  // Alt -> left Alt
    }
    if (comboModifier & 2) {
        hid |= 1;  // Ctrl -> left Ctrl
    }
    if (comboModifier & 4) {
        hid |= 2;  // Shift -> left Shift
    }
    if (comboModifier & 8) {
        hid |= 8;  // Win -> left GUI
    }
    return hid;
}

struct TwinTables {
    const char* Name;
    const THIDCodeTable& (*HID)();
    const TComboKeyTable& (*Combo)();
};

TEST(CodeTables, HIDRowsAreTheUsagesOfTheirComboTwins) {
    const TwinTables twins[] = {
        {"edit", HIDEditKeys, ComboEditKeys},
        {"system", HIDSystemKeys, ComboSystemKeys},
        {"media", HIDMediaKeys, ComboMediaKeys},
    };
    for (const TwinTables& twin : twins) {
        for (std::size_t row = 0; row < kCodeTableRows; ++row) {
            SCOPED_TRACE(testing::Message() << twin.Name << " row " << row);
            const TCOMBOKEYINFO& combo = twin.Combo()[row];
            const THID_CODE_INFO& hid = twin.HID()[row];
            EXPECT_EQ(hid.nKeyValue1, GetHIDCodeByVKCode(combo.nKeyValue1, combo.nKey1Extended));
            EXPECT_EQ(hid.nKeyValue2, GetHIDCodeByVKCode(combo.nKeyValue2, combo.nKey2Extended));
            EXPECT_EQ(hid.nModifier, HIDModifierOf(combo.nModifier));
        }
    }
}

TEST(CodeTables, ComboRowsHaveNoSecondKeyAndNoText) {
    const TComboKeyTable& (*tables[])() = {ComboEditKeys, ComboSystemKeys, ComboMediaKeys,
                                           ComboTabKeys};
    for (std::size_t t = 0; t < std::size(tables); ++t) {
        for (std::size_t row = 0; row < kCodeTableRows; ++row) {
            SCOPED_TRACE(testing::Message() << "table " << t << " row " << row);
            const TCOMBOKEYINFO& info = tables[t]()[row];
            EXPECT_EQ(info.nKeyValue2, 0);
            EXPECT_EQ(info.nKey2Extended, 0);
            EXPECT_TRUE(TextIsEmpty(info));
        }
    }
}

struct HIDLookupCase {
    const char* Name;
    void (*Get)(int32_t, THID_CODE_INFO&);
    int32_t Index;
    HIDRow Expected;
};

TEST(CodeTableLookup, HIDLookupsCopyTheRow) {
    const HIDLookupCase cases[] = {
        {"media", GetMediaHIDCodeInfo, 0, {0, 0xCD}},
        {"media", GetMediaHIDCodeInfo, 6, {0, 0xE2}},
        {"media", GetMediaHIDCodeInfo, 7, {0, 0x183}},
        {"media", GetMediaHIDCodeInfo, 8, {0, 0}},
        {"media", GetMediaHIDCodeInfo, 49, {0, 0}},
        {"browser", GetBrowserHIDCodeInfo, 0, {0, 0x223}},
        {"browser", GetBrowserHIDCodeInfo, 2, {0, 0x225}},
        {"browser", GetBrowserHIDCodeInfo, 6, {0, 0x22A}},
        {"browser", GetBrowserHIDCodeInfo, 7, {0, 0}},
    };
    for (const HIDLookupCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Name << " index " << c.Index);
        auto info = SentinelFilled<THID_CODE_INFO>();
        c.Get(c.Index, info);
        ExpectHIDRow(info, c.Expected);
    }
}

struct ComboLookupCase {
    const char* Name;
    void (*Get)(int32_t, TCOMBOKEYINFO&);
    int32_t Index;
    std::uint16_t Modifier;
    std::uint16_t Key1;
};

TEST(CodeTableLookup, ComboLookupsCopyTheWholeRow) {
    const ComboLookupCase cases[] = {
        {"system", GetSystemComboKeyInfo, 0, 1, 0x09},
        {"system", GetSystemComboKeyInfo, 1, 1, 0x73},
        {"system", GetSystemComboKeyInfo, 4, 8, 0x44},
        {"system", GetSystemComboKeyInfo, 6, 0, 0},
        {"tab", GetTabComboKeyInfo, 0, 2, 0x57},
        {"tab", GetTabComboKeyInfo, 1, 2, 0x6B},
        {"tab", GetTabComboKeyInfo, 2, 2, 0x6D},
        {"tab", GetTabComboKeyInfo, 3, 6, 0x09},
        {"tab", GetTabComboKeyInfo, 4, 2, 0x09},
        {"tab", GetTabComboKeyInfo, 5, 0, 0},
    };
    for (const ComboLookupCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Name << " index " << c.Index);
        auto info = SentinelFilled<TCOMBOKEYINFO>();
        c.Get(c.Index, info);
        EXPECT_EQ(info.nModifier, c.Modifier);
        EXPECT_EQ(info.nKeyValue1, c.Key1);
        EXPECT_EQ(info.nKey1Extended, 0);
        EXPECT_EQ(info.nKeyValue2, 0);
        EXPECT_EQ(info.nKey2Extended, 0);
        EXPECT_TRUE(TextIsEmpty(info));
    }
}

template <typename Info>
void ExpectOutOfRangeLeavesInfo(const char* name, void (*get)(int32_t, Info&)) {
    const int32_t indexes[] = {50, 51, std::numeric_limits<int32_t>::max(), -1,
                               std::numeric_limits<int32_t>::min()};
    for (int32_t index : indexes) {
        SCOPED_TRACE(testing::Message() << name << " index " << index);
        const auto before = SentinelFilled<Info>();
        Info info = before;
        get(index, info);
        EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    }
}

TEST(CodeTableLookup, IndexOutsideTheTableLeavesInfoUntouched) {
    ExpectOutOfRangeLeavesInfo("media", GetMediaHIDCodeInfo);
    ExpectOutOfRangeLeavesInfo("browser", GetBrowserHIDCodeInfo);
    ExpectOutOfRangeLeavesInfo("system", GetSystemComboKeyInfo);
    ExpectOutOfRangeLeavesInfo("tab", GetTabComboKeyInfo);
}

TEST(CodeTables, MakersCarryTheSecondKey) {
    const THID_CODE_INFO hid = MakeHIDCodeInfo(1, 0x43, 0, 0x0D, 1);
    EXPECT_EQ(hid.nKeyValue1, 0x06);
    EXPECT_EQ(hid.nKeyValue2, 0x58);  // keypad Enter
    EXPECT_EQ(hid.nModifier, 1);

    const TCOMBOKEYINFO combo = MakeComboKeyInfo(6, 0x09, 0, 0x0D, 1);
    EXPECT_EQ(combo.nModifier, 6);
    EXPECT_EQ(combo.nKeyValue1, 0x09);
    EXPECT_EQ(combo.nKey1Extended, 0);
    EXPECT_EQ(combo.nKeyValue2, 0x0D);
    EXPECT_EQ(combo.nKey2Extended, 1);
    EXPECT_TRUE(TextIsEmpty(combo));
}

// The families are built independently: the first combo lookup of a process must not build
// the HID family, and a later HID lookup does. Other tests in this program build both
// families, so the check runs in a fresh child process.
TEST(CodeTableFamilyDeathTest, ComboLookupBuildsOnlyTheComboFamily) {
#if GTEST_HAS_DEATH_TEST
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TCOMBOKEYINFO combo{};
            GetTabComboKeyInfo(0, combo);
            if (combo.nKeyValue1 != 0x57 || HIDCodeTablesBuilt()) {
                std::_Exit(1);
            }
            THID_CODE_INFO hid{};
            GetMediaHIDCodeInfo(0, hid);
            std::_Exit(hid.nKeyValue1 == 0xCD && HIDCodeTablesBuilt() ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
#else
    GTEST_SKIP() << "needs a child process";
#endif
}

}  // namespace
}  // namespace korv
