// The mouse's input end to end on Wine, with the real programs: the monitor (started as this
// test's debuggee, so that its trace lines are read), the simulated mouse on a message pipe that
// config.ini declares, and the stand-in configuration program with its log.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>

#include "tests/win32/traced_process.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using namespace std::chrono_literals;
using test::BinFolder;
using test::Process;
using test::ProfileID;
using test::PumpUntil;
using test::ReadText;
using test::TracedProcess;

using test::kRegFolder;
constexpr auto kLimit = 15s;

std::wstring Program(const wchar_t* name) {
    return L"\"" + BinFolder() + name + L"\"";
}

class MouseInputOnWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kRegFolder);
        pipe_ = L"korv-test-" + std::to_wstring(GetCurrentProcessId());
        config_ = BinFolder() + L"config.ini";
        log_ = BinFolder() + L"standin-input-" + std::to_wstring(GetCurrentProcessId()) + L".log";
        DeleteFileW(log_.c_str());
        WriteConfig(L"[SimulatedHIDDeviceList]\r\nsim1=" + pipe_ +
                    L", HID\\KORV_TEST&Col01, 0xFFA0, 0x0001, 8, 8, 0\r\n");
    }
    void TearDown() override {
        monitor_.reset();
        Simulator(L"quit");
        simulator_.reset();
        if (HWND config = FindWindowW(L"TKORVANTH417CFGMAIN", nullptr)) {
            PostMessageW(config, WM_CLOSE, 0, 0);
            PumpUntil([] { return FindWindowW(L"TKORVANTH417CFGMAIN", nullptr) == nullptr; });
        }
        standin_.reset();
        DeleteFileW(config_.c_str());
        DeleteFileW(log_.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, kRegFolder);
    }

    void WriteConfig(const std::wstring& text) {
        const std::string bytes(text.begin(), text.end());
        HANDLE file = CreateFileW(config_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    // Runs a program to its end, handling this thread's messages meanwhile; its exit code.
    static DWORD RunToEnd(const std::wstring& command_line) {
        Process process(command_line);
        EXPECT_TRUE(process.Started());
        EXPECT_TRUE(PumpUntil([&] { return process.Ended(); }, kLimit));
        return process.ExitCode();
    }
    DWORD Simulator(const std::wstring& command) {
        return RunToEnd(Program(L"KORVANTH417SIM.exe") + L" --pipe " + pipe_ + L" " + command);
    }
    void StartAll() {
        // Profile 1 made the current one (a first start activates the third), then its
        // button 4 given the microphone mute; the monitor is not running yet (exit code 2).
        ASSERT_EQ(RunToEnd(Program(L"KORVANTH417.EXE") + L" set-profile 1"), 2u);
        ASSERT_EQ(RunToEnd(Program(L"KORVANTH417.EXE") + L" set-button 1 4 28"), 2u);
        standin_ = std::make_unique<Process>(Program(L"KORVANTH417.EXE") + L" /hide /log \"" +
                                             log_ + L"\"");
        ASSERT_TRUE(PumpUntil([] { return FindWindowW(L"TKORVANTH417CFGMAIN", nullptr); }));
        simulator_ =
            std::make_unique<Process>(Program(L"KORVANTH417SIM.exe") + L" serve --pipe " + pipe_);
        ASSERT_TRUE(PumpUntil([&] { return Simulator(L"status") == 0; }, kLimit));
        monitor_ = std::make_unique<TracedProcess>(Program(L"KORVANTH417MON.exe"), BinFolder());
        ASSERT_TRUE(monitor_->Started());
    }
    bool WaitForTrace(const std::string& start, std::size_t count) {
        if (monitor_->WaitForLines(start, count, kLimit))
            return true;
        for (const TracedProcess::Line& line : monitor_->Lines())
            ADD_FAILURE() << "traced: " << line.text;
        return false;
    }
    std::size_t Traced(const std::string& start) const {
        return monitor_->LinesStartingWith(start).size();
    }

    std::wstring pipe_, config_, log_;
    std::unique_ptr<Process> standin_, simulator_;
    std::unique_ptr<TracedProcess> monitor_;
};

TEST_F(MouseInputOnWindows, ButtonsEventsUnplugAndReplugReachTheMonitor) {
    StartAll();
    // Opened about three seconds after start: the start-up arrival plus the re-open timer.
    ASSERT_TRUE(WaitForTrace("ReopenDevice: 1 reader(s)", 1));
    const auto opened = monitor_->LinesStartingWith("ReopenDevice: ")[0].when;
    EXPECT_GE(opened - monitor_->StartTime(), 2900ms);

    // Button 4 carries the microphone mute: the report is decoded and the handler acts.
    ASSERT_EQ(Simulator(L"press 4"), 0u);
    ASSERT_TRUE(WaitForTrace("KeyIndex = 4", 1));
    EXPECT_TRUE(WaitForTrace("Microphone \"", 1));  // the toggle on the default microphone
    ASSERT_EQ(Simulator(L"release 4"), 0u);

    // Reports of the wrong size or garbage are skipped; the next press still works.
    EXPECT_EQ(Simulator(L"report 07"), 0u);
    EXPECT_EQ(Simulator(L"report 07 10 00 00 00 00 00 00 00 00 00 00"), 0u);
    EXPECT_EQ(Simulator(L"report FF FF FF FF FF FF FF FF"), 0u);
    ASSERT_EQ(Simulator(L"click 4"), 0u);
    ASSERT_TRUE(WaitForTrace("KeyIndex = 4", 2));

    // A profile switch is recorded and announced; kinds 2 and 6 are forwarded.
    ASSERT_EQ(Simulator(L"profile 1"), 0u);
    ASSERT_EQ(Simulator(L"event 2 5"), 0u);
    ASSERT_EQ(Simulator(L"event 6 7"), 0u);
    std::string log;
    EXPECT_TRUE(PumpUntil(
        [&] {
            log = ReadText(log_);
            return std::ranges::all_of(std::array{"7040", "7042", "7043"}, [&](const char* number) {
                return log.find(number) != std::string::npos;
            });
        },
        kLimit))
        << log;
    EXPECT_TRUE(PumpUntil([] { return ProfileID() == 1u; }, kLimit));

    // Unplugged: the reader ends with its debugger text, once.
    ASSERT_EQ(Simulator(L"unplug"), 0u);
    ASSERT_TRUE(WaitForTrace("ERROR_DEVICE_NOT_CONNECTED", 1));
    // Plugged in again: reading resumes 1500 ms after the arrival, with one reader.
    const auto replugged = std::chrono::steady_clock::now();
    ASSERT_EQ(Simulator(L"replug"), 0u);
    ASSERT_TRUE(WaitForTrace("ReopenDevice: ", 2));
    EXPECT_GE(monitor_->LinesStartingWith("ReopenDevice: ")[1].when - replugged, 1400ms);
    EXPECT_EQ(monitor_->LinesStartingWith("ReopenDevice: ")[1].text, "ReopenDevice: 1 reader(s)");
    ASSERT_EQ(Simulator(L"press 4"), 0u);
    ASSERT_TRUE(WaitForTrace("KeyIndex = 4", 3));
    EXPECT_EQ(Traced("ERROR_DEVICE_NOT_CONNECTED"), 1u);

    // Closed from outside, the monitor stops its reader and ends normally.
    PostMessageW(FindWindowW(L"TKORVANTH417MONMAIN", nullptr), WM_CLOSE, 0, 0);
    ASSERT_TRUE(monitor_->WaitForExit(kLimit));
    EXPECT_EQ(monitor_->ExitCode(), 0u);
}

}  // namespace
}  // namespace korv::win32
