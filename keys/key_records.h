#pragma once
// The key records that profiles store and the preset code tables fill: a virtual-key
// combination and a HID usage combination. Plain images, laid out as the profile files hold them.

#include <cstdint>

#include "base/record_layout.h"

namespace korv {

// A key combination as virtual-key codes plus a modifier set (1 Alt, 2 Ctrl, 4 Shift, 8 Win).
struct TCOMBOKEYINFO {
    std::uint16_t nKeyValue1;
    std::uint16_t nKey1Extended;  // 0 or 1
    std::uint16_t nKeyValue2;     // 0 = none
    std::uint16_t nKey2Extended;
    std::uint16_t nModifier;
    char16_t ComboKeyText[31];  // caption, zero-terminated
};

// A key combination as HID usage codes plus HID modifier bits.
struct THID_CODE_INFO {
    std::uint16_t nKeyValue1;  // may be a consumer-page usage above 255
    std::uint16_t nKeyValue2;  // 0 = none
    std::uint16_t nModifier;
};

KORV_RECORD_SIZE(TCOMBOKEYINFO, 72);
KORV_FIELD_AT(TCOMBOKEYINFO, nKeyValue1, 0);
KORV_FIELD_AT(TCOMBOKEYINFO, nKey1Extended, 2);
KORV_FIELD_AT(TCOMBOKEYINFO, nKeyValue2, 4);
KORV_FIELD_AT(TCOMBOKEYINFO, nKey2Extended, 6);
KORV_FIELD_AT(TCOMBOKEYINFO, nModifier, 8);
KORV_FIELD_AT(TCOMBOKEYINFO, ComboKeyText, 10);

KORV_RECORD_SIZE(THID_CODE_INFO, 6);
KORV_FIELD_AT(THID_CODE_INFO, nKeyValue1, 0);
KORV_FIELD_AT(THID_CODE_INFO, nKeyValue2, 2);
KORV_FIELD_AT(THID_CODE_INFO, nModifier, 4);

}  // namespace korv
