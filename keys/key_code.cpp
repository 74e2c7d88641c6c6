// Keyboard key table: constant row sets and the two tables built from them.

#include "keys/key_code.h"

#include <cstddef>
#include <string_view>

namespace korv {
namespace {

constexpr int32_t kPlain = kKeyRowPlain;
constexpr int32_t kExt = kKeyRowExtended;

// A constant row, in the field order of TKeyboardInfoTable.
struct KeyInfoRow {
    std::u16string_view VKName;
    int32_t VKCode;
    int32_t ScanCode;
    int32_t Extended;
    int32_t HIDCode;
    std::u16string_view KeyDescription;
};

// Virtual-key codes 0x00..0xB7, one row each in code order. Codes Windows leaves unassigned
// carry "VK_UNDEFINED_xx" placeholders. The HID codes of 0xA6..0xB7 are Consumer page usages;
// all others are Keyboard/Keypad page usages.
constexpr std::array<KeyInfoRow, 184> KeyInfoMain{{
    {u"VK_NULL", 0x00, 0, kPlain, -1, u""},
    {u"VK_LBUTTON", 0x01, 0, kPlain, -1, u"Mouse Left Click"},
    {u"VK_RBUTTON", 0x02, 0, kPlain, -1, u"Mouse Right Click"},
    {u"VK_CANCEL", 0x03, 0, kPlain, -1, u"Control Break"},
    {u"VK_MBUTTON", 0x04, 0, kPlain, -1, u"Mouse Middle Click"},
    {u"VK_UNDEFINED_05", 0x05, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_06", 0x06, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_07", 0x07, 0, kPlain, -1, u"Undefined"},
    {u"VK_BACK", 0x08, 0, kPlain, 0x2A, u"BACKSPACE"},
    {u"VK_TAB", 0x09, 0, kPlain, 0x2B, u"TAB"},
    {u"VK_UNDEFINED_0A", 0x0A, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_0B", 0x0B, 0, kPlain, -1, u"Undefined"},
    {u"VK_CLEAR", 0x0C, 0, kPlain, 0x9C, u"CLEAR"},
    {u"VK_RETURN", 0x0D, 0, kPlain, 0x28, u"ENTER"},
    {u"VK_UNDEFINED_0E", 0x0E, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_0F", 0x0F, 0, kPlain, -1, u"Undefined"},
    {u"VK_SHIFT", 0x10, 0, kPlain, -1, u"SHIFT"},
    {u"VK_CONTROL", 0x11, 0, kPlain, -1, u"CTRL"},
    {u"VK_MENU", 0x12, 0, kPlain, -1, u"ALT"},
    {u"VK_PAUSE", 0x13, 0, kPlain, 0x48, u"PAUSE"},
    {u"VK_CAPITAL", 0x14, 0, kPlain, 0x39, u"CAPS LOCK"},
    {u"VK_UNDEFINED_15", 0x15, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_16", 0x16, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_17", 0x17, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_18", 0x18, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_19", 0x19, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_1A", 0x1A, 0, kPlain, -1, u"Undefined"},
    {u"VK_ESCAPE", 0x1B, 0, kPlain, 0x29, u"ESC"},
    {u"VK_UNDEFINED_1C", 0x1C, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_1D", 0x1D, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_1E", 0x1E, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_1F", 0x1F, 0, kPlain, -1, u"Undefined"},
    {u"VK_SPACE", 0x20, 0, kPlain, 0x2C, u"SPACEBAR"},
    {u"VK_PRIOR", 0x21, 0, kPlain, 0x61, u"PAGE UP"},
    {u"VK_NEXT", 0x22, 0, kPlain, 0x5B, u"PAGE DOWN"},
    {u"VK_END", 0x23, 0, kPlain, 0x59, u"END"},
    {u"VK_HOME", 0x24, 0, kPlain, 0x5F, u"HOME"},
    {u"VK_LEFT", 0x25, 0, kPlain, 0x5C, u"LEFT ARROW"},
    {u"VK_UP", 0x26, 0, kPlain, 0x60, u"UP ARROW"},
    {u"VK_RIGHT", 0x27, 0, kPlain, 0x5E, u"RIGHT ARROW"},
    {u"VK_DOWN", 0x28, 0, kPlain, 0x5A, u"DOWN ARROW"},
    {u"VK_SELECT", 0x29, 0, kPlain, -1, u"SELECT"},
    {u"VK_PRINT", 0x2A, 0, kPlain, -1, u"PRINT"},
    {u"VK_EXECUTE", 0x2B, 0, kPlain, -1, u"EXECUTE"},
    {u"VK_SNAPSHOT", 0x2C, 0, kExt, 0x46, u"PRINT SCREEN"},
    {u"VK_NUMPAD0_INSERT", 0x2D, 0, kPlain, 0x62, u"Keypad 0 Insert"},
    {u"VK_DELETE", 0x2E, 0, kPlain, 0x63, u"Keypad DEL"},
    {u"VK_HELP", 0x2F, 0, kPlain, -1, u"HELP"},
    {u"VK_0", 0x30, 0, kPlain, 0x27, u"0"},
    {u"VK_1", 0x31, 0, kPlain, 0x1E, u"1"},
    {u"VK_2", 0x32, 0, kPlain, 0x1F, u"2"},
    {u"VK_3", 0x33, 0, kPlain, 0x20, u"3"},
    {u"VK_4", 0x34, 0, kPlain, 0x21, u"4"},
    {u"VK_5", 0x35, 0, kPlain, 0x22, u"5"},
    {u"VK_6", 0x36, 0, kPlain, 0x23, u"6"},
    {u"VK_7", 0x37, 0, kPlain, 0x24, u"7"},
    {u"VK_8", 0x38, 0, kPlain, 0x25, u"8"},
    {u"VK_9", 0x39, 0, kPlain, 0x26, u"9"},
    {u"VK_UNDEFINED_3A", 0x3A, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_3B", 0x3B, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_3C", 0x3C, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_3D", 0x3D, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_3E", 0x3E, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_3F", 0x3F, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_40", 0x40, 0, kPlain, -1, u"Undefined"},
    {u"VK_A", 0x41, 0, kPlain, 0x04, u"A"},
    {u"VK_B", 0x42, 0, kPlain, 0x05, u"B"},
    {u"VK_C", 0x43, 0, kPlain, 0x06, u"C"},
    {u"VK_D", 0x44, 0, kPlain, 0x07, u"D"},
    {u"VK_E", 0x45, 0, kPlain, 0x08, u"E"},
    {u"VK_F", 0x46, 0, kPlain, 0x09, u"F"},
    {u"VK_G", 0x47, 0, kPlain, 0x0A, u"G"},
    {u"VK_H", 0x48, 0, kPlain, 0x0B, u"H"},
    {u"VK_I", 0x49, 0, kPlain, 0x0C, u"I"},
    {u"VK_J", 0x4A, 0, kPlain, 0x0D, u"J"},
    {u"VK_K", 0x4B, 0, kPlain, 0x0E, u"K"},
    {u"VK_L", 0x4C, 0, kPlain, 0x0F, u"L"},
    {u"VK_M", 0x4D, 0, kPlain, 0x10, u"M"},
    {u"VK_N", 0x4E, 0, kPlain, 0x11, u"N"},
    {u"VK_O", 0x4F, 0, kPlain, 0x12, u"O"},
    {u"VK_P", 0x50, 0, kPlain, 0x13, u"P"},
    {u"VK_Q", 0x51, 0, kPlain, 0x14, u"Q"},
    {u"VK_R", 0x52, 0, kPlain, 0x15, u"R"},
    {u"VK_S", 0x53, 0, kPlain, 0x16, u"S"},
    {u"VK_T", 0x54, 0, kPlain, 0x17, u"T"},
    {u"VK_U", 0x55, 0, kPlain, 0x18, u"U"},
    {u"VK_V", 0x56, 0, kPlain, 0x19, u"V"},
    {u"VK_W", 0x57, 0, kPlain, 0x1A, u"W"},
    {u"VK_X", 0x58, 0, kPlain, 0x1B, u"X"},
    {u"VK_Y", 0x59, 0, kPlain, 0x1C, u"Y"},
    {u"VK_Z", 0x5A, 0, kPlain, 0x1D, u"Z"},
    {u"VK_LWIN", 0x5B, 0, kExt, 0xE3, u"L WIN"},
    {u"VK_RWIN", 0x5C, 0, kExt, 0xE7, u"R WIN"},
    {u"VK_APP", 0x5D, 0, kExt, 0x65, u"APP"},
    {u"VK_UNDEFINED_5E", 0x5E, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_5F", 0x5F, 0, kPlain, -1, u"Undefined"},
    {u"VK_NUMPAD0", 0x60, 0, kPlain, 0x62, u"NUMPAD 0"},
    {u"VK_NUMPAD1", 0x61, 0, kPlain, 0x59, u"NUMPAD 1"},
    {u"VK_NUMPAD2", 0x62, 0, kPlain, 0x5A, u"NUMPAD 2"},
    {u"VK_NUMPAD3", 0x63, 0, kPlain, 0x5B, u"NUMPAD 3"},
    {u"VK_NUMPAD4", 0x64, 0, kPlain, 0x5C, u"NUMPAD 4"},
    {u"VK_NUMPAD5", 0x65, 0, kPlain, 0x5D, u"NUMPAD 5"},
    {u"VK_NUMPAD6", 0x66, 0, kPlain, 0x5E, u"NUMPAD 6"},
    {u"VK_NUMPAD7", 0x67, 0, kPlain, 0x5F, u"NUMPAD 7"},
    {u"VK_NUMPAD8", 0x68, 0, kPlain, 0x60, u"NUMPAD 8"},
    {u"VK_NUMPAD9", 0x69, 0, kPlain, 0x61, u"NUMPAD 9"},
    {u"VK_MULTIPLY", 0x6A, 0, kPlain, 0x55, u"Multiply"},
    {u"VK_ADD", 0x6B, 0, kPlain, 0x57, u"+"},
    {u"VK_SEPARATOR", 0x6C, 0, kPlain, 0x97, u"Separator"},
    {u"VK_SUBTRACT", 0x6D, 0, kPlain, 0x56, u"-"},
    {u"VK_DECIMAL", 0x6E, 0, kPlain, 0x63, u"Decimal"},
    {u"VK_DIVIDE", 0x6F, 0, kExt, 0x54, u"Divide"},
    {u"VK_F1", 0x70, 0, kPlain, 0x3A, u"F1"},
    {u"VK_F2", 0x71, 0, kPlain, 0x3B, u"F2"},
    {u"VK_F3", 0x72, 0, kPlain, 0x3C, u"F3"},
    {u"VK_F4", 0x73, 0, kPlain, 0x3D, u"F4"},
    {u"VK_F5", 0x74, 0, kPlain, 0x3E, u"F5"},
    {u"VK_F6", 0x75, 0, kPlain, 0x3F, u"F6"},
    {u"VK_F7", 0x76, 0, kPlain, 0x40, u"F7"},
    {u"VK_F8", 0x77, 0, kPlain, 0x41, u"F8"},
    {u"VK_F9", 0x78, 0, kPlain, 0x42, u"F9"},
    {u"VK_F10", 0x79, 0, kPlain, 0x43, u"F10"},
    {u"VK_F11", 0x7A, 0, kPlain, 0x44, u"F11"},
    {u"VK_F12", 0x7B, 0, kPlain, 0x45, u"F12"},
    {u"VK_F13", 0x7C, 0, kPlain, 0x68, u"F13"},
    {u"VK_F14", 0x7D, 0, kPlain, 0x69, u"F14"},
    {u"VK_F15", 0x7E, 0, kPlain, 0x6A, u"F15"},
    {u"VK_F16", 0x7F, 0, kPlain, 0x6B, u"F16"},
    {u"VK_F17", 0x80, 0, kPlain, 0x6C, u"F17"},
    {u"VK_F18", 0x81, 0, kPlain, 0x6D, u"F18"},
    {u"VK_F19", 0x82, 0, kPlain, 0x6E, u"F19"},
    {u"VK_F20", 0x83, 0, kPlain, 0x6F, u"F20"},
    {u"VK_F21", 0x84, 0, kPlain, 0x70, u"F21"},
    {u"VK_F22", 0x85, 0, kPlain, 0x71, u"F22"},
    {u"VK_F23", 0x86, 0, kPlain, 0x72, u"F23"},
    {u"VK_F24", 0x87, 0, kPlain, 0x73, u"F24"},
    {u"VK_UNDEFINED_88", 0x88, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_89", 0x89, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_8A", 0x8A, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_8B", 0x8B, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_8C", 0x8C, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_8D", 0x8D, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_8E", 0x8E, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_8F", 0x8F, 0, kPlain, -1, u"Undefined"},
    {u"VK_NUMLOCK", 0x90, 0, kExt, 0x53, u"NUM LOCK"},
    {u"VK_SCROLL", 0x91, 0, kPlain, 0x47, u"Scroll Lock"},
    {u"VK_UNDEFINED_92", 0x92, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_93", 0x93, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_94", 0x94, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_95", 0x95, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_96", 0x96, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_97", 0x97, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_98", 0x98, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_99", 0x99, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_9A", 0x9A, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_9B", 0x9B, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_9C", 0x9C, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_9D", 0x9D, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_9E", 0x9E, 0, kPlain, -1, u"Undefined"},
    {u"VK_UNDEFINED_9F", 0x9F, 0, kPlain, -1, u"Undefined"},
    {u"VK_LSHIFT", 0xA0, 0, kPlain, 0xE1, u"L SHIFT"},
    {u"VK_RSHIFT", 0xA1, 0, kExt, 0xE5, u"R SHIFT"},
    {u"VK_LCONTROL", 0xA2, 0, kPlain, 0xE0, u"L CTRL"},
    {u"VK_RCONTROL", 0xA3, 0, kExt, 0xE4, u"R CTRL"},
    {u"VK_LMENU", 0xA4, 0, kPlain, 0xE2, u"L ALT"},
    {u"VK_RMENU", 0xA5, 0, kExt, 0xE6, u"R ALT"},
    {u"VK_BROWSER_BACK", 0xA6, 0, kExt, 0x224, u"BROWSER_BACK"},
    {u"VK_BROWSER_FORWARD", 0xA7, 0, kExt, 0x225, u"BROWSER_FORWARD"},
    {u"VK_BROWSER_REFRESH", 0xA8, 0, kExt, 0x227, u"BROWSER_REFRESH"},
    {u"VK_BROWSER_STOP", 0xA9, 0, kExt, 0x226, u"BROWSER_STOP"},
    {u"VK_BROWSER_SEARCH", 0xAA, 0, kExt, 0x221, u"BROWSER_SEARCH"},
    {u"VK_BROWSER_FAVORITES", 0xAB, 0, kExt, 0x22A, u"BROWSER_FAVORITES"},
    {u"VK_BROWSER_HOME", 0xAC, 0, kExt, 0x223, u"BROWSER_HOME"},
    {u"VK_VOLUME_MUTE", 0xAD, 0, kExt, 0xE2, u"VOLUME_MUTE"},
    {u"VK_VOLUME_DOWN", 0xAE, 0, kExt, 0xEA, u"VOLUME_DOWN"},
    {u"VK_VOLUME_UP", 0xAF, 0, kExt, 0xE9, u"VOLUME_UP"},
    {u"VK_MEDIA_NEXT_TRACK", 0xB0, 0, kExt, 0xB5, u"MEDIA_NEXT_TRACK"},
    {u"VK_MEDIA_PREV_TRACK", 0xB1, 0, kExt, 0xB6, u"MEDIA_PREV_TRACK"},
    {u"VK_MEDIA_STOP", 0xB2, 0, kExt, 0xB7, u"MEDIA_STOP"},
    {u"VK_MEDIA_PLAY_PAUSE", 0xB3, 0, kExt, 0xCD, u"MEDIA_PLAY_PAUSE"},
    {u"VK_LAUNCH_MAIL", 0xB4, 0, kExt, 0x18A, u"LAUNCH_MAIL"},
    {u"VK_LAUNCH_MEDIA_SELECT", 0xB5, 0, kExt, 0x183, u"LAUNCH_MEDIA_SELECT"},
    {u"VK_LAUNCH_APP1", 0xB6, 0, kExt, 0x194, u"LAUNCH_APP1"},
    {u"VK_LAUNCH_APP2", 0xB7, 0, kExt, 0x192, u"LAUNCH_APP2"},
}};

// OEM punctuation keys 0xBA..0xC0.
constexpr std::array<KeyInfoRow, 7> KeyInfoOem1{{
    {u"VK_OEM_1", 0xBA, 0x27, kPlain, 0x33, u";:"},
    {u"VK_OEM_PLUS", 0xBB, 0x0D, kPlain, 0x2E, u"+="},
    {u"VK_OEM_COMMA", 0xBC, 0x33, kPlain, 0x36, u",<"},
    {u"VK_OEM_MINUS", 0xBD, 0x0C, kPlain, 0x2D, u"-_"},
    {u"VK_OEM_PERIOD", 0xBE, 0x34, kPlain, 0x37, u".>"},
    {u"VK_OEM_2", 0xBF, 0x35, kPlain, 0x38, u"/?"},
    {u"VK_OEM_3", 0xC0, 0x29, kPlain, 0x35, u"~`"},
}};

// OEM keys 0xDB..0xE2.
constexpr std::array<KeyInfoRow, 8> KeyInfoOem2{{
    {u"VK_OEM_4", 0xDB, 0x1A, kPlain, 0x2F, u"[{"},
    {u"VK_OEM_5", 0xDC, 0x2B, kPlain, 0x31, u"\\|"},
    {u"VK_OEM_6", 0xDD, 0x1B, kPlain, 0x30, u"]}"},
    {u"VK_OEM_7", 0xDE, 0x28, kPlain, 0x34, u"'\""},
    {u"VK_OEM_8", 0xDF, 0, kPlain, -1, u"None"},
    {u"VK_UNDEFINED_E0", 0xE0, 0, kPlain, -1, u"Undefined"},
    {u"VK_OEM_AX", 0xE1, 0, kPlain, -1, u"AX"},
    {u"VK_OEM_102", 0xE2, 0x56, kPlain, 0x64, u"Europe 2 (Note 2)"},
}};

// Extended variants of Enter, Insert and Delete, and code 0xFF (scan code 0x5E), which
// produces the same usage and name as the extended Delete.
constexpr std::array<KeyInfoRow, 4> KeyInfoExtEdit{{
    {u"VK_RETURN", 0x0D, 0, kExt, 0x58, u"ENTER"},
    {u"VK_INSERT", 0x2D, 0, kExt, 0x49, u"INS"},
    {u"VK_DELETE", 0x2E, 0, kExt, 0x4C, u"DEL"},
    {u"VK_POWER", 0xFF, 0x5E, kExt, 0x4C, u"DEL"},
}};

// The dedicated navigation block, which shares its codes with the keypad (Num Lock off).
constexpr std::array<KeyInfoRow, 8> KeyInfoExtNav{{
    {u"VK_PRIOR", 0x21, 0, kExt, 0x4B, u"PAGE UP"},
    {u"VK_NEXT", 0x22, 0, kExt, 0x4E, u"PAGE DOWN"},
    {u"VK_END", 0x23, 0, kExt, 0x4D, u"END"},
    {u"VK_HOME", 0x24, 0, kExt, 0x4A, u"HOME"},
    {u"VK_LEFT", 0x25, 0, kExt, 0x50, u"LEFT ARROW"},
    {u"VK_UP", 0x26, 0, kExt, 0x52, u"UP ARROW"},
    {u"VK_RIGHT", 0x27, 0, kExt, 0x4F, u"RIGHT ARROW"},
    {u"VK_DOWN", 0x28, 0, kExt, 0x51, u"DOWN ARROW"},
}};

// True when the rows carry consecutive codes starting at `first` (a missing or misplaced
// row breaks the run).
template <std::size_t N>
constexpr bool CodesRunFrom(const std::array<KeyInfoRow, N>& rows, int32_t first) {
    for (std::size_t i = 0; i < N; ++i) {
        if (rows[i].VKCode != first + static_cast<int32_t>(i)) {
            return false;
        }
    }
    return true;
}
static_assert(CodesRunFrom(KeyInfoMain, 0x00));
static_assert(CodesRunFrom(KeyInfoOem1, 0xBA));
static_assert(CodesRunFrom(KeyInfoOem2, 0xDB));
static_assert(CodesRunFrom(KeyInfoExtNav, 0x21));

struct KeyTables {
    TKeyboardInfoTables Main;
    TKeyboardInfoTables Ex;
};

// `code` as three upper-case hex digits, e.g. 0x0B8 -> "0B8".
std::u16string HexSuffix(int32_t code) {
    constexpr std::u16string_view kDigits = u"0123456789ABCDEF";
    return {kDigits[(code >> 8) & 0xF], kDigits[(code >> 4) & 0xF], kDigits[code & 0xF]};
}

void FillDefaults(TKeyboardInfoTables& table, int32_t extended) {
    for (int32_t code = 0; code < kKeyTableSize; ++code) {
        const std::u16string suffix = HexSuffix(code);
        table[static_cast<std::size_t>(code)] = {.VKName = u"VK_UNDEFINED_" + suffix,
                                                 .VKCode = code,
                                                 .ScanCode = 0,
                                                 .Extended = extended,
                                                 .HIDCode = -1,
                                                 .KeyDescription = u"UNDEFINED_" + suffix};
    }
}

TKeyboardInfoTable ToTableRow(const KeyInfoRow& row) {
    return {.VKName = std::u16string(row.VKName),
            .VKCode = row.VKCode,
            .ScanCode = row.ScanCode,
            .Extended = row.Extended,
            .HIDCode = row.HIDCode,
            .KeyDescription = std::u16string(row.KeyDescription)};
}

// Each row goes whole into the slot given by its own code.
template <std::size_t N>
void CopyRows(const std::array<KeyInfoRow, N>& rows, TKeyboardInfoTables& table) {
    for (const KeyInfoRow& row : rows) {
        table[static_cast<std::size_t>(row.VKCode)] = ToTableRow(row);
    }
}

KeyTables BuildKeyTables() {
    KeyTables tables;
    FillDefaults(tables.Main, kPlain);
    CopyRows(KeyInfoMain, tables.Main);
    CopyRows(KeyInfoOem1, tables.Main);
    CopyRows(KeyInfoOem2, tables.Main);
    FillDefaults(tables.Ex, kExt);
    CopyRows(KeyInfoExtEdit, tables.Ex);
    CopyRows(KeyInfoExtNav, tables.Ex);
    return tables;
}

// Built on first use (thread-safe static initialisation); never changed afterwards.
const KeyTables& Tables() {
    static const KeyTables tables = BuildKeyTables();
    return tables;
}

// 224 and 225 are the table's own coding of the flag; 0 and 1 come from hook data.
int32_t MapExtended(int32_t extended) {
    if (extended == kKeyRowPlain) {
        return 0;
    }
    if (extended == kKeyRowExtended) {
        return 1;
    }
    return extended;
}

// Without the flag: the main row. With the flag: the main row when the key only exists in
// its extended form, else the extended row. Any other flag value: the extended row.
// Null when the code is outside the tables.
const TKeyboardInfoTable* ChooseRow(int32_t vkCode, int32_t extended) {
    const int32_t flag = MapExtended(extended);
    const KeyTables& tables = Tables();
    if (vkCode < 0 || vkCode >= kKeyTableSize) {
        return nullptr;
    }
    const auto index = static_cast<std::size_t>(vkCode);
    const TKeyboardInfoTable& main = tables.Main[index];
    const bool useMain = flag == 0 || (flag == 1 && main.Extended == kKeyRowExtended);
    return useMain ? &main : &tables.Ex[index];
}

}  // namespace

void InitKeyboardInfoTables() {
    Tables();
}

const TKeyboardInfoTables& KeyboardInfoTable() {
    return Tables().Main;
}

const TKeyboardInfoTables& KeyboardInfoTableEx() {
    return Tables().Ex;
}

int32_t GetHIDCodeByVKCode(int32_t VKCode, int32_t Extended) {
    const TKeyboardInfoTable* row = ChooseRow(VKCode, Extended);
    if (row == nullptr || row->HIDCode == -1) {
        return 0;
    }
    return row->HIDCode;
}

std::u16string GetKeyDescriptionByVKCode(int32_t VKCode, int32_t Extended) {
    const TKeyboardInfoTable* row = ChooseRow(VKCode, Extended);
    return row == nullptr ? std::u16string() : row->KeyDescription;
}

}  // namespace korv
