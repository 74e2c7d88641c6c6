// The stand-in's configuration window on Wine, as a process of its own beside the monitor's
// window in this process: its controls driven by the messages a user's clicks send, the records
// it writes in the registry, the reload requests the monitor gets, and what it does when the
// mouse switches profile.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "lang/translation_engine.h"
#include "platform/win32/peer_messages.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/cfgstandin/config_window_ids.h"
#include "programs/monitor/monitor_window.h"
#include "tests/win32/monitor_fixtures.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using test::BinFolder;
using test::Process;
using test::ProfileID;
using test::PumpUntil;
using test::ReadText;
using namespace std::chrono_literals;

constexpr wchar_t kConfigClass[] = L"TKORVANTH417CFGMAIN";

// What the records in the registry say, as a monitor reads them at its start and at a reload.
struct StoredProfile {
    std::int32_t at_start;   // CurrentGame
    std::int32_t at_reload;  // the current group's entry
    std::int32_t group;
};

// The stand-in's window beside the monitor's window in this process.
class ConfigWindowOnWine : public MonitorWindowHere {
  protected:
    HWND OpenWindow() {
        window_process_ = StandInWindow();
        // Its first line is written once its controls show the records.
        EXPECT_TRUE(PumpUntil([&] { return LogHas("Waiting for messages from the monitor."); }));
        return FindWindowW(kConfigClass, nullptr);
    }
    bool LogHas(const std::string& line) const {
        return ReadText(log_).find(line + "\n") != std::string::npos;
    }
    static int Selected(HWND window, int control) {
        return static_cast<int>(SendDlgItemMessageW(window, control, CB_GETCURSEL, 0, 0));
    }
    // Chooses an entry of a combo box as a user does: the selection, then the notification.
    static void Choose(HWND window, int control, int index) {
        HWND combo = GetDlgItem(window, control);
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(control, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    }
    StoredProfile Stored() {
        const auto records = LoadDataModule(platform_.DataPorts());
        const std::int32_t group = records->FProfileGroupIndex;
        return {records->FAllProfileSettingInfo.CurrentGame,
                records->FProfileSettingGroup.ProfileIndexOfProfileGroup[group], group};
    }
    std::uint16_t MonitorButton(int button) const {
        return data_module_->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[button].FunctionCode;
    }

    std::unique_ptr<Process> window_process_;
};

// The window shows what the records hold: the current group and profile, and each button's
// function of the current profile.
TEST_F(ConfigWindowOnWine, ShowsTheStoredRecords) {
    ASSERT_EQ(StandIn(L"set-button 3 4 mic-mute"), 0u);
    ASSERT_EQ(StandIn(L"set-button 3 11 alt-f4"), 0u);
    ASSERT_EQ(StandIn(L"set-profile 3"), 0u);
    HWND window = OpenWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Selected(window, kGroupControl), 0);
    EXPECT_EQ(Selected(window, kProfileControl), 3);
    EXPECT_EQ(Selected(window, kEditedProfileControl), 3);
    EXPECT_EQ(Selected(window, kFirstButtonControl + 4), 28);
    EXPECT_EQ(Selected(window, kFirstButtonControl + 11), 16);
    EXPECT_EQ(Selected(window, kLanguageControl), 0);
    wchar_t text[64] = {};
    GetDlgItemTextW(window, kFirstButtonControl + 4, text, 64);
    EXPECT_STREQ(text, L"28  mic-mute");
    // Another profile's buttons, chosen to be shown: nothing is written for that.
    Choose(window, kEditedProfileControl, 0);
    EXPECT_TRUE(PumpUntil([&] { return Selected(window, kFirstButtonControl + 4) != 28; }));
    EXPECT_EQ(Stored().at_reload, 3);
}

// Each control of the window, changed as a user changes it: the records it writes (start-up and
// reload agreeing) and the reload the monitor then did.
TEST_F(ConfigWindowOnWine, EachChangeIsStoredAndTheMonitorReloads) {
    HWND window = OpenWindow();
    ASSERT_NE(window, nullptr);

    Choose(window, kFirstButtonControl + 4, kFunctionCodeMicrophoneMute);
    EXPECT_TRUE(PumpUntil([&] { return MonitorButton(4) == kFunctionCodeMicrophoneMute; }));
    EXPECT_TRUE(PumpUntil([&] {
        return LogHas("button 4 of profile 0: mic-mute (function 28); monitor asked to reload");
    })) << ReadText(log_);
    const StoredProfile first = Stored();
    EXPECT_EQ(first.at_start, 0);  // a first start had 2 there: now both say 0
    EXPECT_EQ(first.at_reload, 0);

    Choose(window, kProfileControl, 3);
    EXPECT_TRUE(PumpUntil([&] { return data_module_->FProfileIndex == 3; }));
    EXPECT_EQ(ProfileID(), 3u);
    const StoredProfile profile = Stored();
    EXPECT_EQ(profile.at_start, 3);
    EXPECT_EQ(profile.at_reload, 3);
    EXPECT_EQ(Selected(window, kEditedProfileControl), 3);  // its buttons show

    Choose(window, kGroupControl, 1);
    EXPECT_TRUE(PumpUntil([&] { return data_module_->FProfileGroupIndex == 1; }));
    EXPECT_EQ(data_module_->FProfileIndex, 1);  // group 1's profile
    const StoredProfile group = Stored();
    EXPECT_EQ(group.group, 1);
    EXPECT_EQ(group.at_start, 1);
    EXPECT_EQ(group.at_reload, 1);
    EXPECT_TRUE(PumpUntil([&] { return Selected(window, kProfileControl) == 1; }));

    HMENU menu = window_->Tray().Menu();
    wchar_t caption[64] = {};
    Choose(window, kLanguageControl, 1);  // US: the monitor reloads its settings
    EXPECT_TRUE(PumpUntil([&] {
        GetMenuStringW(menu, 0, caption, 64, MF_BYPOSITION);
        return std::wstring(caption) == L"Config";
    }));
    EXPECT_EQ(data_module_->FAllProfileSettingInfo.CurrentLanguage, 1);
    EXPECT_EQ(Stored().at_start, 1);  // the language left the current profile alone
}

// The mouse switched to profile 3: the window makes it the current one in both records and
// asks the monitor to reload, so the mouse's buttons act by that profile's functions. The line
// of the message itself is logged as before.
TEST_F(ConfigWindowOnWine, AProfileSwitchOfTheMouseBecomesTheCurrentProfile) {
    ASSERT_EQ(StandIn(L"set-button 3 4 mic-mute"), 0u);
    HWND window = OpenWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(MonitorButton(4), kFunctionCodeMicrophoneMute);  // profile 0 is current

    Report(8, {1, 3, 0, 0, 0, 0, 0});
    // The monitor itself records 1 for slots 1-4; the stand-in's reload request records 3.
    EXPECT_TRUE(PumpUntil([] { return ProfileID() == 3u; }));
    EXPECT_EQ(data_module_->FProfileIndex, 3);
    EXPECT_EQ(MonitorButton(4), kFunctionCodeMicrophoneMute);
    const StoredProfile stored = Stored();
    EXPECT_EQ(stored.at_start, 3);
    EXPECT_EQ(stored.at_reload, 3);
    EXPECT_TRUE(LogHas("7040 UM_PROFILE_SWITCHED wParam=3 lParam=0"));
    EXPECT_TRUE(
        PumpUntil([&] { return LogHas("profile 3 is the current one; monitor asked to reload"); }));
    EXPECT_TRUE(PumpUntil([&] { return Selected(window, kProfileControl) == 3; }));
    EXPECT_EQ(Selected(window, kFirstButtonControl + 4), 28);

    ExpectButton4MutesAndUnmutes();  // by profile 3's function

    // Back to profile 0 on the mouse: its button 4 keeps its own function.
    Report(8, {1, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(PumpUntil([&] { return data_module_->FProfileIndex == 0; }));
    EXPECT_NE(MonitorButton(4), kFunctionCodeMicrophoneMute);
    EXPECT_EQ(Stored().at_start, 0);
}

// A slot the stand-in has no profile for is logged and changes nothing.
TEST_F(ConfigWindowOnWine, ASwitchToNoProfileChangesNothing) {
    HWND window = OpenWindow();
    ASSERT_NE(window, nullptr);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, UM_PROFILE_SWITCHED, 7, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    EXPECT_TRUE(PumpUntil([&] { return LogHas("profile 7 is not 0-4: nothing switched"); }))
        << ReadText(log_);
    EXPECT_EQ(ProfileID(), std::nullopt);  // no reload was asked for
    EXPECT_EQ(Stored().at_reload, 0);
}

// The microphone-state box writes ShowMicrophoneState into the config.ini beside the programs,
// keeping what else the file says; the file this test found is put back.
TEST_F(ConfigWindowOnWine, TheMicrophoneStateBoxWritesTheSettingsFile) {
    const std::wstring ini = BinFolder() + L"config.ini";
    const bool existed = GetFileAttributesW(ini.c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::string original = ReadText(ini);
    struct PutBack {
        std::wstring path;
        bool existed;
        std::string text;
        ~PutBack() {
            if (!existed) {
                DeleteFileW(path.c_str());
                return;
            }
            std::ofstream file(std::string(path.begin(), path.end()), std::ios::binary);
            file << text;
        }
    } put_back{ini, existed, original};

    HWND window = OpenWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(IsDlgButtonChecked(window, kMicrophoneStateControl), BST_CHECKED);
    // A click: the box's new state, then its notification.
    HWND box = GetDlgItem(window, kMicrophoneStateControl);
    const auto click = [&](WPARAM state) {
        SendMessageW(box, BM_SETCHECK, state, 0);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(kMicrophoneStateControl, BN_CLICKED),
                     reinterpret_cast<LPARAM>(box));
    };
    click(BST_UNCHECKED);
    EXPECT_TRUE(PumpUntil(
        [&] { return ReadText(ini).find("ShowMicrophoneState=0") != std::string::npos; }));
    EXPECT_TRUE(PumpUntil([&] {
        return LogHas(
            "ShowMicrophoneState=0: the tray icon will stay plain, from the monitor's next start");
    })) << ReadText(log_);
    EXPECT_EQ(
        SettingsFile::Load(platform_.files, platform_.locale).ReadOtherConfig().ShowMicrophoneState,
        0);
    click(BST_CHECKED);
    EXPECT_TRUE(PumpUntil(
        [&] { return ReadText(ini).find("ShowMicrophoneState=1") != std::string::npos; }));
}

}  // namespace
}  // namespace korv::win32
