// The simulated mouse program KORVANTH417SIM.exe under Wine, as the monitor and a user meet it:
// its device pipe opened and read as the monitor reads a HID interface (message mode, one
// overlapped read per report), its commands run as processes, its arrival and removal
// broadcasts received by a hidden top-level window of this process, and its check of the
// config.ini beside it.

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/hid_class.h"
#include "platform/win32/unique_handle.h"
#include "programs/mousesim/sim_protocol.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr DWORD kGenerousMs = 10000;

using test::BinFolder;
using test::ReadText;
using test::StartProcess;

std::wstring UniquePipeName(const wchar_t* what) {
    static int counter = 0;
    return L"KORV-SIMTEST-" + std::wstring(what) + L"-" + std::to_wstring(GetCurrentProcessId()) +
           L"-" + std::to_wstring(++counter);
}

std::wstring DevicePath(const std::wstring& pipe) {
    return L"\\\\.\\pipe\\" + pipe;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// Handles this thread's messages (sent ones included) until the handle is signalled.
bool PumpUntilSignalled(HANDLE handle, DWORD limit_ms = kGenerousMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (MsgWaitForMultipleObjects(1, &handle, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0)
            return true;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    return false;
}

bool WaitFor(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

struct Outcome {
    DWORD exit_code = 0xFFFFFFFF;
    std::string out;
    std::string err;
    DWORD start_error = 0;  // CreateProcessW's error when the program could not be started
};

std::string ReadAll(HANDLE pipe) {
    std::string text;
    char chunk[4096];
    DWORD bytes = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &bytes, nullptr) && bytes != 0)
        text.append(chunk, bytes);
    return text;
}

// Runs the program to its end with its standard output and error captured, handling this
// thread's messages meanwhile (a broadcast from the program waits for this thread's windows).
Outcome RunToEnd(const std::wstring& exe, const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
    CreatePipe(&out_read, &out_write, &inherit, 64 * 1024);
    CreatePipe(&err_read, &err_write, &inherit, 64 * 1024);
    UniqueHandle out(out_read), err(err_read);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    PROCESS_INFORMATION info{};
    const DWORD start_error =
        StartProcess(L"\"" + exe + L"\" " + arguments, TRUE, nullptr, startup, info);
    CloseHandle(out_write);
    CloseHandle(err_write);
    Outcome outcome;
    if (start_error != 0) {
        outcome.start_error = start_error;
        return outcome;
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    if (PumpUntilSignalled(process.Get()))
        GetExitCodeProcess(process.Get(), &outcome.exit_code);
    else
        TerminateProcess(process.Get(), 9);
    outcome.out = ReadAll(out.Get());
    outcome.err = ReadAll(err.Get());
    return outcome;
}

std::wstring SimulatorExe() {
    return BinFolder() + L"KORVANTH417SIM.exe";
}

// "KORVANTH417SIM.exe serve" on a pipe of the test's own, its output logged to a file. It is
// ended with "quit", and killed only when it does not end in time.
class ServingSimulator {
  public:
    ServingSimulator(std::wstring exe, std::wstring pipe)
        : exe_(std::move(exe)), pipe_(std::move(pipe)), log_(exe_ + L"." + pipe_ + L".log") {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        UniqueHandle log(CreateFileW(log_.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = log.Get();
        startup.hStdError = log.Get();
        PROCESS_INFORMATION info{};
        if (StartProcess(L"\"" + exe_ + L"\" serve --pipe " + pipe_, TRUE, nullptr, startup,
                         info) == 0) {
            process_.Reset(info.hProcess);
            CloseHandle(info.hThread);
        }
    }
    ~ServingSimulator() {
        if (process_.Valid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT)
            Quit();
        if (process_.Valid() && WaitForSingleObject(process_.Get(), kGenerousMs) == WAIT_TIMEOUT)
            TerminateProcess(process_.Get(), 9);
        process_.Reset();
        DeleteFileW(log_.c_str());
    }

    const std::wstring& Pipe() const { return pipe_; }
    std::wstring Path() const { return DevicePath(pipe_); }

    bool WaitUntilServing() const { return WaitForLog("serving;"); }
    bool WaitForLog(const std::string& text) const {
        return WaitFor([&] { return Log().find(text) != std::string::npos; });
    }
    std::string Log() const { return ReadText(log_); }

    Outcome Command(const std::wstring& command) const {
        return RunToEnd(exe_, L"--pipe " + pipe_ + L" " + command);
    }

    // "quit", then the simulator's exit code once it has ended.
    std::optional<DWORD> Quit() {
        EXPECT_EQ(Command(L"quit").exit_code, 0u);
        if (WaitForSingleObject(process_.Get(), kGenerousMs) != WAIT_OBJECT_0)
            return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(process_.Get(), &code);
        return code;
    }

  private:
    std::wstring exe_;
    std::wstring pipe_;
    std::wstring log_;
    UniqueHandle process_;
};

// The monitor's end of the device pipe: opened and read as it opens and reads a HID
// interface, one overlapped read per report.
class DeviceClient {
  public:
    struct ReadResult {
        DWORD error = ERROR_SUCCESS;
        Bytes bytes;
    };

    explicit DeviceClient(const std::wstring& path) {
        // Between a client's connection and the next listening instance the pipe is busy.
        for (int attempt = 0; attempt < 10 && !pipe_.Valid(); ++attempt) {
            pipe_.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr));
            open_error_ = GetLastError();
            if (!pipe_.Valid() && open_error_ == ERROR_PIPE_BUSY)
                WaitNamedPipeW(path.c_str(), kGenerousMs);
            else if (!pipe_.Valid())
                return;
        }
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (pipe_.Valid() && !SetNamedPipeHandleState(pipe_.Get(), &mode, nullptr, nullptr))
            pipe_.Reset();
    }
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;
    ~DeviceClient() { Close(); }

    bool Open() const { return pipe_.Valid(); }
    DWORD OpenError() const { return open_error_; }

    void StartRead() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.Get();
        const BOOL done = ReadFile(pipe_.Get(), buffer_, sizeof buffer_, nullptr, &overlapped_);
        pending_ = done || GetLastError() == ERROR_IO_PENDING || GetLastError() == ERROR_MORE_DATA;
        if (!pending_)
            start_error_ = GetLastError();
    }

    // The end of the read started last; nothing when it does not end in time.
    std::optional<ReadResult> WaitRead() {
        if (!pending_)
            return ReadResult{start_error_, {}};
        if (WaitForSingleObject(event_.Get(), kGenerousMs) != WAIT_OBJECT_0)
            return std::nullopt;
        pending_ = false;
        DWORD bytes = 0;
        const BOOL done = GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, FALSE);
        return ReadResult{done ? ERROR_SUCCESS : GetLastError(), Bytes(buffer_, buffer_ + bytes)};
    }

    // One read: the next report.
    std::optional<Bytes> NextReport() {
        StartRead();
        const auto result = WaitRead();
        if (!result || result->error != ERROR_SUCCESS)
            return std::nullopt;
        return result->bytes;
    }

    bool Write(const Bytes& bytes) {
        UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED overlapped{};
        overlapped.hEvent = done.Get();
        DWORD written = 0;
        if (WriteFile(pipe_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                      &overlapped))
            return true;
        return GetLastError() == ERROR_IO_PENDING &&
               GetOverlappedResult(pipe_.Get(), &overlapped, &written, TRUE);
    }

    void Close() {
        if (pending_) {
            CancelIoEx(pipe_.Get(), &overlapped_);
            DWORD bytes = 0;
            GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, TRUE);
            pending_ = false;
        }
        pipe_.Reset();
    }

  private:
    UniqueHandle pipe_;
    UniqueHandle event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped_{};
    bool pending_ = false;
    DWORD open_error_ = ERROR_SUCCESS;
    DWORD start_error_ = ERROR_SUCCESS;
    std::uint8_t buffer_[4096] = {};
};

// A simulator serving a pipe of this test's own from the build folder.
class MouseSimOnWindows : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(sim_.WaitUntilServing()) << sim_.Log(); }
    void TearDown() override {
        const auto code = sim_.Quit();
        ASSERT_TRUE(code.has_value()) << "the simulator did not end after quit";
        EXPECT_EQ(*code, 0u);
    }

    std::string Expect(const std::wstring& command, DWORD exit_code = 0) {
        const Outcome outcome = sim_.Command(command);
        EXPECT_EQ(outcome.exit_code, exit_code)
            << Narrow(command) << "\nout: " << outcome.out << "\nerr: " << outcome.err;
        return outcome.out + outcome.err;
    }

    ServingSimulator sim_{SimulatorExe(), UniquePipeName(L"device")};
};

std::string ToHex(const Bytes& bytes) {
    return Narrow(sim::Hex(bytes));
}

TEST_F(MouseSimOnWindows, EveryCommandReachesEveryClientAsWholeReports) {
    struct Case {
        const wchar_t* command;
        std::vector<Bytes> reports;  // in order, each one read
        const char* reply;           // the start of the reply
    };
    const Case cases[] = {
        {L"press 4",
         {{7, 0x10, 0, 0, 0, 0, 0, 0}},
         "button 4 pressed: sent 07 10 00 00 00 00 00 00"},
        {L"press 17", {{7, 0x10, 0, 0x02, 0, 0, 0, 0}}, "button 17 pressed: sent 07 10 00 02"},
        {L"release 4", {{7, 0, 0, 0x02, 0, 0, 0, 0}}, "button 4 released: sent 07 00 00 02"},
        {L"click 0x09",
         {{7, 0, 0x02, 0x02, 0, 0, 0, 0}, {7, 0, 0, 0x02, 0, 0, 0, 0}},
         "button 9 clicked"},
        {L"profile 2", {{8, 1, 2, 0, 0, 0, 0, 0}}, "profile 2: sent 08 01 02 00 00 00 00 00"},
        {L"event 6 0x7F", {{8, 6, 0x7F, 0, 0, 0, 0, 0}}, "event kind 6 value 127"},
        {L"report 07 1000", {{7, 0x10, 0}}, "report of 3 byte(s): sent 07 10 00"},
        {L"report ff", {{0xFF}}, "report of 1 byte(s)"},
    };
    DeviceClient first(sim_.Path()), second(sim_.Path());
    ASSERT_TRUE(first.Open() && second.Open());
    ASSERT_TRUE(sim_.WaitForLog("client 2 connected"));
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.command));
        const std::string reply = Expect(c.command);
        EXPECT_EQ(reply.rfind(c.reply, 0), 0u) << reply;
        EXPECT_NE(reply.find(" to 2 client(s)"), std::string::npos) << reply;
        for (DeviceClient* client : {&first, &second}) {
            for (const Bytes& report : c.reports)
                EXPECT_EQ(ToHex(client->NextReport().value_or(Bytes{})), ToHex(report));
        }
    }
}

TEST_F(MouseSimOnWindows, ClientsThatLeaveAreDroppedAndAReportToNoneSaysWhy) {
    DeviceClient staying(sim_.Path());
    {
        DeviceClient leaving(sim_.Path());
        ASSERT_TRUE(staying.Open() && leaving.Open());
        ASSERT_TRUE(sim_.WaitForLog("client 2 connected"));
    }
    EXPECT_NE(Expect(L"press 1").find("to 1 client(s)"), std::string::npos);
    EXPECT_EQ(ToHex(staying.NextReport().value_or(Bytes{})), "07 02 00 00 00 00 00 00");

    staying.Close();
    EXPECT_NE(Expect(L"release 1")
                  .find("to 0 clients: is the monitor running and does its config.ini declare "
                        "the simulated mouse?"),
              std::string::npos);
    EXPECT_NE(sim_.Log().find("client 1 left"), std::string::npos);
    EXPECT_NE(sim_.Log().find("client 2 left"), std::string::npos);
}

TEST_F(MouseSimOnWindows, OutputReportsOfAClientAreLoggedAsHex) {
    DeviceClient client(sim_.Path());
    ASSERT_TRUE(client.Open());
    ASSERT_TRUE(client.Write({0x05, 0x01, 0xAB}));
    EXPECT_TRUE(sim_.WaitForLog("output report from client 1: 05 01 AB")) << sim_.Log();
}

TEST_F(MouseSimOnWindows, UnplugBreaksPendingReadsAndReplugTakesNewClients) {
    DeviceClient before(sim_.Path());
    ASSERT_TRUE(before.Open());
    ASSERT_TRUE(sim_.WaitForLog("client 1 connected"));
    Expect(L"press 5");
    ASSERT_TRUE(before.NextReport().has_value());
    before.StartRead();

    EXPECT_NE(
        Expect(L"unplug").find("unplugged: " + Narrow(sim_.Path()) + " (1 client(s) dropped)"),
        std::string::npos);
    const auto broken = before.WaitRead();
    ASSERT_TRUE(broken.has_value()) << "the pending read did not end";
    EXPECT_EQ(broken->error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
    before.Close();

    DeviceClient while_unplugged(sim_.Path());
    EXPECT_FALSE(while_unplugged.Open());
    EXPECT_EQ(while_unplugged.OpenError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(Expect(L"press 4", 3).find("unplugged"), std::string::npos);
    EXPECT_NE(Expect(L"status").find("unplugged: " + Narrow(sim_.Path())), std::string::npos);

    EXPECT_NE(Expect(L"replug").find("plugged in: " + Narrow(sim_.Path())), std::string::npos);
    DeviceClient after(sim_.Path());
    ASSERT_TRUE(after.Open());
    ASSERT_TRUE(sim_.WaitForLog("client 2 connected"));
    Expect(L"press 4");  // button 5 went up with the unplug
    EXPECT_EQ(ToHex(after.NextReport().value_or(Bytes{})), "07 10 00 00 00 00 00 00");
    EXPECT_NE(Expect(L"status").find("1 client(s) connected; buttons down: 4 (mask 0x000010)"),
              std::string::npos);
}

// A hidden top-level window that records the device-interface broadcasts it receives.
class BroadcastWindow {
  public:
    struct Change {
        WPARAM event = 0;
        bool hid_interface = false;
        std::wstring name;
    };

    BroadcastWindow() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = Proc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = kClass;
        RegisterClassW(&window_class);
        window_ = CreateWindowExW(0, kClass, L"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                  nullptr, window_class.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&changes_));
    }
    ~BroadcastWindow() {
        DestroyWindow(window_);
        UnregisterClassW(kClass, GetModuleHandleW(nullptr));
    }
    bool Created() const { return window_ != nullptr; }
    // The changes announced for one path, in order.
    std::vector<WPARAM> EventsFor(const std::wstring& path) const {
        std::vector<WPARAM> events;
        for (const Change& change : changes_) {
            if (change.hid_interface && change.name == path)
                events.push_back(change.event);
        }
        return events;
    }

  private:
    static constexpr wchar_t kClass[] = L"KorvSimBroadcastTest";

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* changes =
            reinterpret_cast<std::vector<Change>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lparam);
        if (message != WM_DEVICECHANGE || changes == nullptr || header == nullptr ||
            header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
            return DefWindowProcW(window, message, wparam, lparam);
        }
        const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lparam);
        changes->push_back({wparam,
                            IsEqualGUID(device->dbcc_classguid, kHidInterfaceClassGuid) != FALSE,
                            device->dbcc_name});
        return TRUE;
    }

    HWND window_ = nullptr;
    std::vector<Change> changes_;
};

TEST_F(MouseSimOnWindows, UnplugAndReplugAreBroadcastToAHiddenWindowOfAnotherProcess) {
    BroadcastWindow window;
    ASSERT_TRUE(window.Created());
    Expect(L"unplug");
    Expect(L"replug");
    Expect(L"replug");  // while plugged in: out and in again
    EXPECT_EQ(window.EventsFor(sim_.Path()),
              (std::vector<WPARAM>{DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEARRIVAL,
                                   DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEARRIVAL}));
}

TEST(MouseSimCommandLine, WithoutASimulatorACommandExitsTwoAndSaysHowToStartOne) {
    const Outcome outcome = RunToEnd(SimulatorExe(), L"press 4");
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_NE(outcome.err.find("no simulated mouse is running on \\\\.\\pipe\\KORVANTH417-SIM-1; "
                               "start it with: KORVANTH417SIM.exe serve"),
              std::string::npos)
        << outcome.err;
}

// Arguments are checked before any simulator is asked: none runs on this pipe, so a
// command that got through would exit 2 instead.
TEST(MouseSimCommandLine, BadArgumentsPrintTheUsageAndExitOne) {
    const std::wstring pipe = L"--pipe " + UniquePipeName(L"args") + L" ";
    const wchar_t* const bad[] = {L"",           L"press",       L"press 24",  L"press -1",
                                  L"press 0x",   L"release 4 5", L"profile x", L"profile 256",
                                  L"event 1",    L"event 1 2 3", L"report",    L"report 0g",
                                  L"report 071", L"unplug now",  L"jump 3",    L"serve now"};
    for (const wchar_t* arguments : bad) {
        const Outcome outcome = RunToEnd(SimulatorExe(), pipe + arguments);
        EXPECT_EQ(outcome.exit_code, 1u)
            << Narrow(arguments) << " (start error " << outcome.start_error << ")";
        EXPECT_NE(outcome.err.find("Usage:"), std::string::npos) << Narrow(arguments);
    }
    for (const wchar_t* arguments : {L"--pipe", L"--pipe a\\b status"}) {
        EXPECT_EQ(RunToEnd(SimulatorExe(), arguments).exit_code, 1u) << Narrow(arguments);
    }
    const Outcome help = RunToEnd(SimulatorExe(), L"--help");
    EXPECT_EQ(help.exit_code, 0u);
    EXPECT_NE(help.out.find("[SimulatedHIDDeviceList]"), std::string::npos);
}

// The simulator copied into a folder of its own, with the config.ini of each case beside it.
class MouseSimSettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = temp + UniquePipeName(L"settings") + L"\\";
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(SimulatorExe().c_str(), Exe().c_str(), FALSE));
    }
    void TearDown() override {
        DeleteFileW(Exe().c_str());
        DeleteFileW(Config().c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::wstring Exe() const { return folder_ + L"KORVANTH417SIM.exe"; }
    std::wstring Config() const { return folder_ + L"config.ini"; }

    // The start-up output of "serve" with this config.ini (none when nullptr).
    std::string ServeWith(const char* config, const std::wstring& pipe) {
        DeleteFileW(Config().c_str());
        if (config != nullptr)
            std::ofstream(Narrow(Config()), std::ios::binary) << config;
        ServingSimulator sim(Exe(), pipe);
        EXPECT_TRUE(sim.WaitUntilServing());
        const std::string log = sim.Log();
        EXPECT_EQ(sim.Quit(), std::optional<DWORD>(0));
        return log;
    }

    std::wstring folder_;
};

TEST_F(MouseSimSettingsFile, WarnsUnlessAnEntryTheMonitorReadsDeclaresThePipe) {
    struct Case {
        const char* name;
        const char* config;  // "PIPE" stands for the pipe of the case
        bool declared;
    };
    const Case cases[] = {
        {"no config.ini", nullptr, false},
        {"no section", "[options]\r\nProfileRegFolder=KORVANTH417GM\r\n", false},
        {"another pipe",
         "[SimulatedHIDDeviceList]\r\nsim1=OTHER, HID\\X, 0xFFA0, 0x0001, 8, 8, 0\r\n", false},
        {"second entry, blanks and hex",
         "[SimulatedHIDDeviceList]\r\nsim1=OTHER, HID\\X, 0xFFA0, 1, 8, 8, 0\r\n"
         "sim2 =  PIPE ,HID\\KORVANTH417_SIMULATED&Col01,0xffa0,0x0001,0x08,8,0\r\n",
         true},
        {"reading stops at the first missing key",
         "[SimulatedHIDDeviceList]\r\nsim2=PIPE, HID\\X, 0xFFA0, 1, 8, 8, 0\r\n", false},
        {"too few fields", "[SimulatedHIDDeviceList]\r\nsim1=PIPE, HID\\X, 0xFFA0, 1, 8\r\n",
         false},
        {"a number that is none",
         "[SimulatedHIDDeviceList]\r\nsim1=PIPE, HID\\X, 0xFFA0, 1, eight, 8, 0\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring pipe = UniquePipeName(L"ini");
        std::string config = c.config != nullptr ? c.config : "";
        if (const auto at = config.find("PIPE"); at != std::string::npos)
            config.replace(at, 4, Narrow(pipe));
        const std::string log = ServeWith(c.config != nullptr ? config.c_str() : nullptr, pipe);
        // The line to add, whatever its key.
        const std::string advice = Narrow(L"=" + sim::DefaultEntryValue(pipe));
        EXPECT_EQ(log.find("config.ini declares the pipe as sim") != std::string::npos, c.declared)
            << log;
        EXPECT_EQ(log.find("warning:") == std::string::npos, c.declared) << log;
        EXPECT_EQ(log.find(advice) == std::string::npos, c.declared) << log;
    }
}

TEST_F(MouseSimSettingsFile, WarnsWhenTheEntryDeclaresAnotherKindOfInterface) {
    const std::wstring pipe = UniquePipeName(L"ini");
    const std::string config = "[SimulatedHIDDeviceList]\r\nsim1=" + Narrow(pipe) +
                               ", HID\\X, 0xFF00, 0x0001, 8, 8, 0\r\n";
    const std::string log = ServeWith(config.c_str(), pipe);
    EXPECT_NE(log.find("sim1 declares the pipe with another usage page"), std::string::npos) << log;
}

}  // namespace
}  // namespace korv::win32
