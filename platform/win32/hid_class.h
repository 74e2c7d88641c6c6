#pragma once
// The HID device-interface class: what the walk enumerates when the HID library cannot name it,
// what the device notifications ask for, and what the simulated mouse announces.

#include <windows.h>

namespace korv::win32 {

inline constexpr GUID kHidInterfaceClassGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

}  // namespace korv::win32
