// Two classes of HID interfaces seen as one: the walk lists them class after class, and an
// interface is opened by the class that listed it.
#include "hid/combined_hid_interfaces.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/ui_hid_data.h"
#include "platform/fake/fake_hid.h"
#include "platform/fake/fake_main_loop.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using test::kMouseCaps;

std::vector<std::u16string> PathsOf(const std::vector<HidInterfaceInfo>& infos) {
    std::vector<std::u16string> paths;
    for (const HidInterfaceInfo& info : infos)
        paths.push_back(info.path);
    return paths;
}

std::vector<std::u16string> OpenedPaths(const fake::FakeHidInterfaces& interfaces) {
    std::vector<std::u16string> paths;
    for (const fake::HidOpenRecord& open : interfaces.Opens())
        paths.push_back(open.path);
    return paths;
}

class CombinedHidInterfacesTest : public ::testing::Test {
  protected:
    CombinedHidInterfacesTest() {
        platform_.Add(u"\\\\?\\hid#mouse", {u"HID\\VID_1"}, kMouseCaps);
        platform_.Add(u"\\\\?\\hid#keyboard", {u"HID\\VID_2"}, HidCapabilities{6, 1, 9, 0, 0});
        pipes_.Add(u"\\\\.\\pipe\\sim", {u"HID\\SIM"}, kMouseCaps);
        // Listed by both: the first class's interface.
        pipes_.Add(u"\\\\?\\hid#mouse", {u"HID\\OTHER"}, kMouseCaps);
    }

    fake::FakeHidInterfaces platform_;
    fake::FakeHidInterfaces pipes_;
    CombinedHidInterfaces combined_{{&platform_, &pipes_}};
};

TEST_F(CombinedHidInterfacesTest, ListsClassAfterClassAndEachPathOnce) {
    const std::vector<HidInterfaceInfo> found = combined_.Enumerate();
    EXPECT_EQ(PathsOf(found),
              (std::vector<std::u16string>{u"\\\\?\\hid#mouse", u"\\\\?\\hid#keyboard",
                                           u"\\\\.\\pipe\\sim"}));
    EXPECT_EQ(found[0].hardware_ids, std::vector<std::u16string>{u"HID\\VID_1"});
}

TEST_F(CombinedHidInterfacesTest, OpensThroughTheClassThatListedThePath) {
    static_cast<void>(combined_.Enumerate());  // only the listing matters here
    for (const std::u16string path :
         {u"\\\\?\\hid#mouse", u"\\\\.\\pipe\\sim", u"\\\\?\\hid#keyboard"}) {
        const auto opened = combined_.Open(path, HidOpenMode::Reading);
        EXPECT_NE(opened.device, nullptr);
    }
    EXPECT_EQ(OpenedPaths(platform_),
              (std::vector<std::u16string>{u"\\\\?\\hid#mouse", u"\\\\?\\hid#keyboard"}));
    EXPECT_EQ(OpenedPaths(pipes_), std::vector<std::u16string>{u"\\\\.\\pipe\\sim"});
    EXPECT_EQ(pipes_.Opens()[0].mode, HidOpenMode::Reading);
}

TEST_F(CombinedHidInterfacesTest, APathNoWalkListedIsNotOpened) {
    const auto before_any_walk = combined_.Open(u"\\\\.\\pipe\\sim", HidOpenMode::Control);
    EXPECT_EQ(before_any_walk.device, nullptr);
    EXPECT_EQ(before_any_walk.failure.kind, HidFailureKind::DeviceGone);
    static_cast<void>(combined_.Enumerate());  // only the listing matters here
    EXPECT_EQ(combined_.Open(u"\\\\.\\pipe\\other", HidOpenMode::Control).device, nullptr);
    EXPECT_TRUE(platform_.Opens().empty());
    EXPECT_TRUE(pipes_.Opens().empty());
}

TEST_F(CombinedHidInterfacesTest, TheComponentReadsInterfacesOfBothClasses) {
    fake::FakeMainLoop loop;
    fake::ThreadSafeDebugOutput debug;
    TuiHIDData hid(combined_, loop, debug, {});
    hid.HidFindAndReadDevice(kMouseVendorCollection, u"*");
    EXPECT_EQ(hid.RunningReaderCount(), 2u);  // the platform's mouse and the pipe
    hid.HidStopRead();
    EXPECT_EQ(platform_.OpenDevices() + pipes_.OpenDevices(), 0u);
}

}  // namespace
}  // namespace korv
