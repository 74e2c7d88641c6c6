// The monitor program's start-up on Wine when the hook library is missing: its error box comes
// up once the window is complete, and what the configuration program and the mouse send while
// the box is open is acted on at once.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/win32/traced_process.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using test::BinFolder;
using test::BoxOf;
using test::Process;
using test::PumpUntil;
using test::TracedProcess;

using namespace std::chrono_literals;

constexpr auto kLimit = 10s;
using test::kRegFolder;
using test::ProfileID;
constexpr UINT kReloadProfiles = 7035;
constexpr UINT kMonitorEvent = 7524;

DWORD ProcessOf(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id;
}

// The monitor copied alone into a folder of its own: no uiHook.dll beside it.
class MonitorWithoutHookLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kRegFolder);
        folder_ = std::filesystem::temp_directory_path() /
                  (L"korv-nohook-" + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::create_directories(folder_);
        std::filesystem::copy_file(BinFolder() + L"KORVANTH417MON.exe",
                                   folder_ / L"KORVANTH417MON.exe",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    void TearDown() override {
        if (HWND window = FindWindowW(L"TKORVANTH417MONMAIN", nullptr))
            PostMessageW(window, WM_CLOSE, 0, 0);
        if (monitor_ != nullptr) {
            EXPECT_TRUE(monitor_->WaitForExit(kLimit));
        }
        monitor_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        RegDeleteTreeW(HKEY_CURRENT_USER, kRegFolder);
    }
    static DWORD StandIn(const std::wstring& arguments) {
        Process process(L"\"" + BinFolder() + L"KORVANTH417.EXE\" " + arguments);
        EXPECT_TRUE(process.Started());
        EXPECT_TRUE(PumpUntil([&] { return process.Ended(); }));
        return process.ExitCode();
    }

    std::filesystem::path folder_;
    std::unique_ptr<TracedProcess> monitor_;
};

TEST_F(MonitorWithoutHookLibrary, MessagesThatArriveWhileTheBoxIsOpenAreActedOn) {
    // Profile 1 the current one, its button 4 the microphone mute (the monitor is not running).
    ASSERT_EQ(StandIn(L"set-profile 1"), 2u);
    ASSERT_EQ(StandIn(L"set-button 1 4 28"), 2u);
    monitor_ = std::make_unique<TracedProcess>(
        L"\"" + (folder_ / L"KORVANTH417MON.exe").wstring() + L"\"", folder_.wstring());
    ASSERT_TRUE(monitor_->Started()) << "CreateProcessW error " << monitor_->StartError();

    HWND window = nullptr, box = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        window = FindWindowW(L"TKORVANTH417MONMAIN", nullptr);
        box = window != nullptr ? BoxOf(ProcessOf(window), L"Error") : nullptr;
        return box != nullptr;
    }));
    EXPECT_TRUE(monitor_->WaitForLines("Hook library ", 1, kLimit));
    const auto traced = monitor_->LinesStartingWith("Hook library ");
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_NE(traced[0].text.find("not loaded: there is no such file"), std::string::npos)
        << traced[0].text;

    // With the box still open: a reload request and the mute button.
    ASSERT_TRUE(PostMessageW(window, kReloadProfiles, 0, 3));
    EXPECT_TRUE(PumpUntil([] { return ProfileID() == 3u; }));
    ASSERT_TRUE(PostMessageW(window, kMonitorEvent, 4, 1));
    EXPECT_TRUE(monitor_->WaitForLines("Microphone \"", 1, kLimit));
    EXPECT_TRUE(IsWindow(box));

    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(box); }));
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(monitor_->WaitForExit(kLimit));
    EXPECT_EQ(monitor_->ExitCode(), 0u);
}

}  // namespace
}  // namespace korv::win32
