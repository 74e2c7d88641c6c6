#pragma once

// Keyboard key table: turns a Windows virtual-key code plus the keystroke's extended-key
// flag into the HID usage the mouse firmware sends for that key, and into the key name
// shown to the user.

#include <array>
#include <cstdint>
#include <string>

namespace korv {

// Extended-flag coding of a row: the key as reported without / with the extended-key flag.
inline constexpr int32_t kKeyRowPlain = 224;
inline constexpr int32_t kKeyRowExtended = 225;

// One row of a key table. In a built table VKCode equals the row's index.
struct TKeyboardInfoTable {
    std::u16string VKName;            // name of the virtual-key constant, e.g. "VK_RETURN"
    int32_t VKCode = 0;               // virtual-key code
    int32_t ScanCode = 0;             // keyboard scan code, 0 where none is known
    int32_t Extended = kKeyRowPlain;  // kKeyRowPlain or kKeyRowExtended
    int32_t HIDCode = -1;             // HID usage, -1: the key has none
    std::u16string KeyDescription;    // key name shown to the user
};

// Both tables are indexed by virtual-key code 0..299.
inline constexpr int32_t kKeyTableSize = 300;

using TKeyboardInfoTables = std::array<TKeyboardInfoTable, kKeyTableSize>;

// Builds both tables if they are not built yet; the lookups call it themselves. Safe to call
// from any thread and any number of times: the tables are built once and never change.
void InitKeyboardInfoTables();

// Keys reported without the extended-key flag, and keys that only ever come with it.
const TKeyboardInfoTables& KeyboardInfoTable();
// The extended variants of keys that exist in both forms.
const TKeyboardInfoTables& KeyboardInfoTableEx();

// Extended accepts 0/224 (no extended-key flag) and 1/225 (flag set); any other value selects
// the extended table. Results: the HID usage, or 0 when the key has none or VKCode is outside
// 0..299; the key name, or an empty string when VKCode is outside 0..299.
int32_t GetHIDCodeByVKCode(int32_t VKCode, int32_t Extended);
std::u16string GetKeyDescriptionByVKCode(int32_t VKCode, int32_t Extended);

}  // namespace korv
