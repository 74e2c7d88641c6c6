// Preset code tables: the preset key functions and the two families built from them.

#include "keys/code_tables.h"

#include <atomic>
#include <cstddef>

#include "keys/key_code.h"

namespace korv {
namespace {

// HID keyboard modifier bits.
constexpr int32_t kHIDCtrl = 1;
constexpr int32_t kHIDAlt = 4;
constexpr int32_t kHIDGui = 8;

// Modifier coding of key combinations.
constexpr int32_t kComboAlt = 1;
constexpr int32_t kComboCtrl = 2;
constexpr int32_t kComboShift = 4;
constexpr int32_t kComboWin = 8;

// No modifier, and "this table has no twin in that family".
constexpr int32_t kNone = 0;

// One preset key function: key 1 as virtual-key code and extended flag, with the modifier in
// each family's own coding. Edit, system and media presets exist in both families with the same
// keys; browser presets only as HID usages and tab presets only as key combinations.
struct PresetKey {
    int32_t HIDModifier;
    int32_t ComboModifier;
    int32_t VK;
    int32_t Ext;
};

constexpr std::array<PresetKey, 8> kEditPresets{{
    {kHIDCtrl, kComboCtrl, 0x58, 0},  // Ctrl+X
    {kHIDCtrl, kComboCtrl, 0x43, 0},  // Ctrl+C
    {kHIDCtrl, kComboCtrl, 0x56, 0},  // Ctrl+V
    {kHIDCtrl, kComboCtrl, 0x41, 0},  // Ctrl+A
    {kHIDCtrl, kComboCtrl, 0x46, 0},  // Ctrl+F
    {kHIDCtrl, kComboCtrl, 0x4E, 0},  // Ctrl+N
    {kHIDCtrl, kComboCtrl, 0x50, 0},  // Ctrl+P
    {kHIDCtrl, kComboCtrl, 0x53, 0},  // Ctrl+S
}};

constexpr std::array<PresetKey, 6> kSystemPresets{{
    {kHIDAlt, kComboAlt, 0x09, 0},  // Alt+Tab
    {kHIDAlt, kComboAlt, 0x73, 0},  // Alt+F4
    {kHIDGui, kComboWin, 0x45, 0},  // Win+E
    {kHIDGui, kComboWin, 0x52, 0},  // Win+R
    {kHIDGui, kComboWin, 0x44, 0},  // Win+D
    {kHIDGui, kComboWin, 0x4C, 0},  // Win+L
}};

constexpr std::array<PresetKey, 8> kMediaPresets{{
    {kNone, kNone, 0xB3, 1},  // Play/Pause
    {kNone, kNone, 0xB2, 1},  // Stop
    {kNone, kNone, 0xB1, 1},  // Previous track
    {kNone, kNone, 0xB0, 1},  // Next track
    {kNone, kNone, 0xAF, 1},  // Volume up
    {kNone, kNone, 0xAE, 1},  // Volume down
    {kNone, kNone, 0xAD, 1},  // Mute
    {kNone, kNone, 0xB5, 1},  // Media select
}};

constexpr std::array<PresetKey, 7> kBrowserPresets{{
    {kNone, kNone, 0xAC, 1},  // Home
    {kNone, kNone, 0xA6, 1},  // Back
    {kNone, kNone, 0xA7, 1},  // Forward
    {kNone, kNone, 0xA9, 1},  // Stop
    {kNone, kNone, 0xA8, 1},  // Refresh
    {kNone, kNone, 0xAA, 1},  // Search
    {kNone, kNone, 0xAB, 1},  // Favorites
}};

constexpr std::array<PresetKey, 5> kTabPresets{{
    {kNone, kComboCtrl, 0x57, 0},                // Ctrl+W: close tab
    {kNone, kComboCtrl, 0x6B, 0},                // Ctrl+keypad plus: zoom in
    {kNone, kComboCtrl, 0x6D, 0},                // Ctrl+keypad minus: zoom out
    {kNone, kComboCtrl | kComboShift, 0x09, 0},  // Ctrl+Shift+Tab: previous tab
    {kNone, kComboCtrl, 0x09, 0},                // Ctrl+Tab: next tab
}};

struct HIDCodeTables {
    THIDCodeTable Edit;
    THIDCodeTable System;
    THIDCodeTable Media;
    THIDCodeTable Browser;
};

struct ComboKeyTables {
    TComboKeyTable Edit;
    TComboKeyTable System;
    TComboKeyTable Media;
    TComboKeyTable Tab;
};

// Set once the HID family has been built; only read by HIDCodeTablesBuilt().
constinit std::atomic<bool> hidTablesBuilt{false};

// The key table's "no usage" as a 16-bit value is stored as "no key".
std::uint16_t ToKeyValue(int32_t hidCode) {
    const auto value = static_cast<std::uint16_t>(hidCode);
    return value == 0xFFFF ? 0 : value;
}

template <std::size_t N>
THIDCodeTable MakeHIDTable(const std::array<PresetKey, N>& presets) {
    static_assert(N <= kCodeTableRows);
    THIDCodeTable table{};
    for (std::size_t i = 0; i < N; ++i) {
        table[i] = MakeHIDCodeInfo(presets[i].HIDModifier, presets[i].VK, presets[i].Ext, 0, 0);
    }
    return table;
}

template <std::size_t N>
TComboKeyTable MakeComboTable(const std::array<PresetKey, N>& presets) {
    static_assert(N <= kCodeTableRows);
    TComboKeyTable table{};
    for (std::size_t i = 0; i < N; ++i) {
        table[i] = MakeComboKeyInfo(presets[i].ComboModifier, presets[i].VK, presets[i].Ext, 0, 0);
    }
    return table;
}

HIDCodeTables BuildHIDCodeTables() {
    HIDCodeTables tables{MakeHIDTable(kEditPresets), MakeHIDTable(kSystemPresets),
                         MakeHIDTable(kMediaPresets), MakeHIDTable(kBrowserPresets)};
    hidTablesBuilt.store(true);
    return tables;
}

ComboKeyTables BuildComboKeyTables() {
    return {MakeComboTable(kEditPresets), MakeComboTable(kSystemPresets),
            MakeComboTable(kMediaPresets), MakeComboTable(kTabPresets)};
}

// Each family is built on first use (thread-safe static initialisation) and never changed.
const HIDCodeTables& HIDTables() {
    static const HIDCodeTables tables = BuildHIDCodeTables();
    return tables;
}

const ComboKeyTables& ComboTables() {
    static const ComboKeyTables tables = BuildComboKeyTables();
    return tables;
}

template <typename Info>
void CopyRow(const std::array<Info, kCodeTableRows>& table, int32_t index, Info& info) {
    if (index < 0 || index >= kCodeTableRows) {
        return;
    }
    info = table[static_cast<std::size_t>(index)];
}

}  // namespace

THID_CODE_INFO MakeHIDCodeInfo(int32_t Modifier, int32_t VK1, int32_t Ext1, int32_t VK2,
                               int32_t Ext2) {
    return {.nKeyValue1 = ToKeyValue(GetHIDCodeByVKCode(VK1, Ext1)),
            .nKeyValue2 = ToKeyValue(GetHIDCodeByVKCode(VK2, Ext2)),
            .nModifier = static_cast<std::uint16_t>(Modifier)};
}

TCOMBOKEYINFO MakeComboKeyInfo(int32_t Modifier, int32_t VK1, int32_t Ext1, int32_t VK2,
                               int32_t Ext2) {
    TCOMBOKEYINFO info{};
    info.nKeyValue1 = static_cast<std::uint16_t>(VK1);
    info.nKey1Extended = static_cast<std::uint16_t>(Ext1);
    info.nKeyValue2 = static_cast<std::uint16_t>(VK2);
    info.nKey2Extended = static_cast<std::uint16_t>(Ext2);
    info.nModifier = static_cast<std::uint16_t>(Modifier);
    return info;
}

void InitHIDCodeTables() {
    HIDTables();
}

void InitComboKeyTables() {
    ComboTables();
}

bool HIDCodeTablesBuilt() {
    return hidTablesBuilt.load();
}

const THIDCodeTable& HIDEditKeys() {
    return HIDTables().Edit;
}

const THIDCodeTable& HIDSystemKeys() {
    return HIDTables().System;
}

const THIDCodeTable& HIDMediaKeys() {
    return HIDTables().Media;
}

const THIDCodeTable& HIDBrowserKeys() {
    return HIDTables().Browser;
}

const TComboKeyTable& ComboEditKeys() {
    return ComboTables().Edit;
}

const TComboKeyTable& ComboSystemKeys() {
    return ComboTables().System;
}

const TComboKeyTable& ComboMediaKeys() {
    return ComboTables().Media;
}

const TComboKeyTable& ComboTabKeys() {
    return ComboTables().Tab;
}

void GetMediaHIDCodeInfo(int32_t Index, THID_CODE_INFO& Info) {
    CopyRow(HIDMediaKeys(), Index, Info);
}

void GetBrowserHIDCodeInfo(int32_t Index, THID_CODE_INFO& Info) {
    CopyRow(HIDBrowserKeys(), Index, Info);
}

void GetSystemComboKeyInfo(int32_t Index, TCOMBOKEYINFO& Info) {
    CopyRow(ComboSystemKeys(), Index, Info);
}

void GetTabComboKeyInfo(int32_t Index, TCOMBOKEYINFO& Info) {
    CopyRow(ComboTabKeys(), Index, Info);
}

}  // namespace korv
