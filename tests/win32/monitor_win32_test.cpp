// The monitor on Wine with real processes: the monitor program itself for the single instance
// and the menu's Exit, and the monitor's window in this process (so that reports can be handed
// to its decoder as the HID component delivers them) talking to the real stand-in
// configuration program through the real registry and window messages.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/settings_file.h"
#include "lang/translation_engine.h"
#include "platform/win32/peer_messages.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/monitor/monitor_window.h"
#include "tests/win32/monitor_fixtures.h"
#include "tests/win32/traced_process.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using test::BinFolder;
using test::Process;
using test::PumpUntil;
using test::ReadText;
using test::StartProcess;

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

std::wstring MenuText(HMENU menu, int position) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

// A program started suspended, so that two can be let go at the same moment; ended with the
// test.
class SuspendedProcess {
  public:
    explicit SuspendedProcess(std::wstring command_line) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (StartProcess(std::move(command_line), FALSE, BinFolder().c_str(), startup, info,
                         CREATE_SUSPENDED) == 0) {
            process_.Reset(info.hProcess);
            thread_.Reset(info.hThread);
        }
    }
    ~SuspendedProcess() {
        if (process_.Valid() && !Ended())
            TerminateProcess(process_.Get(), 9);
    }
    SuspendedProcess(const SuspendedProcess&) = delete;
    SuspendedProcess& operator=(const SuspendedProcess&) = delete;

    bool Started() const { return process_.Valid(); }
    void Resume() const { ResumeThread(thread_.Get()); }
    bool Ended() const { return WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process_.Get(), &code);
        return code;
    }

  private:
    UniqueHandle process_;
    UniqueHandle thread_;
};

// A notification area of the shell's window class in this process, as the shell's own is when
// it starts (late at logon, or again after a crash): it answers the icon requests that
// Shell_NotifyIconW sends it as WM_COPYDATA (the request in dwData, the icon's window in
// wParam) as a shell does, refusing to add an icon it has and to change one it has not, and
// records every request. Its icons are lost with a restart of the shell (Restart).
class FakeNotificationArea {
  public:
    static constexpr wchar_t kClass[] = L"Shell_TrayWnd";
    struct Request {
        DWORD message;  // NIM_ADD, NIM_MODIFY, NIM_DELETE
        HWND owner;
        bool granted;
    };

    FakeNotificationArea() {
        WNDCLASSW tray_class{};
        tray_class.lpfnWndProc = WindowProc;
        tray_class.lpszClassName = kClass;
        registered_ = RegisterClassW(&tray_class) != 0;
        window_ = CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                  nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~FakeNotificationArea() {
        if (window_ != nullptr)
            DestroyWindow(window_);
        if (registered_)
            UnregisterClassW(kClass, nullptr);
    }
    FakeNotificationArea(const FakeNotificationArea&) = delete;
    FakeNotificationArea& operator=(const FakeNotificationArea&) = delete;

    bool Created() const { return window_ != nullptr; }
    void Restart() { icons_.clear(); }
    bool HasIcon(HWND owner) const { return icons_.contains(owner); }
    // The requests for the icons of one window, in order.
    std::vector<std::pair<DWORD, bool>> RequestsOf(HWND owner) const {
        std::vector<std::pair<DWORD, bool>> of;
        for (const Request& request : requests_) {
            if (request.owner == owner)
                of.emplace_back(request.message, request.granted);
        }
        return of;
    }

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self =
            reinterpret_cast<FakeNotificationArea*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != WM_COPYDATA || self == nullptr)
            return DefWindowProcW(window, message, wparam, lparam);
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        return self->Answer(static_cast<DWORD>(data->dwData), reinterpret_cast<HWND>(wparam));
    }
    BOOL Answer(DWORD message, HWND owner) {
        bool granted = false;
        if (message == NIM_ADD)
            granted = icons_.insert(owner).second;
        if (message == NIM_MODIFY)
            granted = icons_.contains(owner);
        if (message == NIM_DELETE)
            granted = icons_.erase(owner) != 0;
        requests_.push_back({message, owner, granted});
        return granted ? TRUE : FALSE;
    }

    bool registered_ = false;
    HWND window_ = nullptr;
    std::set<HWND> icons_;
    std::vector<Request> requests_;
};

constexpr char kNeedsNoShell[] =
    "a notification area of the shell exists already: this test needs a Wine session without "
    "one (the tests' prefix has the null display driver)";

// Two monitors started at the same moment: both are created suspended and let go back to back,
// many times. The mutex is the check itself, so exactly one runs each time, and the other ends
// at once, with exit code 0 and without a window. Were both to pass the check, neither would end.
TEST_F(MonitorOnWindows, TwoMonitorsStartedTogetherLeaveExactlyOne) {
    const std::wstring monitor = L"\"" + BinFolder() + L"KORVANTH417MON.exe\"";
    for (int attempt = 0; attempt < 50 && !HasFailure(); ++attempt) {
        SCOPED_TRACE(attempt);
        SuspendedProcess a(monitor);
        SuspendedProcess b(monitor);
        ASSERT_TRUE(a.Started() && b.Started());
        a.Resume();
        b.Resume();
        ASSERT_TRUE(PumpUntil([&] { return a.Ended() || b.Ended(); }, 10s))
            << "neither monitor ended: both passed the single-instance check";
        SuspendedProcess& ended = a.Ended() ? a : b;
        SuspendedProcess& running = a.Ended() ? b : a;
        EXPECT_EQ(ended.ExitCode(), 0u);
        ASSERT_TRUE(PumpUntil([] { return CountWindows(L"TKORVANTH417MONMAIN") > 0; }));
        EXPECT_EQ(CountWindows(L"TKORVANTH417MONMAIN"), 1);
        EXPECT_FALSE(running.Ended());
        PostMessageW(FindWindowW(L"TKORVANTH417MONMAIN", nullptr), WM_CLOSE, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return running.Ended(); }));
    }
}

TEST_F(MonitorOnWindows, SecondStartEndsAtOnceAndExitThroughTheMenuEndsTheFirst) {
    const auto standin = StandInWindow(L"/hide");
    Process first(L"\"" + BinFolder() + L"KORVANTH417MON.exe\"");
    ASSERT_TRUE(PumpUntil([] { return FindWindowW(L"TKORVANTH417MONMAIN", nullptr) != nullptr; }));

    // The second start says why it ends, on the debugger output and in the user's log, unless
    // its settings file turns the log off.
    const std::string ends = "The monitor is already running; this start ends";
    const std::wstring log = ToWide(LocalAppDataFolder()) + L"\\KORVANTH417\\monitor.log";
    const int logged_before = CountLines(ReadText(log), ends, 24);
    const std::filesystem::path quiet = std::filesystem::temp_directory_path() /
                                        (L"korv-nolog-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(quiet);
    std::filesystem::copy_file(BinFolder() + L"KORVANTH417MON.exe", quiet / L"KORVANTH417MON.exe",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(quiet / L"config.ini") << "[OtherConfig]\r\nWriteLogFile=0\r\n";
    for (const std::wstring& folder : {BinFolder(), quiet.wstring() + L"\\"}) {
        SCOPED_TRACE(std::string(folder.begin(), folder.end()));
        test::TracedProcess second(L"\"" + folder + L"KORVANTH417MON.exe\"", folder);
        ASSERT_TRUE(second.Started());
        ASSERT_TRUE(second.WaitForExit(10s));
        EXPECT_EQ(second.ExitCode(), 0u);
        EXPECT_EQ(second.LinesStartingWith(ends).size(), 1u);
        EXPECT_EQ(CountWindows(L"TKORVANTH417MONMAIN"), 1);
    }
    EXPECT_EQ(CountLines(ReadText(log), ends, 24), logged_before + 1);
    std::error_code ignored;
    std::filesystem::remove_all(quiet, ignored);

    // Open the tray menu as a right click on the icon does, move to its last item and choose it.
    HWND monitor = FindWindowW(L"TKORVANTH417MONMAIN", nullptr);
    PostMessageW(monitor, WM_APP + 1, 0, WM_RBUTTONUP);
    PumpUntil([] { return false; }, 500ms);
    PostMessageW(monitor, WM_KEYDOWN, VK_UP, 0);
    PostMessageW(monitor, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(PumpUntil([&] { return first.Ended(); }));
    EXPECT_EQ(CountLines(LogWith("7036 UM_MONITOR_EXIT", 1), "7036 UM_MONITOR_EXIT"), 1);

    // The mutex went with the first monitor.
    HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"TKORVANTH417MONMAIN");
    EXPECT_EQ(mutex, nullptr);
    if (mutex != nullptr)
        CloseHandle(mutex);
}

// A stand-in command says what became of it with its exit code and writes the same line to the
// log named after /log, refusals of its arguments included. No monitor runs here; the stand-in's
// folder has no ui.local, so the monitor's languages are the built-in CH and US.
TEST_F(MonitorOnWindows, StandInCommandsLogTheirOutcome) {
    const struct {
        std::wstring arguments;
        DWORD exit_code;
        std::string logged;
    } cases[] = {
        {L"set-language 9", 1,
         "no language has the index or code 9; the monitor's languages are 0 (CH), 1 (US)"},
        {L"set-language XX", 1, "no language has the code XX; the monitor's languages are"},
        {L"frobnicate 1", 1, "not a command of the stand-in: frobnicate 1"},
        {L"set-button 0 4 mic-mutes", 1, "function mic-mutes is neither a function's name"},
        {L"set-profile 7", 1, "profile 7 is not 0-4"},
        {L"show 2", 0, "profile 2\n  button 0: left-click (0)\n  button 1: "},
        {L"set-language us", 2,
         "interface language 1 (US); the monitor is not running: it takes effect at its start"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        DeleteFileW(log_.c_str());
        EXPECT_EQ(StandIn(L"/log \"" + log_ + L"\" " + c.arguments), c.exit_code);
        EXPECT_EQ(ReadText(log_).rfind(c.logged, 0), 0u) << ReadText(log_);
    }
}

TEST_F(MonitorWindowHere, ReloadRequestsOfTheStandInReachTheMonitor) {
    EXPECT_EQ(StandIn(L"set-button 0 4 28"), 0u);
    EXPECT_EQ(StandIn(L"reload-profiles 3"), 0u);
    EXPECT_EQ(ProfileID(), 3u);

    // A key event handled afterwards uses the reloaded profile: button 4 mutes, and again.
    ExpectButton4MutesAndUnmutes();
    const std::optional<bool> before = platform_.microphone.EndpointMuted();
    Report(7, {0x20, 0, 0, 0, 0, 0, 0});  // button 5 keeps another function
    Report(7, {0x30, 0, 0, 0, 0, 0, 0});  // two buttons: no key event
    EXPECT_EQ(platform_.microphone.EndpointMuted(), *before);
}

// The tray's hint names the microphone's state after each press (and the icon follows it).
TEST_F(MonitorWindowHere, TheTrayShowsTheMicrophoneStateAfterEachPress) {
    EXPECT_EQ(StandIn(L"set-button 0 4 28"), 0u);
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
    EXPECT_EQ(StandIn(L"set-button 0 4 28"), 0u);
    const UniqueHandle created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool peer_gave_up = false;  // it hangs for 10 s at most; read after the join
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
    ASSERT_EQ(WaitForSingleObject(created.Get(), 10000), WAIT_OBJECT_0);
    const std::optional<bool> before = platform_.microphone.EndpointMuted();
    Report(8, {1, 1, 0, 0, 0, 0, 0});  // a profile switch: sent to the hung peer
    PumpUntil([&] { return ProfileID() == 1u; });
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});
    EXPECT_NE(platform_.microphone.EndpointMuted(), before);
    SetEvent(release.Get());
    peer.join();
    EXPECT_FALSE(peer_gave_up);           // all this happened while the peer hung
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});  // leave the shared microphone as it was
}

// A configuration program that takes 200 ms to answer each profile switch, while the mouse
// reports 600 of them and then the mute button: the switches are told once, as the latest, and
// the mute follows within about one answer instead of 600 of them (two minutes).
TEST_F(MonitorWindowHere, ASlowPeerHoldsUpNeitherTheMuteButtonNorTheRest) {
    EXPECT_EQ(StandIn(L"set-button 0 4 28"), 0u);
    std::atomic<int> asked = 0;
    std::atomic<int> last_slot = -1;
    const UniqueHandle created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    struct Peer {
        std::atomic<int>* asked;
        std::atomic<int>* last_slot;
    } state{&asked, &last_slot};
    std::thread peer([&] {
        WNDCLASSW slow_class{};
        slow_class.lpfnWndProc = [](HWND window, UINT message, WPARAM wparam,
                                    LPARAM lparam) -> LRESULT {
            auto* peer = reinterpret_cast<Peer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            if (message == UM_PROFILE_SWITCHED && peer != nullptr) {
                Sleep(200);
                ++*peer->asked;
                *peer->last_slot = static_cast<int>(wparam);
                return 0;
            }
            return DefWindowProcW(window, message, wparam, lparam);
        };
        slow_class.lpszClassName = L"TKORVANTH417CFGMAIN";
        RegisterClassW(&slow_class);
        HWND slow = CreateWindowExW(0, L"TKORVANTH417CFGMAIN", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, nullptr, nullptr);
        SetWindowLongPtrW(slow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
        SetEvent(created.Get());
        const HANDLE stop = release.Get();
        while (MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT) ==
               WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
        DestroyWindow(slow);
        UnregisterClassW(L"TKORVANTH417CFGMAIN", nullptr);
    });
    ASSERT_EQ(WaitForSingleObject(created.Get(), 10000), WAIT_OBJECT_0);
    const std::optional<bool> before = platform_.microphone.EndpointMuted();
    ASSERT_TRUE(before.has_value());

    ReportDispatcher& dispatcher = window_->Monitor().Dispatcher();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 600; ++i) {
        const std::uint8_t report[7] = {1, static_cast<std::uint8_t>(i % 5)};
        dispatcher.uiHIDData1Data(u"", u"", 8, report, 7);
    }
    const std::uint8_t mute[7] = {0x10};
    dispatcher.uiHIDData1Data(u"", u"", 7, mute, 7);
    EXPECT_TRUE(PumpUntil([&] { return platform_.microphone.EndpointMuted() != before; }, 10s));
    const auto waited = std::chrono::steady_clock::now() - started;
    SetEvent(release.Get());
    peer.join();
    EXPECT_LT(waited, 2s);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(last_slot, 599 % 5);
    Report(7, {0x10, 0, 0, 0, 0, 0, 0});  // leave the shared microphone as it was
}

// A storm of reload requests is handled as one reload, with the last identifier; a button press
// among them waits for that one reload only.
TEST_F(MonitorWindowHere, QueuedReloadRequestsAreFoldedIntoOne) {
    EXPECT_EQ(StandIn(L"set-button 0 4 28"), 0u);
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
TEST_F(MonitorWindowHere, TheTrayIconIsAddedOnceTheNotificationAreaAppears) {
    ASSERT_EQ(FindWindowW(FakeNotificationArea::kClass, nullptr), nullptr) << kNeedsNoShell;
    ASSERT_FALSE(window_->Tray().Shown());
    const FakeNotificationArea area;
    ASSERT_TRUE(area.Created());
    EXPECT_TRUE(PumpUntil([&] { return window_->Tray().Shown(); }, 10s));
    EXPECT_TRUE(area.HasIcon(window_->Handle()));
}

// Handles this thread's messages for a while; how many of them were for `window`, and how many
// of those were its timer `timer`.
struct WindowWakeUps {
    int messages = 0;
    int timer = 0;
};
WindowWakeUps PumpCounting(HWND window, UINT_PTR timer, std::chrono::milliseconds span) {
    WindowWakeUps counted;
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == window) {
                ++counted.messages;
                counted.timer += msg.message == WM_TIMER && msg.wParam == timer;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return counted;
}

// In a session without a notification area the monitor does not keep waking up to add its icon:
// the retries come ever further apart (2 s, then 4 s, ...), so ten seconds hold two of them. A
// shell that starts says so with "TaskbarCreated", and the icon is added at once, however long
// the next retry would be.
TEST_F(MonitorWindowHere, WithoutANotificationAreaTheRetriesComeEverFurtherApart) {
    ASSERT_EQ(FindWindowW(FakeNotificationArea::kClass, nullptr), nullptr) << kNeedsNoShell;
    ASSERT_FALSE(window_->Tray().Shown());
    constexpr UINT_PTR kTrayRetryTimer = 1;
    const WindowWakeUps idle = PumpCounting(window_->Handle(), kTrayRetryTimer, 10s);
    EXPECT_GE(idle.timer, 1);  // it does retry
    EXPECT_LE(idle.timer, 2);
    EXPECT_LE(idle.messages, 2);
    EXPECT_FALSE(window_->Tray().Shown());

    const FakeNotificationArea area;
    ASSERT_TRUE(area.Created());
    ASSERT_TRUE(PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0));
    EXPECT_TRUE(PumpUntil([&] { return window_->Tray().Shown(); }, 1s));
    EXPECT_TRUE(area.HasIcon(window_->Handle()));
}

// The shell broadcasts "TaskbarCreated" when it (re)starts: the monitor adds its icon again. A
// broadcast that finds the icon still there (the shell kept it) leaves it shown: adding it is
// refused, changing it is not, and no retry follows.
TEST_F(MonitorWindowHere, TaskbarCreatedBringsTheIconBack) {
    ASSERT_EQ(FindWindowW(FakeNotificationArea::kClass, nullptr), nullptr) << kNeedsNoShell;
    FakeNotificationArea area;
    ASSERT_TRUE(area.Created());
    HWND monitor = window_->Handle();
    const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    const auto broadcast_and_wait = [&](std::size_t requests) {
        ASSERT_TRUE(PostMessageW(HWND_BROADCAST, taskbar_created, 0, 0));
        ASSERT_TRUE(PumpUntil([&] { return area.RequestsOf(monitor).size() >= requests; }));
        PumpUntil([] { return false; }, 200ms);  // a request more, if one came
    };
    using Requests = std::vector<std::pair<DWORD, bool>>;

    broadcast_and_wait(1);  // the shell started
    EXPECT_EQ(area.RequestsOf(monitor), (Requests{{NIM_ADD, true}}));
    EXPECT_TRUE(window_->Tray().Shown());

    area.Restart();  // the shell restarted: its icons are gone
    broadcast_and_wait(2);
    EXPECT_EQ(area.RequestsOf(monitor), (Requests{{NIM_ADD, true}, {NIM_ADD, true}}));
    EXPECT_TRUE(area.HasIcon(monitor));

    broadcast_and_wait(4);  // the icon is still there
    EXPECT_EQ(area.RequestsOf(monitor),
              (Requests{{NIM_ADD, true}, {NIM_ADD, true}, {NIM_ADD, false}, {NIM_MODIFY, true}}));
    EXPECT_TRUE(window_->Tray().Shown());
}

// The monitor records 1 for a switch to slots 1-4 and 0 for slot 0; the stand-in then makes the
// slot's profile current and asks for a reload, which records the slot.
TEST_F(MonitorWindowHere, DeviceEventsReachTheStandIn) {
    const auto standin = StandInWindow();
    Report(8, {1, 3, 0, 0, 0, 0, 0});
    EXPECT_TRUE(PumpUntil([] { return ProfileID() == 3u; }));
    Report(8, {1, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(PumpUntil([&] { return ProfileID() == 0u && data_module_->FProfileIndex == 0; }));
    Report(8, {2, 0x7F, 0, 0, 0, 0, 0});
    Report(8, {6, 3, 0, 0, 0, 0, 0});
    Report(8, {3, 1, 0, 0, 0, 0, 0});  // ignored kind
    Report(8, {1, 5, 0, 0, 0, 0, 0});  // no such slot
    const std::string log = LogWith("70", 4);
    EXPECT_EQ(CountLines(log, "7040 UM_PROFILE_SWITCHED wParam=3 lParam=0"), 1);
    EXPECT_EQ(CountLines(log, "7040 UM_PROFILE_SWITCHED wParam=0 lParam=0"), 1);
    EXPECT_EQ(CountLines(log, "7042 UM_DEVICE_NOTIFY_2 wParam=127 lParam=0"), 1);
    EXPECT_EQ(CountLines(log, "7043 UM_DEVICE_NOTIFY_6 wParam=3 lParam=0"), 1);
    EXPECT_EQ(CountLines(log, "70"), 4);
}

}  // namespace
}  // namespace korv::win32
