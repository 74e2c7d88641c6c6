#include "app/mouse_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>

#include "app/settings_file.h"
#include "hook/hook_library.h"
#include "lang/translation_engine.h"
#include "tests/core/fake_monitor_ports.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using fake::PeerCall;

class MonitorTest : public ::testing::Test, protected fake::FakeMonitorPorts {
  protected:
    MonitorTest() { dm_ = LoadDataModule(Ports()); }
    // The translation engine is process-wide: leave it showing the source texts.
    ~MonitorTest() override { ResetLanguage(); }
    std::unique_ptr<TKORVANTH417MONMAIN> Create() {
        auto monitor =
            std::make_unique<TKORVANTH417MONMAIN>(nullptr, monitor_ports, *dm_, Settings());
        monitor->FormCreate();
        return monitor;
    }
    SettingsFile Settings() const { return SettingsFile::Load(files, locale); }
    // Line `n` of the tray's hint (0 is the program, 1 the microphone's state).
    std::u16string HintLine(std::size_t n) const {
        std::u16string_view rest = tray.hint;
        for (; n > 0 && rest.find(u'\n') != std::u16string_view::npos; --n)
            rest.remove_prefix(rest.find(u'\n') + 1);
        return n > 0 ? std::u16string() : std::u16string(rest.substr(0, rest.find(u'\n')));
    }
    void StoreLanguage(std::uint8_t index) {
        auto other = LoadDataModule(monitor_ports.data);  // the configuration program's side
        other->FAllProfileSettingInfo.CurrentLanguage = index;
        EXPECT_TRUE(other->SaveBackAllProfileSettingInfo());
    }

    std::unique_ptr<TDM> dm_;
};

TEST_F(MonitorTest, FormCreateShowsTheTrayInTheStoredLanguage) {
    const auto monitor = Create();
    // Language 0 is the first of the built-in table: Simplified Chinese.
    EXPECT_EQ(HintLine(0), u"游戏鼠标驱动程序");
    EXPECT_EQ(HintLine(1), TranslateText(u"Microphone on"));
    EXPECT_EQ(tray.title, u"游戏鼠标监控程序");
    EXPECT_EQ(tray.captions[0], u"打开配置");
    EXPECT_EQ(tray.captions[2], u"退出软件");
    EXPECT_EQ(microphone.prepared, 1);
    EXPECT_TRUE(monitor->uiHook1().DLLLoaded());
    EXPECT_TRUE(message_boxes.shown.empty());
    EXPECT_EQ(tray.icon, TrayIconState::Plain);
}

TEST_F(MonitorTest, ReloadSettingsFollowsTheStoredLanguage) {
    const auto monitor = Create();
    StoreLanguage(1);  // US
    monitor->WMReloadSettings();
    EXPECT_EQ(tray.hint, u"GAMING MOUSE DRIVER\nMicrophone on");
    EXPECT_EQ(tray.captions, (std::array<std::u16string, 3>{u"Config", u"About", u"Exit"}));
    StoreLanguage(0);
    monitor->WMReloadSettings();
    EXPECT_EQ(tray.captions[2], u"退出软件");
}

TEST_F(MonitorTest, ConfigRaisesTheRunningProgramOrStartsIt) {
    const auto monitor = Create();
    const auto cannot_start = [this] {
        return std::ranges::count(debug.lines, u"KORVANTH417.EXE cannot be started");
    };
    peer.running = false;
    monitor->TrayIconDblClick();
    EXPECT_EQ(peer.started, 1);
    EXPECT_EQ(cannot_start(), 0);
    peer.startable = false;
    monitor->Config1Click();
    EXPECT_EQ(cannot_start(), 1);
    peer.running = true;
    monitor->Config1Click();
    EXPECT_EQ(peer.shown, 1);
    EXPECT_EQ(peer.started, 2);
}

TEST_F(MonitorTest, ExitTellsTheConfigurationProgramOnceAndEnds) {
    const auto monitor = Create();
    monitor->Exit1Click();
    EXPECT_EQ(peer.calls, (std::vector<PeerCall>{{PeerCall::Kind::MonitorExit}}));
    EXPECT_EQ(tray.terminated, 1);
}

// Without a configuration program there is nobody to tell, and the monitor still ends.
TEST_F(MonitorTest, ExitWithoutTheConfigurationProgramStillEnds) {
    const auto monitor = Create();
    peer.running = false;
    monitor->Exit1Click();
    EXPECT_TRUE(peer.calls.empty());
    EXPECT_EQ(tray.terminated, 1);
}

TEST_F(MonitorTest, ReloadProfilesRecordsTheIdentifierAndTheNewProfile) {
    const auto monitor = Create();
    auto other = LoadDataModule(monitor_ports.data);
    TMouseProfileInfo& profile = other->FCurrentProfileInfo;
    EXPECT_TRUE(other->ReadProfileInfo(profile, 0));
    profile.ConfigInfo.ButtonFuncInfo[4].FunctionCode = kFunctionCodeMicrophoneMute;
    EXPECT_TRUE(other->SaveBackToProfileInfo(profile, 0));
    EXPECT_TRUE(other->SaveProfileInfoToRegistry(0));

    monitor->WMReloadProfiles(3);
    const StoredValue* id = registry.Find(StoreScope::User, test::kDefaultRegKey, u"ProfileID");
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->data[0], 3);
    monitor->Dispatcher().uiHIDData1Data(u"", u"", 7,
                                         std::vector<std::uint8_t>{0x10, 0, 0, 0, 0, 0, 0}, 7);
    monitor->WMMonitorEvent(4, 1);
    EXPECT_EQ(microphone.toggles, 1);
}

// ---- The microphone's state in the tray

class MuteFeedbackTest : public MonitorTest {
  protected:
    // A press of button 4 as the decoder hands it on (UM_MONITOR_EVENT for key index 4).
    static void PressMuteButton(TKORVANTH417MONMAIN& monitor) { monitor.WMMonitorEvent(4, 1); }
    void GiveButton4TheMute() {
        dm_->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode =
            kFunctionCodeMicrophoneMute;
    }
};

TEST_F(MuteFeedbackTest, TheTrayShowsTheStateAtStartAndAfterEachToggle) {
    microphone.muted = true;
    const auto monitor = Create();
    EXPECT_EQ(tray.icon, TrayIconState::Muted);
    EXPECT_EQ(HintLine(1), TranslateText(u"Microphone muted"));
    GiveButton4TheMute();
    PressMuteButton(*monitor);
    EXPECT_EQ(microphone.toggles, 1);
    EXPECT_EQ(tray.icon, TrayIconState::Plain);
    EXPECT_EQ(HintLine(1), TranslateText(u"Microphone on"));
    PressMuteButton(*monitor);
    EXPECT_EQ(tray.icon, TrayIconState::Muted);
    EXPECT_EQ(HintLine(1), TranslateText(u"Microphone muted"));
}

TEST_F(MuteFeedbackTest, AnUnknownStateShowsNothingAndTheSettingsFileCanTurnItOff) {
    microphone.readable = false;
    const auto unknown = Create();
    EXPECT_EQ(tray.icon, TrayIconState::Plain);
    EXPECT_EQ(HintLine(1), u"");

    files.Put(files.ExecutableFolder() + u"config.ini",
              test::Bytes{'[', 'O',  't', 'h', 'e', 'r', 'C', 'o', 'n', 'f', 'i', 'g',
                          ']', '\n', 'S', 'h', 'o', 'w', 'M', 'i', 'c', 'r', 'o', 'p',
                          'h', 'o',  'n', 'e', 'S', 't', 'a', 't', 'e', '=', '0'});
    dm_ = LoadDataModule(Ports());
    microphone.readable = true;
    microphone.muted = true;
    const auto off = Create();
    GiveButton4TheMute();
    PressMuteButton(*off);
    EXPECT_EQ(microphone.toggles, 1);  // the mute still works
    EXPECT_EQ(tray.icon, TrayIconState::Plain);
    EXPECT_EQ(HintLine(1), u"");
}

// ---- The re-open path of the mouse

constexpr HidCapabilities kMouseCollection{0x0001, 0xFFA0, 8, 8, 0};
const std::vector<std::uint8_t> kButton4Report{7, 0x10, 0, 0, 0, 0, 0, 0};

class ReopenTest : public MonitorTest {
  protected:
    ReopenTest() {
        hid.Add(u"mouse", {u"HID\\VID_1&PID_2&MI_01"}, kMouseCollection);
        hid.Add(u"keyboard", {u"HID\\VID_3&PID_4"}, HidCapabilities{6, 1, 9, 0, 0});
    }
    // The interfaces opened so far (by the search or by a reader), each once.
    std::set<std::u16string> Opened() const {
        std::set<std::u16string> paths;
        for (const fake::HidOpenRecord& open : hid.Opens())
            paths.insert(open.path);
        return paths;
    }
    int Reopens() const {
        return static_cast<int>(std::ranges::count_if(
            debug.lines, [](const std::u16string& l) { return l.starts_with(u"ReopenDevice: "); }));
    }
};

TEST_F(ReopenTest, TheMouseIsOpenedThreeSecondsAfterStartAndNotBefore) {
    const auto monitor = Create();
    EXPECT_EQ(notifications.DeliverPosted(), 1);  // the change the component posts itself
    loop.Advance(std::chrono::milliseconds(2999));
    EXPECT_TRUE(Opened().empty());
    loop.Advance(std::chrono::milliseconds(1));
    EXPECT_EQ(loop.slept, std::vector<std::chrono::milliseconds>{kReopenPause});
    EXPECT_EQ(monitor->uiHIDData1().RunningReaderCount(), 1u);  // the mouse's; not the keyboard
    EXPECT_EQ(hid.OpenDevices(), 1u);
    EXPECT_EQ(hid.ReadsStarted(u"keyboard"), 0);
}

TEST_F(ReopenTest, ABurstOfArrivalsCausesOneReopenAfterTheLast) {
    const auto monitor = Create();
    loop.Advance(std::chrono::milliseconds(3000));
    ASSERT_EQ(Reopens(), 1);
    for (int i = 0; i < 3; ++i) {
        notifications.Deliver(DeviceEventKind::Arrival, u"\\\\?\\hid#vid_1&pid_2&mi_01#1");
        loop.Advance(std::chrono::milliseconds(500));
    }
    loop.Advance(std::chrono::milliseconds(999));
    EXPECT_EQ(Reopens(), 1);
    loop.Advance(std::chrono::milliseconds(1));
    EXPECT_EQ(Reopens(), 2);
    EXPECT_EQ(monitor->uiHIDData1().ReaderCount(), 1u);  // the first reader was stopped first
    EXPECT_EQ(hid.OpenDevices(), 1u);
}

TEST_F(ReopenTest, AButtonPressOnTheMouseTogglesTheMicrophone) {
    auto other = LoadDataModule(monitor_ports.data);
    TMouseProfileInfo& profile = other->FCurrentProfileInfo;
    ASSERT_TRUE(other->ReadProfileInfo(profile, 0));
    profile.ConfigInfo.ButtonFuncInfo[4].FunctionCode = kFunctionCodeMicrophoneMute;
    ASSERT_TRUE(other->SaveBackToProfileInfo(profile, 0));
    ASSERT_TRUE(other->SaveProfileInfoToRegistry(0));
    const auto monitor = Create();
    monitor->WMReloadProfiles(0);
    loop.Advance(std::chrono::milliseconds(3000));

    hid.PushReport(u"mouse", kButton4Report);
    ASSERT_TRUE(loop.WaitForTasks(1, std::chrono::seconds(5)));
    EXPECT_EQ(loop.RunPending(), 1u);  // the delivery, on this thread
    EXPECT_EQ(microphone.toggles, 0);  // the decoder only hands the key event on
    EXPECT_EQ(loop.RunPending(), 1u);
    EXPECT_EQ(microphone.toggles, 1);
}

TEST_F(ReopenTest, TheIncludeListOfTheSettingsFileNarrowsTheSearch) {
    hid.Add(u"second mouse", {u"HID\\VID_5&PID_6"}, kMouseCollection);
    const std::u16string config = files.ExecutableFolder() + u"config.ini";
    const auto include = [](std::string_view id) {
        const std::string text = "[IncludeHIDDeviceList]\nid1=" + std::string(id);
        return test::Bytes(text.begin(), text.end());
    };
    files.Put(config, include("hid\\vid_5&pid_6"));
    const SettingsFile settings = Settings();  // as the program reads it once at start
    // The monitor takes the list read at start: a file changed afterwards is not read again.
    files.Put(config, include("hid\\vid_1&pid_2"));
    TKORVANTH417MONMAIN monitor(nullptr, monitor_ports, *dm_, settings);
    monitor.FormCreate();
    loop.Advance(std::chrono::milliseconds(3000));
    EXPECT_EQ(Opened(), std::set<std::u16string>{u"second mouse"});
    EXPECT_EQ(monitor.uiHIDData1().RunningReaderCount(), 1u);
}

// The re-open trace counts the readers that read: not one that could not open its interface,
// nor one that has no input report length to read with and only waits for its stop.
TEST_F(ReopenTest, TheReopenTraceCountsOnlyTheReadersThatRead) {
    fake::FakeHidInterface& locked = hid.Add(u"locked mouse", {u"HID\\VID_5"}, kMouseCollection);
    locked.later_open_failure = HidFailure{.operation = "CreateFileW", .code = 32};
    locked.opens_that_succeed = 1;  // the search opens it, its reader cannot
    hid.Add(u"mouse without reports", {u"HID\\VID_6"}, HidCapabilities{1, 0xFFA0, 0, 8, 0});
    const auto monitor = Create();
    loop.Advance(std::chrono::milliseconds(3000));
    std::vector<std::u16string> reopens;
    std::ranges::copy_if(debug.lines, std::back_inserter(reopens),
                         [](const std::u16string& l) { return l.starts_with(u"ReopenDevice: "); });
    EXPECT_EQ(reopens, std::vector<std::u16string>{u"ReopenDevice: 1 reader(s)"});
    EXPECT_EQ(monitor->uiHIDData1().RunningReaderCount(), 2u);
}

TEST_F(ReopenTest, DestroyingTheWindowStopsTheReaders) {
    auto monitor = Create();
    loop.Advance(std::chrono::milliseconds(3000));
    ASSERT_EQ(hid.OpenDevices(), 1u);
    monitor->FormDestroy();
    EXPECT_EQ(monitor->uiHIDData1().RunningReaderCount(), 0u);
    monitor.reset();
    EXPECT_EQ(hid.OpenDevices(), 0u);
    EXPECT_EQ(notifications.LiveRegistrations(), 0u);
}

TEST_F(MonitorTest, MissingHookLibraryIsReportedAndTheMonitorGoesOn) {
    fake::FakeLibraryLoader nowhere{hook_library, u"D:\\elsewhere\\uiHook.dll"};
    const MonitorPorts ports{monitor_ports.data,
                             peer,
                             microphone,
                             tray,
                             {files, &nowhere, message_boxes, keyboard, debug},
                             hid,
                             loop,
                             notifications};
    TKORVANTH417MONMAIN monitor(nullptr, ports, *dm_, Settings());
    monitor.FormCreate();
    ASSERT_EQ(message_boxes.shown.size(), 1u);
    EXPECT_EQ(message_boxes.shown[0].text, u"uiHook.dll can not be found!");
    EXPECT_EQ(message_boxes.shown[0].caption, u"Error");
    EXPECT_FALSE(tray.hint.empty());
}

// A platform without a hook library wires none: the hook component says so once, no box comes up
// and nothing is loaded, and the monitor works on.
TEST_F(MonitorTest, APlatformWithoutAHookLibrarySaysSoOnceWithoutABox) {
    const MonitorPorts ports{monitor_ports.data,
                             peer,
                             microphone,
                             tray,
                             {files, nullptr, message_boxes, keyboard, debug},
                             hid,
                             loop,
                             notifications};
    TKORVANTH417MONMAIN monitor(nullptr, ports, *dm_, Settings());
    monitor.FormCreate();
    monitor.uiHook1().StartHookKeyboard();
    monitor.uiHook1().RecordMouseMacro();
    EXPECT_TRUE(message_boxes.shown.empty());
    EXPECT_FALSE(monitor.uiHook1().DLLLoaded());
    EXPECT_TRUE(loader.requested.empty());
    EXPECT_TRUE(hook_library.calls.empty());
    EXPECT_EQ(std::ranges::count_if(debug.lines,
                                    [](const std::u16string& l) { return l.starts_with(u"Hook"); }),
              1);
    EXPECT_EQ(std::ranges::count(debug.lines, std::u16string(kNoHookLibraryTrace)), 1);
    EXPECT_FALSE(tray.hint.empty());
}

}  // namespace
}  // namespace korv
