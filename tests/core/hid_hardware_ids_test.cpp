#include "hid/hardware_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/hid_selection.h"

namespace korv {
namespace {

using Ids = std::vector<std::u16string>;

struct IdCase {
    const char* name;
    HidDeviceIdentity identity;
    Ids ids;
};

const IdCase kCases[] = {
    {"vendor collection of a composite device with two collections",
     {0x1234, 0xABCD, 0x0102, 1, 2, 2, 0xFFA0, 0x0001},
     {u"HID\\VID_1234&PID_ABCD&REV_0102&MI_01&Col02", u"HID\\VID_1234&PID_ABCD&MI_01&Col02",
      u"HID\\VID_1234&UP:FFA0_U:0001", u"HID_DEVICE_UP:FFA0_U:0001", u"HID_DEVICE_UPR:FF00-FFFF",
      u"HID_DEVICE"}},
    {"mouse, the only collection of a composite device's interface",
     {0x1234, 0xABCD, 0x0102, 0, 1, 1, 0x0001, 0x0002},
     {u"HID\\VID_1234&PID_ABCD&REV_0102&MI_00", u"HID\\VID_1234&PID_ABCD&MI_00",
      u"HID\\VID_1234&UP:0001_U:0002", u"HID_DEVICE_SYSTEM_MOUSE", u"HID_DEVICE_UP:0001_U:0002",
      u"HID_DEVICE"}},
    // Two lists as Windows printed them (published registry dumps).
    {"vendor collection, single-interface device with one collection",
     {0x1BC0, 0x8101, 0x0100, std::nullopt, 1, 1, 0xFFA0, 0x0001},
     {u"HID\\VID_1BC0&PID_8101&REV_0100", u"HID\\VID_1BC0&PID_8101",
      u"HID\\VID_1BC0&UP:FFA0_U:0001", u"HID_DEVICE_UP:FFA0_U:0001", u"HID_DEVICE_UPR:FF00-FFFF",
      u"HID_DEVICE"}},
    {"pointer, first of two collections of a single-interface device",
     {0x056A, 0x0392, 0x0109, std::nullopt, 1, 2, 0x0001, 0x0001},
     {u"HID\\VID_056A&PID_0392&REV_0109&Col01", u"HID\\VID_056A&PID_0392&Col01",
      u"HID\\VID_056A&UP:0001_U:0001", u"HID_DEVICE_SYSTEM_MOUSE", u"HID_DEVICE_UP:0001_U:0001",
      u"HID_DEVICE"}},
    {"keypad, tenth collection, revision unknown",
     {0x0ABC, 0x00EF, std::nullopt, std::nullopt, 10, 12, 0x0001, 0x0007},
     {u"HID\\VID_0ABC&PID_00EF&Col0A", u"HID\\VID_0ABC&UP:0001_U:0007",
      u"HID_DEVICE_SYSTEM_KEYBOARD", u"HID_DEVICE_UP:0001_U:0007", u"HID_DEVICE"}},
    {"consumer control",
     {0x1234, 0xABCD, 0x0001, 2, 3, 3, 0x000C, 0x0001},
     {u"HID\\VID_1234&PID_ABCD&REV_0001&MI_02&Col03", u"HID\\VID_1234&PID_ABCD&MI_02&Col03",
      u"HID\\VID_1234&UP:000C_U:0001", u"HID_DEVICE_SYSTEM_CONSUMER", u"HID_DEVICE_UP:000C_U:0001",
      u"HID_DEVICE"}},
    {"game pad, the largest numbers",
     {0xFFFF, 0xFFFF, 0xFFFF, 0xFF, 1, 2, 0x0001, 0x0005},
     {u"HID\\VID_FFFF&PID_FFFF&REV_FFFF&MI_FF&Col01", u"HID\\VID_FFFF&PID_FFFF&MI_FF&Col01",
      u"HID\\VID_FFFF&UP:0001_U:0005", u"HID_DEVICE_SYSTEM_GAME", u"HID_DEVICE_UP:0001_U:0005",
      u"HID_DEVICE"}},
    {"system control",
     {0x0001, 0x0002, std::nullopt, std::nullopt, 1, 1, 0x0001, 0x0080},
     {u"HID\\VID_0001&PID_0002", u"HID\\VID_0001&UP:0001_U:0080", u"HID_DEVICE_SYSTEM_CONTROL",
      u"HID_DEVICE_UP:0001_U:0080", u"HID_DEVICE"}},
    {"generic desktop usage of no system kind",
     {0x0001, 0x0002, std::nullopt, std::nullopt, 1, 1, 0x0001, 0x0008},
     {u"HID\\VID_0001&PID_0002", u"HID\\VID_0001&UP:0001_U:0008", u"HID_DEVICE_UP:0001_U:0008",
      u"HID_DEVICE"}},
};

TEST(HidHardwareIds, ListedInTheFormsAndOrderOfWindows) {
    for (const IdCase& test : kCases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(WindowsHardwareIds(test.identity), test.ids);
    }
}

// An include list written on Windows selects the same collection, whatever the letter case.
TEST(HidHardwareIds, AnIncludeListWrittenOnWindowsSelectsTheCollection) {
    const Ids vendor = WindowsHardwareIds({0x1234, 0xABCD, 0x0102, 1, 2, 2, 0xFFA0, 0x0001});
    const Ids mouse = WindowsHardwareIds({0x1234, 0xABCD, 0x0102, 1, 1, 2, 0x0001, 0x0002});
    const Ids include{u"hid\\vid_1234&pid_abcd&mi_01&col02"};
    EXPECT_TRUE(SelectedByIncludeList(include, vendor));
    EXPECT_FALSE(SelectedByIncludeList(include, mouse));
}

}  // namespace
}  // namespace korv
