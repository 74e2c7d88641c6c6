#include "app/report_dispatch.h"

#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "platform/fake/fake_config_peer.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/fake/fake_main_loop.h"
#include "profile/dm_unit.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using fake::PeerCall;
using test::Bytes;
using Calls = std::vector<PeerCall>;

constexpr auto kProfile = PeerCall::Kind::ProfileSwitched;

class DispatchTest : public ::testing::Test, protected fake::FakeDataModulePorts {
  protected:
    DispatchTest() {
        dm_ = LoadDataModule(Ports());
        debug.lines.clear();
        dispatcher_ = std::make_unique<ReportDispatcher>(DispatchPorts(registry), *dm_);
    }

    ReportDispatcher::Ports DispatchPorts(KeyedStore& store) {
        return {peer_, loop_, store, microphone_, debug};
    }
    void Report(std::uint8_t id, Bytes data, std::uint16_t size = 7) {
        dispatcher_->uiHIDData1Data(u"", u"", id, data, size);
    }
    void ProfileReport(std::uint8_t slot) { Report(8, {1, slot, 0, 0, 0, 0, 0}); }
    void SetFunction(int button, std::uint16_t code) {
        dm_->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[button].FunctionCode = code;
    }
    std::optional<std::uint32_t> ProfileID() const {
        const StoredValue* v = registry.Find(StoreScope::User, test::kDefaultRegKey, u"ProfileID");
        if (v == nullptr)
            return std::nullopt;
        return v->data[0] | v->data[1] << 8 | v->data[2] << 16 | v->data[3] << 24;
    }

    fake::FakeConfigPeer peer_;
    fake::FakeMainLoop loop_;
    fake::FakeMicrophone microphone_;
    std::unique_ptr<TDM> dm_;
    std::unique_ptr<ReportDispatcher> dispatcher_;
};

// Every button has the mute function, so a key event shows as a toggle. Key and profile events
// act only once the main loop runs the task the decoder left; device events 2 and 6 are told to
// the peer at once.
TEST_F(DispatchTest, ReportsBecomeTheActionsTheyStandFor) {
    for (int i = 0; i < 12; ++i)
        SetFunction(i, 28);
    struct Case {
        const char* what;
        std::uint8_t id;
        Bytes data;
        std::uint16_t size;
        Calls at_once;
        int toggles;  // after the main loop ran
        Calls later;
    };
    const Case cases[] = {
        {"button 0", 7, {1, 0, 0, 0, 0, 0, 0}, 7, {}, 1, {}},
        {"button 11", 7, {0, 8, 0, 0, 0, 0, 0}, 7, {}, 1, {}},
        {"button 23: profile slot 2", 7, {0, 0, 0x80, 9, 9, 9, 9}, 7, {}, 0, {{kProfile, 2}}},
        {"button 12: nothing", 7, {0, 0x10, 0, 0, 0, 0, 0}, 7, {}, 0, {}},
        {"two buttons", 7, {3, 0, 0, 0, 0, 0, 0}, 7, {}, 0, {}},
        {"all buttons up", 7, {0, 0, 0, 0, 0, 0, 0}, 7, {}, 0, {}},
        {"key report of 8 bytes", 7, {1, 0, 0, 0, 0, 0, 0, 0}, 8, {}, 0, {}},
        {"report 9", 9, {1, 0, 0, 0, 0, 0, 0}, 7, {}, 0, {}},
        {"size larger than the data", 7, {1, 0, 0}, 7, {}, 0, {}},
        {"profile slot 4", 8, {1, 4, 0, 0, 0, 0, 0}, 7, {}, 0, {{kProfile, 4}}},
        {"profile slot 0", 8, {1, 0, 0, 0, 0, 0, 0}, 7, {}, 0, {{kProfile, 0}}},
        {"profile slot 5", 8, {1, 5, 0, 0, 0, 0, 0}, 7, {}, 0, {}},
        {"event kind 2",
         8,
         {2, 0x7F, 0, 0, 0, 0, 0},
         7,
         {{PeerCall::Kind::DeviceEvent2, 0x7F}},
         0,
         {}},
        {"event kind 6", 8, {6, 3, 0, 0, 0, 0, 0}, 7, {{PeerCall::Kind::DeviceEvent6, 3}}, 0, {}},
        {"event kind 3", 8, {3, 1, 0, 0, 0, 0, 0}, 7, {}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        peer_.calls.clear();
        microphone_.toggles = 0;
        Report(c.id, c.data, c.size);
        EXPECT_EQ(peer_.calls, c.at_once);
        EXPECT_EQ(microphone_.toggles, 0);
        peer_.calls.clear();
        loop_.RunPending();
        EXPECT_EQ(microphone_.toggles, c.toggles);
        EXPECT_EQ(peer_.calls, c.later);
    }
}

TEST_F(DispatchTest, KeyEventsWriteTheTraceLine) {
    Report(7, {0, 0, 0x80, 0, 0, 0, 0});
    Report(7, {3, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(debug.lines, (std::vector<std::u16string>{u"KeyIndex = 23 postmessage record!"}));
}

// A pressed button whose function the monitor does not perform says so once it is handled,
// counted from 0 as the simulated mouse counts; the mute button and a profile key say nothing.
TEST_F(DispatchTest, AButtonWithoutAnActionIsTraced) {
    const struct {
        int button;
        std::uint16_t code;
        std::u16string line;  // empty: none
    } cases[] = {
        {0, 0, u"button 0 has no action (function 0)"},
        {4, 27, u"button 4 has no action (function 27)"},
        {11, 38, u"button 11 has no action (function 38)"},
        {5, 47, u"button 5 has no action (function 47)"},
        {4, 28, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        SetFunction(c.button, c.code);
        Bytes mask(7, 0);
        mask[c.button / 8] = static_cast<std::uint8_t>(1u << (c.button % 8));
        Report(7, mask);
        debug.lines.clear();  // the decoder's own line
        loop_.RunPending();
        const std::vector<std::u16string> expected =
            c.line.empty() ? std::vector<std::u16string>{} : std::vector{c.line};
        EXPECT_EQ(debug.lines, expected);
    }
    // Key index 22 is a profile switch, not a button.
    Report(7, {0, 0, 0x40, 0, 0, 0, 0});
    debug.lines.clear();
    loop_.RunPending();
    EXPECT_TRUE(debug.lines.empty());
}

TEST_F(DispatchTest, WithoutAPeerNothingIsTold) {
    peer_.running = false;
    Report(8, {2, 1, 0, 0, 0, 0, 0});
    ProfileReport(3);
    loop_.RunPending();
    EXPECT_TRUE(peer_.calls.empty());
    EXPECT_EQ(ProfileID(), 1u);  // the switch is still recorded
    EXPECT_TRUE(debug.lines.empty());
}

TEST_F(DispatchTest, MicrophoneButtonTogglesOncePerReport) {
    SetFunction(4, 28);
    SetFunction(5, 27);
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    loop_.RunPending();
    EXPECT_EQ(microphone_.toggles, 1);
    EXPECT_TRUE(microphone_.muted);
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    loop_.RunPending();
    EXPECT_FALSE(microphone_.muted);
    Report(7, {0x20, 0, 0, 0, 0, 0, 0});  // another function
    Report(7, {0, 0, 0, 0, 0, 0, 0});     // release
    loop_.RunPending();
    EXPECT_EQ(microphone_.toggles, 2);
}

TEST_F(DispatchTest, ProfileEventsWriteProfileIDAndTellTheSlot) {
    for (auto [slot, id] : {std::pair{4, 1u}, {0, 0u}, {2, 1u}}) {
        SCOPED_TRACE(slot);
        peer_.calls.clear();
        ProfileReport(static_cast<std::uint8_t>(slot));
        loop_.RunPending();
        EXPECT_EQ(ProfileID(), id);
        EXPECT_EQ(peer_.calls, (Calls{{kProfile, static_cast<std::uint8_t>(slot)}}));
    }
    // The monitor's own active profile does not change.
    EXPECT_EQ(dm_->FProfileIndex, 2);
}

TEST_F(DispatchTest, ProfileEventWithoutFolderStillTellsThePeer) {
    fake::MemoryKeyedStore empty;  // no registry folder: never created here
    ReportDispatcher without_folder(DispatchPorts(empty), *dm_);
    without_folder.WMMonitorEvent(21, 0);
    EXPECT_FALSE(without_folder.WriteProfileID(5));
    EXPECT_TRUE(empty.ValueNames(StoreScope::User, test::kDefaultRegKey).empty());
    EXPECT_EQ(peer_.calls, (Calls{{kProfile, 0}}));
}

TEST_F(DispatchTest, AConfigurationProgramThatDoesNotAnswerIsTraced) {
    peer_.answers = false;
    ProfileReport(1);
    loop_.RunPending();
    EXPECT_EQ(ProfileID(), 1u);
    EXPECT_EQ(debug.lines.back(), u"The configuration program did not answer UM_PROFILE_SWITCHED");
}

// A slow peer: the profile switches that arrive while it is being told (or before the main
// loop came round to it) are told once, as the latest; the mute button waits for none of them.
TEST_F(DispatchTest, ProfileSwitchesQueuedBehindASlowPeerAreFoldedIntoTheLatest) {
    SetFunction(4, 28);
    for (int i = 0; i < 600; ++i)
        ProfileReport(static_cast<std::uint8_t>(i % 5));
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});  // the mute button behind them
    EXPECT_EQ(loop_.PendingTasks(), 2u);
    // While the peer is being told, more switches arrive (a nested delivery).
    peer_.on_ask = [this] {
        peer_.on_ask = nullptr;
        for (std::uint8_t slot : {1, 3})
            ProfileReport(slot);
    };
    loop_.RunPending();
    EXPECT_EQ(microphone_.toggles, 1);
    EXPECT_EQ(peer_.calls, (Calls{{kProfile, 4}}));  // 599 % 5
    loop_.RunPending();
    EXPECT_EQ(peer_.calls, (Calls{{kProfile, 4}, {kProfile, 3}}));
    EXPECT_EQ(loop_.PendingTasks(), 0u);
}

// Profile switches fold whatever announces them: key indexes 21..23 of key reports, and the
// monitor event another program sends; a key event another program sends acts at once.
TEST_F(DispatchTest, ProfileSwitchesOfKeyReportsAndOtherProgramsFoldToo) {
    SetFunction(4, 28);
    for (int i = 0; i < 600; ++i) {
        Report(7, {0, 0, 0x20, 0, 0, 0, 0});  // key index 21: profile slot 0
        dispatcher_->ReceiveMonitorEvent(kFirstProfileEvent + 3, 0);
    }
    dispatcher_->ReceiveMonitorEvent(4, 1);
    EXPECT_EQ(microphone_.toggles, 1);
    EXPECT_TRUE(peer_.calls.empty());
    EXPECT_EQ(loop_.RunPending(), 1u);
    EXPECT_EQ(peer_.calls, (Calls{{kProfile, 3}}));
}

// The program ends with tasks still queued: they find the dispatcher gone and tell nothing.
TEST_F(DispatchTest, TasksLeftWhenTheDispatcherGoesDoNothing) {
    SetFunction(4, 28);
    ProfileReport(2);
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    dispatcher_.reset();
    EXPECT_EQ(loop_.RunPending(), 2u);
    EXPECT_TRUE(peer_.calls.empty());
    EXPECT_EQ(microphone_.toggles, 0);
}

TEST_F(DispatchTest, EventsTheMainLoopRefusesAreTraced) {
    loop_.RefuseTasks(true);
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    ProfileReport(2);
    EXPECT_EQ(debug.lines,
              (std::vector<std::u16string>{
                  u"KeyIndex = 4 postmessage record!",
                  u"KeyIndex = 4 is lost: the main loop takes no more work",
                  u"Profile switch to slot 2 is lost: the main loop takes no more work",
              }));
    loop_.RefuseTasks(false);
    ProfileReport(3);  // a refused switch leaves nothing pending behind
    loop_.RunPending();
    EXPECT_EQ(peer_.calls, (Calls{{kProfile, 3}}));
}

TEST_F(DispatchTest, MeaninglessEventValuesAreIgnored) {
    for (int i = 0; i < 12; ++i)
        SetFunction(i, 28);
    for (std::uintptr_t w : {12u, 20u, 26u, 1000u})
        dispatcher_->WMMonitorEvent(w, 1);
    EXPECT_EQ(microphone_.toggles, 0);
    EXPECT_TRUE(peer_.calls.empty());
}

}  // namespace
}  // namespace korv
