#pragma once

// Preset key functions a mouse button can be given (editing shortcuts, system shortcuts,
// media keys, browser keys, tab shortcuts), kept in two families of tables:
//  - THID_CODE_INFO: the HID usages the mouse firmware sends; modifiers are HID keyboard
//    modifier bits (1 left Ctrl, 4 left Alt, 8 left GUI);
//  - TCOMBOKEYINFO: virtual-key combinations as the configuration side records them;
//    modifiers are 1 Alt, 2 Ctrl, 4 Shift, 8 Win.
// The HID usages are taken from the key table, so both families always agree. Each family is
// built on its first use, independently of the other, and never changes afterwards.
//
// Threads: any thread; each family is built once on first use (a static initialised by the
// language, which is thread-safe) and never changes.

#include <array>
#include <cstdint>

#include "keys/key_records.h"

namespace korv {

inline constexpr int32_t kCodeTableRows = 50;

using THIDCodeTable = std::array<THID_CODE_INFO, kCodeTableRows>;
using TComboKeyTable = std::array<TCOMBOKEYINFO, kCodeTableRows>;

// Key values are the HID usages of (VK1, Ext1) and (VK2, Ext2); VK2 = 0 means no second key.
THID_CODE_INFO MakeHIDCodeInfo(int32_t Modifier, int32_t VK1, int32_t Ext1, int32_t VK2,
                               int32_t Ext2);
// Stores the five values unchanged; ComboKeyText stays empty.
TCOMBOKEYINFO MakeComboKeyInfo(int32_t Modifier, int32_t VK1, int32_t Ext1, int32_t VK2,
                               int32_t Ext2);

// Build one family if it is not built yet; the lookups call them themselves.
void InitHIDCodeTables();
void InitComboKeyTables();
// Whether the THID_CODE_INFO family has been built in this process.
bool HIDCodeTablesBuilt();

// Read-only access to the eight tables; rows past the listed presets are all zero.
const THIDCodeTable& HIDEditKeys();
const THIDCodeTable& HIDSystemKeys();
const THIDCodeTable& HIDMediaKeys();
const THIDCodeTable& HIDBrowserKeys();
const TComboKeyTable& ComboEditKeys();
const TComboKeyTable& ComboSystemKeys();
const TComboKeyTable& ComboMediaKeys();
const TComboKeyTable& ComboTabKeys();

// Copy row Index of a table into Info. An Index outside 0..49 leaves Info untouched.
void GetMediaHIDCodeInfo(int32_t Index, THID_CODE_INFO& Info);
void GetBrowserHIDCodeInfo(int32_t Index, THID_CODE_INFO& Info);
void GetSystemComboKeyInfo(int32_t Index, TCOMBOKEYINFO& Info);
void GetTabComboKeyInfo(int32_t Index, TCOMBOKEYINFO& Info);

}  // namespace korv
