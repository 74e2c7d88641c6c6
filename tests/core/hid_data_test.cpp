// The interface walk and the output and feature operations of TuiHIDData.
#include "hid/ui_hid_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "hid/usage_and_page.h"
#include "platform/fake/fake_hid.h"
#include "platform/fake/fake_main_loop.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using fake::HidTransfer;
using test::Bytes;
using test::kMouseCaps;

const std::u16string kMouseId = u"HID\\VID_1234&PID_5678&MI_01";

class HidDataTest : public ::testing::Test {
  protected:
    TuiHIDData& Create(std::vector<std::u16string> include_list = {}) {
        hid_ = std::make_unique<TuiHIDData>(interfaces_, loop_, debug_, std::move(include_list));
        return *hid_;
    }
    // A parameter block for the mouse's collection carrying bytes 1, 2, 3, ... after `report_id`.
    static std::unique_ptr<THIDDataParam> Param(std::uint32_t data_size, std::uint8_t report_id,
                                                std::u16string device_id = u"*") {
        auto param = std::make_unique<THIDDataParam>();
        param->UsageAndPage = kMouseVendorCollection;
        param->DeviceID = std::move(device_id);
        param->Data.ReportID = report_id;
        for (std::size_t i = 0; i < sizeof param->Data.DATAReally; ++i) {
            param->Data.DATAReally[i] = static_cast<std::uint8_t>(i + 1);
        }
        param->Data.DATASIZE = data_size;
        return param;
    }
    std::vector<std::u16string> TransferPaths() const {
        std::vector<std::u16string> paths;
        for (const HidTransfer& transfer : interfaces_.Transfers()) {
            paths.push_back(transfer.path);
        }
        return paths;
    }

    fake::FakeHidInterfaces interfaces_;
    fake::FakeMainLoop loop_;
    fake::ThreadSafeDebugOutput debug_;
    std::unique_ptr<TuiHIDData> hid_;
};

TEST_F(HidDataTest, WalkSkipsInterfacesThatCannotBeOpenedOrQueriedOrHaveAnotherCollection) {
    interfaces_.Add(u"\\\\?\\keyboard", {u"HID\\KBD"}, HidCapabilities{6, 1, 9, 2, 0});
    interfaces_.Add(u"\\\\?\\locked", {kMouseId}, kMouseCaps).open_fails = true;
    interfaces_.Add(u"\\\\?\\broken", {kMouseId}, std::nullopt);
    interfaces_.Add(u"\\\\?\\other-usage", {kMouseId}, HidCapabilities{2, 0xFFA0, 8, 8, 16});
    interfaces_.Add(u"\\\\?\\mouse", {kMouseId}, kMouseCaps);
    const auto& hid = Create();
    EXPECT_TRUE(hid.IsDeviceExist(*Param(0, 0)));
    EXPECT_TRUE(hid.HidFindAndWriteDeviceBYHID(*Param(8, 7)));
    EXPECT_EQ(TransferPaths(), std::vector<std::u16string>{u"\\\\?\\mouse"});
    EXPECT_EQ(interfaces_.Opens().size(), 10u);  // every interface, both times
    for (const auto& open : interfaces_.Opens()) {
        EXPECT_EQ(open.mode, HidOpenMode::Control);
    }
    EXPECT_EQ(interfaces_.OpenDevices(), 0u);  // each closed again
}

TEST_F(HidDataTest, WriteDeviceSendsTheIdentifierAndDataSizeBytesAfterIt) {
    interfaces_.Add(u"mouse", {kMouseId}, kMouseCaps);
    const auto& hid = Create();
    EXPECT_TRUE(hid.HidFindAndWriteDevice(*Param(7, 9)));
    EXPECT_TRUE(hid.HidFindAndWriteDeviceBYHID(*Param(8, 9)));  // counts the identifier too
    const auto transfers = interfaces_.Transfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].bytes, (Bytes{9, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(transfers[1].bytes, transfers[0].bytes);
    EXPECT_EQ(transfers[0].kind, HidTransfer::Kind::Write);
}

TEST_F(HidDataTest, DataSizeAboveTheReportLengthSkipsTheInterface) {
    interfaces_.Add(u"mouse", {kMouseId}, kMouseCaps);  // output 8, feature 16
    auto& hid = Create();
    EXPECT_FALSE(hid.HidFindAndWriteDevice(*Param(9, 1)));
    EXPECT_FALSE(hid.HidFindAndWriteDeviceBYHID(*Param(9, 1)));
    EXPECT_EQ(hid.HidFindAndGetFeatureReport(*Param(17, 1)), kNoMatchingInterface);
    EXPECT_EQ(hid.HidFindAndSetFeatureReport(*Param(17, 1)), kNoMatchingInterface);
    EXPECT_TRUE(interfaces_.Transfers().empty());
    // Equal lengths pass.
    EXPECT_TRUE(hid.HidFindAndWriteDevice(*Param(8, 1)));  // 9 bytes: the length counts one less
    EXPECT_EQ(hid.HidFindAndSetFeatureReport(*Param(16, 1)), 0u);
}

TEST_F(HidDataTest, WritesReachEveryMatchingInterfaceAndOneSuccessIsEnough) {
    interfaces_.Add(u"first", {kMouseId}, kMouseCaps).write_failure =
        HidFailure{"WriteFile", HidFailureKind::Other, 31};
    interfaces_.Add(u"second", {kMouseId}, kMouseCaps);
    interfaces_.Add(u"third", {kMouseId}, kMouseCaps).write_failure =
        HidFailure{"WriteFile", HidFailureKind::AccessDenied, 5};
    const auto& hid = Create();
    EXPECT_TRUE(hid.HidFindAndWriteDevice(*Param(7, 1)));
    EXPECT_EQ(TransferPaths(), (std::vector<std::u16string>{u"first", u"second", u"third"}));
}

TEST_F(HidDataTest, FailedWritesGiveFalse) {
    interfaces_.Add(u"mouse", {kMouseId}, kMouseCaps).write_failure =
        HidFailure{"WriteFile", HidFailureKind::Other, 31};
    const auto& hid = Create();
    EXPECT_FALSE(hid.HidFindAndWriteDevice(*Param(7, 1)));
    EXPECT_FALSE(hid.HidFindAndWriteDeviceBYHID(*Param(8, 1)));
}

TEST_F(HidDataTest, ANamedDeviceIdIgnoresTheIncludeList) {
    interfaces_.Add(u"mouse", {u"HID\\OTHER", kMouseId}, kMouseCaps);
    const auto& hid = Create({u"HID\\SOMETHING_ELSE"});
    EXPECT_TRUE(hid.IsDeviceExist(*Param(0, 0, u"hid\\vid_1234&pid_5678&mi_01")));
    EXPECT_TRUE(hid.HidFindAndWriteDevice(*Param(7, 1, kMouseId)));
    EXPECT_FALSE(hid.IsDeviceExist(*Param(0, 0, u"HID\\ABSENT")));
    EXPECT_FALSE(hid.HidFindAndWriteDevice(*Param(7, 1, u"HID\\ABSENT")));
    // "*" and "" fall back to the include list, which excludes the mouse.
    EXPECT_FALSE(hid.IsDeviceExist(*Param(0, 0, u"*")));
    EXPECT_FALSE(hid.HidFindAndWriteDevice(*Param(7, 1, u"")));
    // Every interface, whatever the list and DeviceID say.
    EXPECT_TRUE(hid.HidFindAndWriteDeviceBYHID(*Param(8, 1, u"HID\\ABSENT")));
}

TEST_F(HidDataTest, FeatureReportsFollowTheIncludeList) {
    interfaces_.Add(u"excluded", {u"HID\\OTHER"}, kMouseCaps);
    interfaces_.Add(u"included", {u"HID\\Other", kMouseId}, kMouseCaps);
    auto& hid = Create({u"hid\\vid_1234&pid_5678&mi_01"});
    EXPECT_EQ(hid.HidFindAndSetFeatureReport(*Param(4, 3, u"HID\\OTHER")), 0u);
    EXPECT_EQ(hid.HidFindAndGetFeatureReport(*Param(4, 3)), 0u);
    EXPECT_EQ(TransferPaths(), (std::vector<std::u16string>{u"included", u"included"}));
}

TEST_F(HidDataTest, GetFeatureReportFillsDataSizeBytesFromTheIdentifierOn) {
    interfaces_.Add(u"mouse", {kMouseId}, kMouseCaps).feature_bytes = {0xA1, 0xA2, 0xA3, 0xA4};
    auto& hid = Create();
    auto param = Param(3, 5);
    EXPECT_EQ(hid.HidFindAndGetFeatureReport(*param), 0u);
    EXPECT_EQ(interfaces_.Transfers().at(0).bytes, (Bytes{5, 0, 0}));  // the request
    EXPECT_EQ(param->Data.ReportID, 5);
    EXPECT_EQ(Bytes(param->Data.DATAReally, param->Data.DATAReally + 4), (Bytes{0xA1, 0xA2, 3, 4}));
}

TEST_F(HidDataTest, SetFeatureReportSendsDataSizeBytesAndNamesTheInterface) {
    interfaces_.Add(u"mouse", {kMouseId}, kMouseCaps);
    auto& hid = Create();
    auto param = Param(4, 6);
    EXPECT_EQ(hid.HidFindAndSetFeatureReport(*param), 0u);
    const auto transfers = interfaces_.Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].kind, HidTransfer::Kind::SetFeature);
    EXPECT_EQ(transfers[0].bytes, (Bytes{6, 1, 2, 3}));
    EXPECT_NE(param->DeviceHandle, 0u);
}

TEST_F(HidDataTest, FeatureReportErrors) {
    auto& failing = interfaces_.Add(u"mouse", {kMouseId}, kMouseCaps);
    auto& hid = Create();
    // No matching interface is an error, not success.
    auto other_page = Param(4, 1);
    other_page->UsageAndPage = {1, 0xFF00};
    EXPECT_EQ(hid.HidFindAndGetFeatureReport(*other_page), kNoMatchingInterface);
    EXPECT_EQ(hid.HidFindAndSetFeatureReport(*other_page), kNoMatchingInterface);
    EXPECT_EQ(other_page->DeviceHandle, 0u);

    failing.feature_failure = HidFailure{"HidD_GetFeature", HidFailureKind::Invalid, 87};
    auto param = Param(4, 1);
    EXPECT_EQ(hid.HidFindAndGetFeatureReport(*param), 87u);
    EXPECT_EQ(param->Data.DATAReally[0], 1);  // untouched
    EXPECT_EQ(hid.HidFindAndSetFeatureReport(*param), 87u);
    failing.feature_failure = HidFailure{"HidD_SetFeature", HidFailureKind::Other, 0};
    EXPECT_EQ(hid.HidFindAndSetFeatureReport(*param), kFeatureFailedWithoutCode);
}

TEST_F(HidDataTest, LaterMatchDecidesTheFeatureResult) {
    interfaces_.Add(u"first", {kMouseId}, kMouseCaps);
    interfaces_.Add(u"second", {kMouseId}, kMouseCaps).feature_failure =
        HidFailure{"HidD_SetFeature", HidFailureKind::DeviceGone, 1167};
    auto& hid = Create();
    EXPECT_EQ(hid.HidFindAndSetFeatureReport(*Param(4, 1)), 1167u);
}

}  // namespace
}  // namespace korv
