// The monitor on Wine with real processes: the monitor program itself for the single instance
// and the menu's Exit, and the monitor's window in this process (so that reports can be handed
// to its decoder as the HID component delivers them) talking to the real stand-in
// configuration program through the real registry and window messages.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "app/messages.h"
#include "app/settings_file.h"
#include "lang/translation_engine.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/monitor/monitor_window.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using test::BinFolder;
using test::Process;
using test::PumpUntil;
using test::ReadText;

using namespace std::chrono_literals;

using test::kRegFolder;
using test::ProfileID;

int CountWindows(const wchar_t* class_name) {
    struct Count {
        const wchar_t* name;
        int n;
    } count{class_name, 0};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* c = reinterpret_cast<Count*>(param);
            wchar_t name[64];
            if (GetClassNameW(window, name, 64) && wcscmp(name, c->name) == 0)
                ++c->n;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.n;
}

int CountLines(const std::string& text, const std::string& start) {
    int n = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        n += line.rfind(start, 0) == 0;
    return n;
}

std::wstring MenuText(HMENU menu, int position) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

// A clean registry folder and a stand-in whose log the test reads.
class MonitorOnWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kRegFolder);
        log_ = BinFolder() + L"standin-" + std::to_wstring(GetCurrentProcessId()) + L".log";
        DeleteFileW(log_.c_str());
    }
    void TearDown() override {
        if (HWND config = FindWindowW(L"TKORVANTH417CFGMAIN", nullptr)) {
            PostMessageW(config, WM_CLOSE, 0, 0);
            PumpUntil([] { return FindWindowW(L"TKORVANTH417CFGMAIN", nullptr) == nullptr; });
        }
        DeleteFileW(log_.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, kRegFolder);
    }

    // Runs a stand-in command to its end, handling the messages it sends meanwhile.
    DWORD StandIn(const std::wstring& arguments) {
        Process process(L"\"" + BinFolder() + L"KORVANTH417.EXE\" " + arguments);
        EXPECT_TRUE(process.Started());
        EXPECT_TRUE(PumpUntil([&] { return process.Ended(); }));
        return process.ExitCode();
    }
    std::unique_ptr<Process> StandInWindow(const std::wstring& extra = L"") {
        auto process = std::make_unique<Process>(
            L"\"" + BinFolder() + L"KORVANTH417.EXE\" /log \"" + log_ + L"\" " + extra);
        EXPECT_TRUE(
            PumpUntil([] { return FindWindowW(L"TKORVANTH417CFGMAIN", nullptr) != nullptr; }));
        return process;
    }
    std::string Log() {
        PumpUntil([] { return false; }, 300ms);  // let posted messages arrive
        return ReadText(log_);
    }

    std::wstring log_;
};

// The monitor's window in this process, created as the program creates it.
class MonitorWindowHere : public MonitorOnWindows {
  protected:
    void SetUp() override {
        MonitorOnWindows::SetUp();
        data_module_ = LoadDataModule(platform_.DataPorts());
        window_ = MonitorWindow::Create(GetModuleHandleW(nullptr), platform_, *data_module_);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        window_.reset();
        MonitorOnWindows::TearDown();
    }
    void Report(std::uint8_t id, std::vector<std::uint8_t> data) {
        window_->Monitor().Dispatcher().uiHIDData1Data(u"", u"", id, data, 7);
        PumpUntil([] { return false; }, 100ms);  // the message loop handles UM_MONITOR_EVENT
    }

    Win32Platform platform_;
    std::unique_ptr<TDM> data_module_;
    std::unique_ptr<MonitorWindow> window_;
};

// Two monitors started at the same moment: the mutex is the check itself, so exactly one runs
// each time, and the other ends at once without a window.
TEST_F(MonitorOnWindows, TwoMonitorsStartedTogetherLeaveExactlyOne) {
    const std::wstring monitor = L"\"" + BinFolder() + L"KORVANTH417MON.exe\"";
    for (int attempt = 0; attempt < 8 && !HasFailure(); ++attempt) {
        SCOPED_TRACE(attempt);
        Process a(monitor);
        Process b(monitor);
        ASSERT_TRUE(PumpUntil([&] { return a.Ended() || b.Ended(); }, 10s));
        ASSERT_TRUE(PumpUntil([] { return CountWindows(L"TKORVANTH417MONMAIN") > 0; }));
        PumpUntil([] { return false; }, 300ms);  // time for a second window, if one came
        EXPECT_EQ(CountWindows(L"TKORVANTH417MONMAIN"), 1);
        EXPECT_NE(a.Ended(), b.Ended());
        Process& ended = a.Ended() ? a : b;
        EXPECT_EQ(ended.ExitCode(), 0u);
        PostMessageW(FindWindowW(L"TKORVANTH417MONMAIN", nullptr), WM_CLOSE, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return a.Ended() && b.Ended(); }));
    }
}

TEST_F(MonitorOnWindows, SecondStartEndsAtOnceAndExitThroughTheMenuEndsTheFirst) {
    const auto standin = StandInWindow(L"/hide");
    Process first(L"\"" + BinFolder() + L"KORVANTH417MON.exe\"");
    ASSERT_TRUE(PumpUntil([] { return FindWindowW(L"TKORVANTH417MONMAIN", nullptr) != nullptr; }));

    Process second(L"\"" + BinFolder() + L"KORVANTH417MON.exe\"");
    ASSERT_TRUE(PumpUntil([&] { return second.Ended(); }, 5s));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_EQ(CountWindows(L"TKORVANTH417MONMAIN"), 1);

    // Open the tray menu as a right click on the icon does, move to its last item and choose it.
    HWND monitor = FindWindowW(L"TKORVANTH417MONMAIN", nullptr);
    PostMessageW(monitor, WM_APP + 1, 0, WM_RBUTTONUP);
    PumpUntil([] { return false; }, 500ms);
    PostMessageW(monitor, WM_KEYDOWN, VK_UP, 0);
    PostMessageW(monitor, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(PumpUntil([&] { return first.Ended(); }));
    EXPECT_EQ(CountLines(Log(), "7036 UM_MONITOR_EXIT"), 1);

    // The mutex went with the first monitor.
    HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"TKORVANTH417MONMAIN");
    EXPECT_EQ(mutex, nullptr);
    if (mutex != nullptr)
        CloseHandle(mutex);
}

TEST_F(MonitorWindowHere, ReloadRequestsOfTheStandInReachTheMonitor) {
    EXPECT_EQ(StandIn(L"set-button 1 4 28"), 0u);
    EXPECT_EQ(StandIn(L"reload-profiles 3"), 0u);
    EXPECT_EQ(ProfileID(), 3u);

    // A key event handled afterwards uses the reloaded profile: button 4 mutes, and again.
    const std::optional<bool> before = platform_.microphone.EndpointMuted();
    ASSERT_TRUE(before.has_value());
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(platform_.microphone.EndpointMuted(), !*before);
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(platform_.microphone.EndpointMuted(), *before);
    Report(7, {0x20, 0, 0, 0, 0, 0, 0});  // button 5 keeps another function
    Report(7, {0x30, 0, 0, 0, 0, 0, 0});  // two buttons: no key event
    EXPECT_EQ(platform_.microphone.EndpointMuted(), *before);
}

// The tray's hint names the microphone's state after each press (and the icon follows it).
TEST_F(MonitorWindowHere, TheTrayShowsTheMicrophoneStateAfterEachPress) {
    EXPECT_EQ(StandIn(L"set-button 1 4 28"), 0u);
    const auto state_line = [&] {
        const std::wstring hint = window_->Tray().Hint();
        const std::size_t end = hint.find(L'\n');
        return end == std::wstring::npos ? std::wstring() : hint.substr(end + 1);
    };
    const auto text = [](std::u16string_view source) { return ToWide(TranslateText(source)); };
    ASSERT_TRUE(platform_.microphone.EndpointMuted().has_value());
    for (int press = 0; press < 2; ++press) {
        Report(7, {0x10, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(state_line(), text(*platform_.microphone.EndpointMuted() ? u"Microphone muted"
                                                                           : u"Microphone on"));
    }
}

TEST_F(MonitorWindowHere, LanguageChangedByTheStandInShowsInTheTray) {
    HMENU menu = window_->Tray().Menu();
    wchar_t title[128];
    EXPECT_EQ(MenuText(menu, 0), L"打开配置");
    EXPECT_EQ(StandIn(L"set-language 1"), 0u);  // US
    EXPECT_EQ(MenuText(menu, 0), L"Config");
    EXPECT_EQ(MenuText(menu, 1), L"Exit");
    const std::wstring hint = window_->Tray().Hint();
    EXPECT_EQ(hint.substr(0, hint.find(L'\n')), L"GAMING MOUSE DRIVER");
    GetWindowTextW(window_->Handle(), title, 128);
    EXPECT_STREQ(title, L"GAMING MOUSE MONITOR");
    EXPECT_EQ(StandIn(L"set-language 0"), 0u);
    EXPECT_EQ(MenuText(menu, 1), L"退出软件");
    GetWindowTextW(window_->Handle(), title, 128);
    EXPECT_STREQ(title, L"游戏鼠标监控程序");
}

TEST_F(MonitorWindowHere, ConfigStartsTheStandInOrBringsItForward) {
    // A left click on the tray icon runs Config.
    SendMessageW(window_->Handle(), WM_APP + 1, 0, WM_LBUTTONUP);
    ASSERT_TRUE(PumpUntil([] { return FindWindowW(L"TKORVANTH417CFGMAIN", nullptr) != nullptr; }));
    HWND config = FindWindowW(L"TKORVANTH417CFGMAIN", nullptr);
    ShowWindow(config, SW_HIDE);
    window_->Monitor().Config1Click();
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(config) != FALSE; }));
    PumpUntil([] { return false; }, 500ms);
    EXPECT_EQ(CountWindows(L"TKORVANTH417CFGMAIN"), 1);
}

// A configuration program that stops answering does not stop the monitor: the profile event's
// message to it gives up, and the mute button still works while the peer hangs.
TEST_F(MonitorWindowHere, APeerThatHangsDoesNotStallTheMonitor) {
    EXPECT_EQ(StandIn(L"set-button 1 4 28"), 0u);
    const UniqueHandle created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> peer_gave_up = false;  // it hangs for 10 s at most
    std::thread peer([&] {
        HWND window =
            CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        // A window of the peer's class that never handles its messages while it hangs.
        WNDCLASSW hung_class{};
        hung_class.lpfnWndProc = DefWindowProcW;
        hung_class.lpszClassName = L"TKORVANTH417CFGMAIN";
        RegisterClassW(&hung_class);
        HWND hung = CreateWindowExW(0, L"TKORVANTH417CFGMAIN", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, nullptr, nullptr);
        SetEvent(created.Get());
        peer_gave_up = WaitForSingleObject(release.Get(), 10000) == WAIT_TIMEOUT;
        DestroyWindow(hung);
        DestroyWindow(window);
        UnregisterClassW(L"TKORVANTH417CFGMAIN", nullptr);
    });
    ASSERT_EQ(WaitForSingleObject(created.Get(), 5000), WAIT_OBJECT_0);
    const std::optional<bool> before = platform_.microphone.EndpointMuted();
    Report(8, {1, 1, 0, 0, 0, 0, 0});  // a profile switch: sent to the hung peer
    PumpUntil([&] { return ProfileID() == 1u; });
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    EXPECT_NE(platform_.microphone.EndpointMuted(), before);
    EXPECT_FALSE(peer_gave_up);  // all this happened while the peer hung
    SetEvent(release.Get());
    peer.join();
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});  // leave the shared microphone as it was
}

// A storm of reload requests is handled as one reload, with the last identifier; a button press
// among them waits for that one reload only.
TEST_F(MonitorWindowHere, QueuedReloadRequestsAreFoldedIntoOne) {
    EXPECT_EQ(StandIn(L"set-button 1 4 28"), 0u);
    const std::optional<bool> before = platform_.microphone.EndpointMuted();
    HWND monitor = window_->Handle();
    for (int i = 1; i <= 9000; ++i) {  // below the queue limit of 10,000 messages
        ASSERT_TRUE(PostMessageW(monitor, UM_RELOAD_PROFILES, 0, i % 2 == 0 ? 2 : 3));
        if (i == 4500) {
            ASSERT_TRUE(PostMessageW(monitor, UM_MONITOR_EVENT, 4, 1));  // the mute button
        }
    }
    ASSERT_TRUE(PostMessageW(monitor, UM_RELOAD_PROFILES, 0, 4));
    // One reload, then the button press: nothing of the storm is left behind them.
    for (int handled = 0; handled < 2; ++handled) {
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, monitor, 0, 0, PM_REMOVE));
        DispatchMessageW(&msg);
    }
    EXPECT_EQ(ProfileID(), 4u);
    EXPECT_NE(platform_.microphone.EndpointMuted(), before);
    MSG left;
    EXPECT_FALSE(PeekMessageW(&left, monitor, UM_RELOAD_PROFILES, UM_RELOAD_PROFILES, PM_NOREMOVE));
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});  // leave the shared microphone as it was
}

// Without the shell's notification area (as early at logon) the icon cannot be added; the
// monitor keeps trying and shows it once a notification area is there, without a restart.
// Here the notification area is a stand-in window of the shell's class, created later.
TEST_F(MonitorWindowHere, TheTrayIconIsAddedOnceTheNotificationAreaAppears) {
    if (FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr)
        GTEST_SKIP() << "a notification area exists already";
    ASSERT_FALSE(window_->Tray().Shown());
    WNDCLASSW tray_class{};
    tray_class.lpfnWndProc = [](HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        return message == WM_COPYDATA ? LRESULT{TRUE}
                                      : DefWindowProcW(window, message, wparam, lparam);
    };
    tray_class.lpszClassName = L"Shell_TrayWnd";
    ASSERT_NE(RegisterClassW(&tray_class), 0);
    HWND shell_tray = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, nullptr, nullptr);
    ASSERT_NE(shell_tray, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return window_->Tray().Shown(); }, 10s));
    DestroyWindow(shell_tray);
    UnregisterClassW(L"Shell_TrayWnd", nullptr);
}

TEST_F(MonitorWindowHere, DeviceEventsReachTheStandIn) {
    const auto standin = StandInWindow();
    Report(8, {1, 3, 0, 0, 0, 0, 0});
    EXPECT_EQ(ProfileID(), 1u);
    Report(8, {1, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(ProfileID(), 0u);
    Report(8, {2, 0x7F, 0, 0, 0, 0, 0});
    Report(8, {6, 3, 0, 0, 0, 0, 0});
    Report(8, {3, 1, 0, 0, 0, 0, 0});  // ignored kind
    Report(8, {1, 5, 0, 0, 0, 0, 0});  // no such slot
    const std::string log = Log();
    EXPECT_EQ(CountLines(log, "7040 UM_PROFILE_SWITCHED wParam=3 lParam=0"), 1);
    EXPECT_EQ(CountLines(log, "7040 UM_PROFILE_SWITCHED wParam=0 lParam=0"), 1);
    EXPECT_EQ(CountLines(log, "7042 UM_DEVICE_NOTIFY_2 wParam=127 lParam=0"), 1);
    EXPECT_EQ(CountLines(log, "7043 UM_DEVICE_NOTIFY_6 wParam=3 lParam=0"), 1);
    EXPECT_EQ(CountLines(log, "70"), 4);
}

}  // namespace
}  // namespace korv::win32
