#include "app/report_dispatch.h"

#include <gtest/gtest.h>

#include "app/messages.h"
#include "app/settings_file.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/fake/fake_window_system.h"
#include "profile/dm_unit.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using fake::WindowMessage;
using test::Bytes;

class DispatchTest : public ::testing::Test, protected fake::FakeDataModulePorts {
  protected:
    DispatchTest() {
        dm_ = LoadDataModule(Ports());
        windows_.windows[std::u16string(kConfigWindowClass)] = test::kConfigWindow;
        debug.lines.clear();
        dispatcher_ = std::make_unique<ReportDispatcher>(
            ReportDispatcher::Ports{windows_, registry, microphone_, debug}, *dm_,
            test::kMonitorWindow);
    }

    void Report(std::uint8_t id, Bytes data, std::uint16_t size = 7) {
        dispatcher_->uiHIDData1Data(u"", u"", id, data, size);
    }
    // Hands every UM_MONITOR_EVENT posted so far to the handler, as the message loop does.
    void RunMessageLoop() {
        const auto posted = windows_.messages;
        windows_.messages.clear();
        for (const WindowMessage& m : posted) {
            if (m.window == test::kMonitorWindow && m.message == UM_MONITOR_EVENT) {
                dispatcher_->WMMonitorEvent(m.wparam, m.lparam);
            } else {
                windows_.messages.push_back(m);
            }
        }
    }
    void SetFunction(int button, std::uint16_t code) {
        dm_->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[button].FunctionCode = code;
    }
    std::optional<std::uint32_t> ProfileID() const {
        const StoredValue* v = registry.Find(StoreScope::User, test::kDefaultRegKey, u"ProfileID");
        if (v == nullptr)
            return std::nullopt;
        return v->data[0] | v->data[1] << 8 | v->data[2] << 16 | v->data[3] << 24;
    }

    fake::FakeWindowSystem windows_;
    fake::FakeMicrophone microphone_;
    std::unique_ptr<TDM> dm_;
    std::unique_ptr<ReportDispatcher> dispatcher_;
};

TEST_F(DispatchTest, ReportsBecomeTheMessagesTheyStandFor) {
    struct Case {
        const char* what;
        std::uint8_t id;
        Bytes data;
        std::uint16_t size;
        std::vector<WindowMessage> expected;
    };
    const Case cases[] = {
        {"button 0",
         7,
         {1, 0, 0, 0, 0, 0, 0},
         7,
         {{test::kMonitorWindow, UM_MONITOR_EVENT, 0, 1, false}}},
        {"button 23",
         7,
         {0, 0, 0x80, 9, 9, 9, 9},
         7,
         {{test::kMonitorWindow, UM_MONITOR_EVENT, 23, 1, false}}},
        {"button 12",
         7,
         {0, 0x10, 0, 0, 0, 0, 0},
         7,
         {{test::kMonitorWindow, UM_MONITOR_EVENT, 12, 1, false}}},
        {"two buttons", 7, {3, 0, 0, 0, 0, 0, 0}, 7, {}},
        {"all buttons up", 7, {0, 0, 0, 0, 0, 0, 0}, 7, {}},
        {"key report of 8 bytes", 7, {1, 0, 0, 0, 0, 0, 0, 0}, 8, {}},
        {"report 9", 9, {1, 0, 0, 0, 0, 0, 0}, 7, {}},
        {"size larger than the data", 7, {1, 0, 0}, 7, {}},
        {"profile slot 4",
         8,
         {1, 4, 0, 0, 0, 0, 0},
         7,
         {{test::kMonitorWindow, UM_MONITOR_EVENT, 25, 0, false}}},
        {"profile slot 0",
         8,
         {1, 0, 0, 0, 0, 0, 0},
         7,
         {{test::kMonitorWindow, UM_MONITOR_EVENT, 21, 0, false}}},
        {"profile slot 5", 8, {1, 5, 0, 0, 0, 0, 0}, 7, {}},
        {"event kind 2",
         8,
         {2, 0x7F, 0, 0, 0, 0, 0},
         7,
         {{test::kConfigWindow, UM_DEVICE_NOTIFY_2, 0x7F, 0, false}}},
        {"event kind 6",
         8,
         {6, 3, 0, 0, 0, 0, 0},
         7,
         {{test::kConfigWindow, UM_DEVICE_NOTIFY_6, 3, 0, false}}},
        {"event kind 3", 8, {3, 1, 0, 0, 0, 0, 0}, 7, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        windows_.messages.clear();
        Report(c.id, c.data, c.size);
        EXPECT_EQ(windows_.messages, c.expected);
    }
}

TEST_F(DispatchTest, KeyEventsWriteTheTraceLine) {
    Report(7, {0, 0, 0x80, 0, 0, 0, 0});
    Report(7, {3, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(debug.lines, (std::vector<std::u16string>{u"KeyIndex = 23 postmessage record!"}));
}

TEST_F(DispatchTest, ForwardedEventsNeedTheConfigurationProgram) {
    windows_.windows.clear();
    Report(8, {2, 1, 0, 0, 0, 0, 0});
    EXPECT_TRUE(windows_.messages.empty());
}

TEST_F(DispatchTest, MicrophoneButtonTogglesOncePerReport) {
    SetFunction(4, 28);
    SetFunction(5, 27);
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    RunMessageLoop();
    EXPECT_EQ(microphone_.toggles, 1);
    EXPECT_TRUE(microphone_.muted);
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    RunMessageLoop();
    EXPECT_FALSE(microphone_.muted);
    Report(7, {0x20, 0, 0, 0, 0, 0, 0});  // another function
    Report(7, {0, 0, 0, 0, 0, 0, 0});     // release
    RunMessageLoop();
    EXPECT_EQ(microphone_.toggles, 2);
}

TEST_F(DispatchTest, ProfileEventsWriteProfileIDAndSendTheSlot) {
    for (auto [slot, id] : {std::pair{4, 1u}, {0, 0u}, {2, 1u}}) {
        SCOPED_TRACE(slot);
        windows_.messages.clear();
        Report(8, {1, static_cast<std::uint8_t>(slot), 0, 0, 0, 0, 0});
        RunMessageLoop();
        EXPECT_EQ(ProfileID(), id);
        EXPECT_EQ(windows_.messages,
                  (std::vector<WindowMessage>{
                      {test::kConfigWindow, UM_PROFILE_SWITCHED, std::uintptr_t(slot), 0, true}}));
    }
    // The monitor's own active profile does not change.
    EXPECT_EQ(dm_->FProfileIndex, 2);
}

TEST_F(DispatchTest, ProfileEventWithoutPeerOrFolder) {
    windows_.windows.clear();
    dispatcher_->WMMonitorEvent(22, 0);
    EXPECT_EQ(ProfileID(), 1u);
    EXPECT_TRUE(windows_.messages.empty());

    fake::MemoryKeyedStore empty;  // no registry folder: never created here
    ReportDispatcher without_folder({windows_, empty, microphone_, debug}, *dm_,
                                    test::kMonitorWindow);
    windows_.windows[std::u16string(kConfigWindowClass)] = test::kConfigWindow;
    without_folder.WMMonitorEvent(21, 0);
    EXPECT_FALSE(without_folder.WriteProfileID(5));
    EXPECT_TRUE(empty.ValueNames(StoreScope::User, test::kDefaultRegKey).empty());
    EXPECT_EQ(windows_.messages.size(), 1u);  // the message still goes out
}

TEST_F(DispatchTest, AConfigurationProgramThatDoesNotAnswerIsTraced) {
    windows_.answers = false;
    Report(8, {1, 1, 0, 0, 0, 0, 0});
    RunMessageLoop();
    EXPECT_EQ(ProfileID(), 1u);
    EXPECT_EQ(debug.lines.back(), u"The configuration program did not answer UM_PROFILE_SWITCHED");
}

TEST_F(DispatchTest, MeaninglessEventValuesAreIgnored) {
    for (int i = 0; i < 12; ++i)
        SetFunction(i, 28);
    for (std::uintptr_t w : {12u, 20u, 26u, 1000u})
        dispatcher_->WMMonitorEvent(w, 1);
    EXPECT_EQ(microphone_.toggles, 0);
    EXPECT_TRUE(windows_.messages.empty());
}

}  // namespace
}  // namespace korv
