#pragma once
// The fixtures of the tests that run the monitor's window in the test's own process beside the
// real stand-in configuration program: a clean registry folder, the stand-in's commands and
// window with a log the test reads, and the monitor's window created as the program creates it,
// so that reports can be handed to its decoder as the HID component delivers them.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "profile/dm_unit.h"
#include "programs/common/win32_platform.h"
#include "programs/monitor/monitor_window.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {

// How many lines of the text begin with `start` from column `from` on (after a log's time
// stamp).
inline int CountLines(const std::string& text, const std::string& start, std::size_t from = 0) {
    int n = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        n += line.size() >= from && line.compare(from, start.size(), start) == 0;
    return n;
}

// A clean registry folder and a stand-in whose log the test reads.
class MonitorOnWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, test::kRegFolder);
        log_ = test::BinFolder() + L"standin-" + std::to_wstring(GetCurrentProcessId()) + L".log";
        DeleteFileW(log_.c_str());
    }
    void TearDown() override {
        if (HWND config = FindWindowW(L"TKORVANTH417CFGMAIN", nullptr)) {
            PostMessageW(config, WM_CLOSE, 0, 0);
            test::PumpUntil([] { return FindWindowW(L"TKORVANTH417CFGMAIN", nullptr) == nullptr; });
        }
        DeleteFileW(log_.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, test::kRegFolder);
    }

    // Runs a stand-in command to its end, handling the messages it sends meanwhile.
    DWORD StandIn(const std::wstring& arguments) {
        test::Process process(L"\"" + test::BinFolder() + L"KORVANTH417.EXE\" " + arguments);
        EXPECT_TRUE(process.Started());
        EXPECT_TRUE(test::PumpUntil([&] { return process.Ended(); }));
        return process.ExitCode();
    }
    std::unique_ptr<test::Process> StandInWindow(const std::wstring& extra = L"") {
        auto process = std::make_unique<test::Process>(
            L"\"" + test::BinFolder() + L"KORVANTH417.EXE\" /log \"" + log_ + L"\" " + extra);
        EXPECT_TRUE(test::PumpUntil(
            [] { return FindWindowW(L"TKORVANTH417CFGMAIN", nullptr) != nullptr; }));
        return process;
    }
    // The stand-in's log once `count` of its lines begin with `start`: the monitor's messages
    // reach another process, which writes when it gets to run. Then a moment more, in which a
    // line that should not come would come.
    std::string LogWith(const std::string& start, int count) {
        EXPECT_TRUE(test::PumpUntil([&] {
            return CountLines(test::ReadText(log_), start) >= count;
        })) << test::ReadText(log_);
        test::PumpUntil([] { return false; }, std::chrono::milliseconds(300));
        return test::ReadText(log_);
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
        test::PumpUntil(
            [] { return false; },
            std::chrono::milliseconds(100));  // the message loop handles UM_MONITOR_EVENT
    }

    // Button 4 pressed twice: the microphone's mute changes, and changes back.
    void ExpectButton4MutesAndUnmutes() {
        const std::optional<bool> before = platform_.microphone.EndpointMuted();
        ASSERT_TRUE(before.has_value());
        Report(7, {0x10, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(platform_.microphone.EndpointMuted(), !*before);
        Report(7, {0x10, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(platform_.microphone.EndpointMuted(), *before);
    }

    Win32Platform platform_;
    std::unique_ptr<TDM> data_module_;
    std::unique_ptr<MonitorWindow> window_;
};

}  // namespace korv::win32
