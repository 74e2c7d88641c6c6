#pragma once
// The hook component's enumerations, hook-mode selections and recorded items.

#include <cstdint>
#include <string>

#include "hook/string_object_list.h"

namespace korv {

enum class TMouseButtons : std::uint8_t {
    BUTTON_NONE = 0,
    LCLICK = 1,
    RCLICK = 2,
    MCLICK = 3,
    XCLICK4 = 4,
    XCLICK5 = 5,
    WHEELUP = 6,
    WHEELDOWN = 7,
    BUTTONX1 = 8,
    BUTTONX2 = 9,
    BUTTONX3 = 10,
};

// Member n stands for the mouse message 0x0200 + n.
enum class TMouseButtonStates : std::uint8_t {
    MOUSEMOVE = 0,
    LBUTTONDOWN = 1,
    LBUTTONUP = 2,
    LBUTTONDBLCLK = 3,
    RBUTTONDOWN = 4,
    RBUTTONUP = 5,
    RBUTTONDBLCLK = 6,
    MBUTTONDOWN = 7,
    MBUTTONUP = 8,
    MBUTTONDBLCLK = 9,
    MOUSEWHEEL = 10,
    XBUTTONDOWN = 11,
    XBUTTONUP = 12,
    XBUTTONDBLCLK = 13,
    MOUSEHWHEEL = 14,
    OTHERFUNCTION = 15,
};

// A set of TMouseButtonStates: bit n for member n.
using TMouseButtonStateSet = std::uint16_t;

constexpr TMouseButtonStateSet StateBit(TMouseButtonStates state) {
    return static_cast<TMouseButtonStateSet>(1u << static_cast<unsigned>(state));
}

inline constexpr std::uint32_t kFirstMouseMessage = 0x0200;

// The mouse message a state stands for.
constexpr std::uint32_t MouseMessage(TMouseButtonStates state) {
    return kFirstMouseMessage + static_cast<std::uint32_t>(state);
}

enum class TMouseStatesToHook : std::uint8_t { HOOK_DOWN = 0, HOOK_UP = 1 };

// What the keyboard hook mode reports.
struct TKeyBoardHookDetail {
    std::int32_t KeyboardVKKey = 0;    // 0: not used; -1 ends the list
    std::int32_t KeyboardSCANKey = 0;  // 0: not used
    std::int32_t KeyExtended = 0;      // required extended-key flag, 0 or 1
    std::int32_t block = 0;            // 1: swallow the matching key
};

// What the mouse hook mode reports.
struct TMouseHookDetail {
    TMouseButtons MouseButton = TMouseButtons::BUTTON_NONE;  // highest button the entry applies to
    TMouseButtonStateSet MouseStateSet = 0;                  // messages the entry applies to
    TMouseButtons ModifiedFunction = TMouseButtons::BUTTON_NONE;  // this button is suppressed
    TMouseStatesToHook MouseStateToHook = TMouseStatesToHook::HOOK_DOWN;  // carried only
};

struct TKeyBoardHookDetailObject {
    TKeyBoardHookDetail FKeyBoardHookDetail;
};

struct TMouseHookDetailObject {
    TMouseHookDetail FMouseHookDetail;
};

// State of a key combination being recorded.
struct TCOMBOKEY {
    std::uint16_t nKeyValue1 = 0;  // 0 = none
    std::uint16_t nKeyValue1Extended = 0;
    std::uint16_t nKeyValue2 = 0;  // 0 = none
    std::uint16_t nKeyValue2Extended = 0;
    std::uint16_t nModifier = 0;  // 1 Alt, 2 Ctrl, 4 Shift, 8 Win
    std::uint32_t nScanKey1 = 0;  // second combination variant only
    std::uint32_t nScanKey2 = 0;
};

inline constexpr std::uint16_t kMacroDelayItem = 0;
inline constexpr std::uint16_t kMacroKeyItem = 1;

// One step of a recorded keyboard macro.
struct TMACROKEYHOOK {
    std::uint16_t nKeyType = kMacroDelayItem;
    std::uint16_t nKeyState = 0;          // key item: 1 down, 0 up
    std::uint16_t nKeyValue = 0;          // key item: virtual-key code; delay item: milliseconds
    std::uint16_t nKeyValueExtended = 0;  // key item: extended-key flag
    double Time = 0;                      // left 0 by the recorders
    std::u16string MacroKeyString;        // left empty by the recorders
    std::u16string MacroKeyStateString;   // left empty by the recorders
};

// One step of a recorded mouse macro.
struct TMOUSEMACROKEY {
    std::uint16_t nKeyType = kMacroDelayItem;  // delay items carry the pointer position
    std::uint16_t nKeyState = 0;               // button item: 1 down, 0 up
    TMouseButtons MouseButton = TMouseButtons::BUTTON_NONE;
    std::uint16_t X = 0;  // low 16 bits of the screen coordinate
    std::uint16_t Y = 0;
    std::uint16_t TimeValue = 0;  // delay in milliseconds
    double Time = 0;              // left 0 by the recorder
    std::u16string MacroKeyString;
    std::u16string MacroKeyStateString;
};

struct TMacroKeyObject {
    TMACROKEYHOOK FMacroKey;
};

struct TMOUSEMacroKeyObject {
    TMOUSEMACROKEY FMOUSEMacroKey;
};

using TKeyboardHookObjectList = TStringObjectList<TKeyBoardHookDetailObject>;
using TMouseHookObjectList = TStringObjectList<TMouseHookDetailObject>;
using TMacroKeyList = TStringObjectList<TMacroKeyObject>;
using TMouseMacroKeyList = TStringObjectList<TMOUSEMacroKeyObject>;

}  // namespace korv
