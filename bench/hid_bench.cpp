// The monitor's HID figures on Windows (or Wine), in one run:
//  1. two floors, each a message-mode named pipe written by a server thread and read by a
//     client thread that waits for an overlapped read and a stop event together, as the
//     monitor's reader does: the pipe floor, until the read completes; and the design floor,
//     which adds the handovers the monitor's design needs at the least: the reader thread posts
//     the report (PostMessageW) to a hidden window of the main thread's GetMessageW loop, which
//     posts it once more to that window, until that second message is handled. Each prints its
//     median and 90th percentile;
//  2. the monitor's path: the same kind of write, of a button-4 key report, through the real
//     reader, main loop, report dispatcher and window message, until the mute toggle is asked
//     for (the Core Audio toggle itself is monitor_bench's figure), beside both floors with
//     the ratios of the medians;
//  3. throughput: 8000 reports a second for 10 s through the same path: reports written,
//     delivered and lost, and the CPU time of the monitor's threads; then the same rate on a
//     bare overlapped reader of a pipe, which shows what the pipe alone costs.
//
//   hid_bench [samples]

// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "app/report_dispatch.h"
#include "app/settings_file.h"
#include "bench/bench_figures.h"
#include "hid/ui_hid_data.h"
#include "platform/win32/hidden_window.h"
#include "platform/win32/message_pipe_server.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_config_peer.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_keyed_store.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_main_loop.h"
#include "platform/win32/win32_pipe_hid.h"
#include "platform/win32/win32_system.h"
#include "ports/microphone.h"
#include "profile/dm_unit.h"

namespace korv {
namespace {

using bench::Clock;
using bench::Micros;
using bench::Print;
using win32::UniqueHandle;

constexpr DWORD kReportBytes = 8;
constexpr DWORD kPipeBufferBytes = 64 * 1024;
constexpr DWORD kGapMs = 2;               // between two writes of a latency series
constexpr DWORD kAnswerTimeoutMs = 2000;  // a write that is never read or never acted on
constexpr DWORD kSearchTimeoutMs = 10000;
constexpr int kReportsPerSecond = 8000;
constexpr auto kThroughputTime = std::chrono::seconds(10);
constexpr auto kStallTime = std::chrono::seconds(1);  // a reading side that stopped
constexpr std::uint8_t kIgnoredReportId = 9;          // a report the dispatcher does not decode
constexpr std::size_t kMicMuteButton = 4;
// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, which older headers lack.
constexpr DWORD kHighResolutionTimer = 0x00000002;
constexpr wchar_t kDispatchWindowClass[] = L"KorvHidBenchWindow";
constexpr wchar_t kDesignFloorWindowClass[] = L"KorvHidBenchFloorWindow";
// The design floor's messages: the reader thread hands a report over, then the main thread posts
// it once more to its own window.
constexpr UINT kReportHandedOver = WM_APP + 1;
constexpr UINT kReportPosted = WM_APP + 2;

using Report = std::array<std::uint8_t, kReportBytes>;
constexpr Report kButton4Down{kKeyReportId, 0x10, 0, 0, 0, 0, 0, 0};
constexpr Report kAllButtonsUp{kKeyReportId, 0, 0, 0, 0, 0, 0, 0};

Report ThroughputReport(std::uint64_t sequence) {
    Report report{kIgnoredReportId};
    for (std::size_t i = 1; i < report.size(); ++i)
        report[i] = static_cast<std::uint8_t>(sequence >> (8 * (i - 1)));
    return report;
}

std::wstring PipeName(const wchar_t* purpose) {
    return L"korv-hid-bench-" + std::wstring(purpose) + L"-" +
           std::to_wstring(GetCurrentProcessId());
}

std::wstring PipePath(const std::wstring& name) {
    return L"\\\\.\\pipe\\" + name;
}

// The value below which `fraction` of the values lie (0.5: the median).
double Percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size()));
    return values[std::min(index, values.size() - 1)];
}

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 0.5);
}

double P90(std::vector<double> values) {
    return Percentile(std::move(values), 0.9);
}

Clock::rep Now() {
    return Clock::now().time_since_epoch().count();
}

double MicrosBetween(Clock::rep from, Clock::rep to) {
    return Micros(Clock::duration(to - from));
}

UniqueHandle NewEvent(bool manual_reset) {
    return UniqueHandle(CreateEventW(nullptr, manual_reset, FALSE, nullptr));
}

UniqueHandle CreatePipeInstance(const std::wstring& path) {
    return UniqueHandle(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                         PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes,
                                         kPipeBufferBytes, 0, nullptr));
}

// Waits for an overlapped operation; one that does not end in time is cancelled.
bool Finish(HANDLE file, OVERLAPPED& overlapped, DWORD timeout_ms) {
    DWORD bytes = 0;
    if (WaitForSingleObject(overlapped.hEvent, timeout_ms) != WAIT_OBJECT_0) {
        CancelIoEx(file, &overlapped);
        GetOverlappedResult(file, &overlapped, &bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(file, &overlapped, &bytes, FALSE) != 0;
}

// Writes one message on an overlapped pipe end and waits until it is written.
bool WriteMessage(HANDLE pipe, const Report& report, HANDLE done) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = done;
    if (WriteFile(pipe, report.data(), kReportBytes, nullptr, &overlapped))
        return true;
    return GetLastError() == ERROR_IO_PENDING && Finish(pipe, overlapped, kAnswerTimeoutMs);
}

// ---- 1. The floor

// The server end and a client end, overlapped and in message read mode, of one pipe.
struct PipePair {
    UniqueHandle server;
    UniqueHandle client;
};

UniqueHandle OpenClient(const std::wstring& path) {
    UniqueHandle client(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (client.Valid() && !SetNamedPipeHandleState(client.Get(), &mode, nullptr, nullptr))
        client.Reset();
    return client;
}

bool ConnectClient(PipePair& pair, const std::wstring& path) {
    const UniqueHandle connected = NewEvent(true);
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected.Get();
    ConnectNamedPipe(pair.server.Get(), &overlapped);
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING && error != ERROR_PIPE_CONNECTED)
        return false;
    pair.client = OpenClient(path);
    if (error == ERROR_IO_PENDING && !Finish(pair.server.Get(), overlapped, kAnswerTimeoutMs))
        return false;
    return pair.client.Valid();
}

// What the floor's writer and reader share.
struct FloorLink {
    std::atomic<Clock::rep> written_at{0};
    UniqueHandle sampled = NewEvent(false);  // the reader took the time of the last write
    UniqueHandle stop = NewEvent(true);      // the writer has ended
};

void WriteFloorReports(HANDLE server, FloorLink& link, int samples) {
    const UniqueHandle done = NewEvent(true);
    for (int i = 0; i < samples; ++i) {
        Sleep(kGapMs);
        link.written_at = Now();
        if (!WriteMessage(server, kButton4Down, done.Get()) ||
            WaitForSingleObject(link.sampled.Get(), kAnswerTimeoutMs) != WAIT_OBJECT_0) {
            break;
        }
    }
    SetEvent(link.stop.Get());
}

// Reads one message as the monitor's reader does: an overlapped read waited for together with
// the stop event, no timeout. False when stopped or when the read failed.
bool ReadOne(HANDLE client, HANDLE read_done, HANDLE stop, Report& buffer) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = read_done;
    if (!ReadFile(client, buffer.data(), kReportBytes, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    const HANDLE events[] = {read_done, stop};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        Finish(client, overlapped, 0);  // cancels the read and waits for it
        return false;
    }
    DWORD bytes = 0;
    return GetOverlappedResult(client, &overlapped, &bytes, FALSE) != 0;
}

std::vector<double> ReadFloorReports(HANDLE client, FloorLink& link, int samples) {
    const UniqueHandle read_done = NewEvent(true);
    std::vector<double> times;
    Report buffer{};
    while (static_cast<int>(times.size()) < samples &&
           ReadOne(client, read_done.Get(), link.stop.Get(), buffer)) {
        times.push_back(MicrosBetween(link.written_at, Now()));
        SetEvent(link.sampled.Get());
    }
    return times;
}

struct Series {
    std::vector<double> times;
    const char* error = nullptr;
};

// A floor's pipe with its client connected; the reason when it cannot be had.
const char* ConnectFloorPipe(const wchar_t* purpose, PipePair& pair) {
    const std::wstring path = PipePath(PipeName(purpose));
    pair.server = CreatePipeInstance(path);
    if (!pair.server.Valid())
        return "the floor's named pipe cannot be created";
    if (!ConnectClient(pair, path))
        return "the floor's named pipe cannot be opened by its client";
    return nullptr;
}

Series MeasureFloor(int samples) {
    PipePair pair;
    if (const char* error = ConnectFloorPipe(L"floor", pair))
        return {{}, error};
    FloorLink link;
    std::thread writer([&] { WriteFloorReports(pair.server.Get(), link, samples); });
    Series series{ReadFloorReports(pair.client.Get(), link, samples)};
    SetEvent(link.sampled.Get());  // a writer still waiting for an answer ends at once
    writer.join();
    if (static_cast<int>(series.times.size()) < samples)
        series.error = "the floor's pipe stopped delivering";
    return series;
}

// ---- Hidden windows and the message loop

// A hidden top-level window of its own class, as the monitor's window is; its procedure finds
// what it serves attached to it.
class HiddenWindow {
  public:
    HiddenWindow(const wchar_t* class_name, WNDPROC procedure)
        : window_(win32::CreateHiddenWindow(class_name, procedure,
                                            win32::HiddenWindowKind::kTopLevel)) {}
    ~HiddenWindow() {
        if (window_ != nullptr)
            DestroyWindow(window_);
    }
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    HWND Get() const { return window_; }
    void Attach(void* owner) const {
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    }

  private:
    HWND window_ = nullptr;
};

template <typename Owner>
Owner* AttachedTo(HWND window) {
    return reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// ---- 1. The design floor

// A report carried whole in a message's WPARAM.
WPARAM Packed(const Report& report) {
    return static_cast<WPARAM>(std::bit_cast<std::uint64_t>(report));
}

// The design floor's series, from the write until the second message is handled, and its two
// parts: until the reader thread's message is handled, and from there.
struct DesignFloorSeries {
    Series total;
    std::vector<double> until_handover;
    std::vector<double> handover_to_second;
};

// The main thread's side of the design floor. Main thread only, apart from the link.
struct DesignFloorState {
    FloorLink& link;
    Clock::rep handed_over_at = 0;
    DesignFloorSeries series;
};

void TakeDesignFloorSample(DesignFloorState& state) {
    const Clock::rep now = Now();
    const Clock::rep written_at = state.link.written_at;
    state.series.total.times.push_back(MicrosBetween(written_at, now));
    state.series.until_handover.push_back(MicrosBetween(written_at, state.handed_over_at));
    state.series.handover_to_second.push_back(MicrosBetween(state.handed_over_at, now));
    SetEvent(state.link.sampled.Get());
}

// Posts a handed-over report once more to the same window, and takes the time when that message
// is handled; WM_CLOSE ends the thread's message loop.
LRESULT CALLBACK DesignFloorWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* state = AttachedTo<DesignFloorState>(window);
    if (state != nullptr && message == kReportHandedOver) {
        state->handed_over_at = Now();
        PostMessageW(window, kReportPosted, wparam, 0);
        return 0;
    }
    if (state != nullptr && message == kReportPosted) {
        // A report that arrived changed is not answered: the writer's wait then fails the run.
        if (wparam == Packed(kButton4Down))
            TakeDesignFloorSample(*state);
        return 0;
    }
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// The design floor's reader thread: each report read goes to the main thread by one
// PostMessageW, as the monitor's reader wakes its main loop.
void HandOverReports(HANDLE client, HWND window, HANDLE stop) {
    const UniqueHandle read_done = NewEvent(true);
    Report buffer{};
    while (ReadOne(client, read_done.Get(), stop, buffer)) {
        if (!PostMessageW(window, kReportHandedOver, Packed(buffer), 0))
            return;
    }
}

DesignFloorSeries FailedDesignFloor(const char* error) {
    DesignFloorSeries series;
    series.total.error = error;
    return series;
}

// A writer thread and a reader thread as for the floor; this thread runs the message loop.
DesignFloorSeries MeasureDesignFloor(int samples) {
    PipePair pair;
    if (const char* error = ConnectFloorPipe(L"design-floor", pair))
        return FailedDesignFloor(error);
    FloorLink link;
    DesignFloorState state{link, 0, {}};
    const HiddenWindow window(kDesignFloorWindowClass, DesignFloorWindowProc);
    if (window.Get() == nullptr)
        return FailedDesignFloor("the design floor's window cannot be created");
    window.Attach(&state);
    std::thread reader([&] { HandOverReports(pair.client.Get(), window.Get(), link.stop.Get()); });
    std::thread writer([&] {
        WriteFloorReports(pair.server.Get(), link, samples);
        PostMessageW(window.Get(), WM_CLOSE, 0, 0);
    });
    RunMessageLoop();
    writer.join();
    reader.join();
    window.Attach(nullptr);
    if (static_cast<int>(state.series.total.times.size()) < samples)
        state.series.total.error = "the design floor's messages stopped arriving";
    return std::move(state.series);
}

// ---- 2. and 3. The monitor's side

// Records when the toggle was asked for and wakes the writer.
class TimedMicrophone : public Microphone {
  public:
    void Prepare() override {}
    void ToggleMute() override {
        toggled_at = Now();
        SetEvent(toggled.Get());
    }

    std::atomic<Clock::rep> toggled_at{0};
    UniqueHandle toggled = NewEvent(false);
};

// A hidden top-level window whose WM_CLOSE ends the thread's message loop.
LRESULT CALLBACK DispatchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

win32::PipeHidDeclaration BenchInterface(const std::wstring& pipe_name) {
    win32::PipeHidDeclaration simulated;
    simulated.pipe_name = std::u16string(pipe_name.begin(), pipe_name.end());
    simulated.hardware_id = u"HID\\KORV_HID_BENCH&Col01";
    simulated.capabilities = {kMouseVendorCollection.Usage, kMouseVendorCollection.UsagePage,
                              kReportBytes, kReportBytes, 0};
    return simulated;
}

// The monitor's HID path on the real Windows backends, wired as the monitor wires it, with a
// count of the reports OnData received. Main thread only, except `delivered`.
class MonitorSide {
  public:
    explicit MonitorSide(const std::wstring& pipe_name)
        : interfaces_(std::vector{BenchInterface(pipe_name)}),
          dm_(LoadDataModule({registry_, files_, shell_, locale_, clock_, debug_})) {
        // The current profile's button 4 mutes the microphone.
        dm_->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[kMicMuteButton].FunctionCode =
            kFunctionCodeMicrophoneMute;
        dispatcher_ = std::make_unique<ReportDispatcher>(
            ReportDispatcher::Ports{peer_, main_loop_, registry_, microphone, debug_}, *dm_);
        hid_ = std::make_unique<TuiHIDData>(interfaces_, main_loop_, debug_,
                                            std::vector<std::u16string>{});
        hid_->OnData = [this](std::u16string_view id, std::u16string_view path,
                              std::uint8_t report_id, const std::uint8_t* data,
                              std::uint16_t size) {
            if (report_id == kKeyReportId && size > 0 && data[0] != 0)
                key_data_at = Now();
            delivered.fetch_add(1, std::memory_order_relaxed);
            dispatcher_->uiHIDData1Data(id, path, report_id, std::span(data, size), size);
        };
    }
    ~MonitorSide() = default;
    MonitorSide(const MonitorSide&) = delete;
    MonitorSide& operator=(const MonitorSide&) = delete;

    [[nodiscard]] bool Ready() const { return window_.Get() != nullptr && main_loop_.Valid(); }
    HWND Window() const { return window_.Get(); }

    // The search and the start of the readers, as the monitor's re-open does.
    std::size_t StartReaders() {
        hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
        return hid_->RunningReaderCount();
    }
    void StopReaders() { hid_->HidStopRead(); }

    // The dispatcher's trace line of a key report alone, on the debugger channel.
    std::vector<double> TimeTraceLine(int runs) const {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            const auto start = Clock::now();
            debug_.Trace(u"KeyIndex = 4 postmessage record!");
            times.push_back(Micros(Clock::now() - start));
        }
        return times;
    }

    TimedMicrophone microphone;
    std::atomic<std::uint64_t> delivered{0};
    std::atomic<Clock::rep> key_data_at{0};  // when OnData received the last key press

  private:
    win32::Win32KeyedStore registry_;
    win32::Win32FileSystem files_;
    win32::Win32Shell shell_;
    win32::Win32Locale locale_;
    win32::Win32Clock clock_;
    win32::Win32DebugOutput debug_;
    win32::Win32ConfigPeer peer_{shell_, files_, debug_};
    win32::Win32MainLoop main_loop_;
    win32::Win32PipeHidInterfaces interfaces_;
    std::unique_ptr<TDM> dm_;
    HiddenWindow window_{kDispatchWindowClass, DispatchWindowProc};
    std::unique_ptr<ReportDispatcher> dispatcher_;
    std::unique_ptr<TuiHIDData> hid_;  // destroyed first: its readers stop before the rest goes
};

// ---- The simulated mouse's end of the pipe

// A message pipe that always keeps one instance listening, as the simulated mouse does: the
// monitor's reader opens it, and a client that looks and closes again is dropped. Each report
// goes to every connected client. One thread only.
class MouseServer {
  public:
    explicit MouseServer(std::wstring path) : path_(std::move(path)) {}

    [[nodiscard]] bool Listen();
    HANDLE ListenEvent() const { return listening_->Event(); }
    // Takes the listening instance as a client when it is connected, and listens anew.
    [[nodiscard]] bool AcceptConnected();
    // Drops the clients that closed their end.
    void DropClosedClients();
    std::size_t ClientCount() const { return clients_.size(); }
    // Writes to every client, dropping those that fail; false when none is left.
    [[nodiscard]] bool Write(const Report& report);

  private:
    using Instance = win32::MessagePipeInstance;

    std::wstring path_;
    std::unique_ptr<Instance> listening_;
    std::vector<std::unique_ptr<Instance>> clients_;
};

bool MouseServer::Listen() {
    auto created = Instance::Create(path_, PIPE_UNLIMITED_INSTANCES, 0, kPipeBufferBytes);
    if (!created.instance)
        return false;
    listening_ = std::move(created.instance);
    listening_->StartConnect();
    return true;
}

bool MouseServer::AcceptConnected() {
    if (WaitForSingleObject(listening_->Event(), 0) != WAIT_OBJECT_0)
        return true;
    if (listening_->Finish().error == ERROR_SUCCESS)
        clients_.push_back(std::move(listening_));
    return Listen();
}

void MouseServer::DropClosedClients() {
    std::erase_if(clients_,
                  [](const std::unique_ptr<Instance>& client) { return client->ClientClosed(); });
}

bool MouseServer::Write(const Report& report) {
    std::erase_if(clients_, [&](const std::unique_ptr<Instance>& client) {
        return client->Write(report, kAnswerTimeoutMs) != ERROR_SUCCESS;
    });
    return !clients_.empty();
}

// ---- CPU time

double Seconds(const FILETIME& time) {
    return static_cast<double>(ULARGE_INTEGER{{time.dwLowDateTime, time.dwHighDateTime}}.QuadPart) *
           1e-7;
}

// CPU time of the whole process and of the calling thread, in seconds.
struct CpuTimes {
    double process = 0;
    double this_thread = 0;
};

CpuTimes CpuNow() {
    FILETIME created, ended, kernel, user;
    CpuTimes times;
    if (GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user))
        times.process = Seconds(kernel) + Seconds(user);
    if (GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user))
        times.this_thread = Seconds(kernel) + Seconds(user);
    return times;
}

// CPU seconds of one thread of this process.
struct ThreadCpu {
    DWORD id = 0;
    double seconds = 0;
};

double ThreadSeconds(DWORD id) {
    const UniqueHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id));
    FILETIME created, ended, kernel, user;
    if (!thread.Valid() || !GetThreadTimes(thread.Get(), &created, &ended, &kernel, &user))
        return 0;
    return Seconds(kernel) + Seconds(user);
}

std::vector<ThreadCpu> ThreadCpuNow() {
    std::vector<ThreadCpu> threads;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot.Valid() && Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            threads.push_back({entry.th32ThreadID, ThreadSeconds(entry.th32ThreadID)});
    }
    return threads;
}

// Each thread's CPU time since `before` (all of it for a thread started since).
std::vector<ThreadCpu> ThreadCpuSince(const std::vector<ThreadCpu>& before) {
    std::vector<ThreadCpu> now = ThreadCpuNow();
    for (ThreadCpu& thread : now) {
        const auto earlier = std::ranges::find(before, thread.id, &ThreadCpu::id);
        if (earlier != before.end())
            thread.seconds -= earlier->seconds;
    }
    return now;
}

// ---- Writing at a rate

// Wakes the writer every millisecond: a high-resolution waitable timer where the system has
// one, else an ordinary one, else Sleep(1).
class Pacer {
  public:
    Pacer() {
        timer_.Reset(
            CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS));
        high_resolution_ = timer_.Valid();
        if (!high_resolution_)
            timer_.Reset(CreateWaitableTimerW(nullptr, FALSE, nullptr));
        LARGE_INTEGER due{};
        due.QuadPart = -10000;  // 1 ms from now, then every 1 ms
        running_ =
            timer_.Valid() && SetWaitableTimer(timer_.Get(), &due, 1, nullptr, nullptr, FALSE);
    }
    ~Pacer() {
        if (running_)
            CancelWaitableTimer(timer_.Get());
    }
    Pacer(const Pacer&) = delete;
    Pacer& operator=(const Pacer&) = delete;

    void Wait() const {
        if (running_)
            WaitForSingleObject(timer_.Get(), 1000);
        else
            Sleep(1);
    }
    bool HighResolution() const { return running_ && high_resolution_; }

  private:
    UniqueHandle timer_;
    bool high_resolution_ = false;
    bool running_ = false;
};

// Writes what is due by the clock at each wake-up, so that the rate holds on average also
// where the wake-ups come late; a writer held up by a full pipe stops at the end of the time.
std::uint64_t WriteAtRate(MouseServer& server, const Pacer& pacer, Clock::time_point start) {
    std::uint64_t written = 0;
    for (auto now = start; now - start < kThroughputTime; now = Clock::now()) {
        const auto due = static_cast<std::uint64_t>(
            std::chrono::duration<double>(now - start).count() * kReportsPerSecond);
        for (; written < due && Clock::now() - start < kThroughputTime; ++written) {
            if (!server.Write(ThroughputReport(written)))
                return written;
        }
        pacer.Wait();
    }
    return written;
}

// Waits until the reading side has received `count` reports in all; gives up once nothing
// has arrived for a while.
bool WaitUntilDelivered(const std::atomic<std::uint64_t>& delivered, std::uint64_t count) {
    std::uint64_t seen = delivered.load();
    auto progress_at = Clock::now();
    while (seen < count && Clock::now() - progress_at < kStallTime) {
        Sleep(1);
        if (delivered.load() != seen) {
            seen = delivered.load();
            progress_at = Clock::now();
        }
    }
    return seen >= count;
}

struct ThroughputFigures {
    std::uint64_t written = 0;
    std::uint64_t delivered = 0;
    std::uint64_t backlog = 0;  // written but not yet received when the writing ended
    double write_seconds = 0;
    double wall_seconds = 0;        // from the first write until every report arrived (or gave up)
    double reader_cpu_seconds = 0;  // the process, less the writer's thread
    bool high_resolution_timer = false;
    DWORD main_thread = 0;
    DWORD writer_thread = 0;
    std::vector<ThreadCpu> threads;  // every thread of the process, CPU during the run
};

// Runs on the writer's thread; `count` counts the reports the reading side received.
ThroughputFigures MeasureThroughput(MouseServer& server, const std::atomic<std::uint64_t>& count,
                                    DWORD main_thread) {
    const Pacer pacer;
    ThroughputFigures figures;
    figures.high_resolution_timer = pacer.HighResolution();
    figures.main_thread = main_thread;
    figures.writer_thread = GetCurrentThreadId();
    const std::uint64_t before = count.load();
    const std::vector<ThreadCpu> threads_before = ThreadCpuNow();
    const CpuTimes cpu_before = CpuNow();
    const auto start = Clock::now();
    figures.written = WriteAtRate(server, pacer, start);
    figures.write_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.backlog = figures.written - std::min(figures.written, count.load() - before);
    // What did not arrive in time shows in `delivered` below.
    static_cast<void>(WaitUntilDelivered(count, before + figures.written));
    figures.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.delivered = count.load() - before;
    const CpuTimes cpu_after = CpuNow();
    figures.threads = ThreadCpuSince(threads_before);
    figures.reader_cpu_seconds =
        (cpu_after.process - cpu_before.process) - (cpu_after.this_thread - cpu_before.this_thread);
    return figures;
}

// ---- The writer's side of 2. and 3.

// The key-press series: from the write until ToggleMute, and its two parts: until OnData had the
// report on the main thread, and from there until ToggleMute.
struct KeyLatency {
    std::vector<double> total;
    std::vector<double> until_on_data;
    std::vector<double> on_data_to_toggle;
};

struct ServerResults {
    KeyLatency latency;
    std::vector<double> trace_line;
    ThroughputFigures throughput;
    const char* error = nullptr;
};

ServerResults FailedRun(const char* error) {
    ServerResults results;
    results.error = error;
    return results;
}

// Accepts the connections of the monitor's search until its readers run; then exactly one
// client, the reader, must be left.
const char* AcceptUntilReadersStarted(MouseServer& server, HANDLE started) {
    for (;;) {
        const HANDLE events[] = {server.ListenEvent(), started};
        const DWORD which = WaitForMultipleObjects(2, events, FALSE, kSearchTimeoutMs);
        if (which == WAIT_OBJECT_0 + 1)
            break;
        if (which != WAIT_OBJECT_0)
            return "the monitor's search did not end";
        if (!server.AcceptConnected())
            return "a new instance of the mouse's pipe cannot be created";
    }
    for (int tries = 0; tries < 20; ++tries) {
        if (!server.AcceptConnected())
            return "a new instance of the mouse's pipe cannot be created";
        server.DropClosedClients();
        if (server.ClientCount() == 1)
            return nullptr;
        Sleep(50);
    }
    return "the monitor's reader did not open the mouse's pipe";
}

// Button 4 down, timed until the toggle is asked for, then all buttons up, with a pause before
// each write.
const char* MeasureKeyLatency(MouseServer& server, MonitorSide& monitor, int samples,
                              KeyLatency& times) {
    for (int i = 0; i < samples; ++i) {
        Sleep(kGapMs);
        const Clock::rep written_at = Now();
        if (!server.Write(kButton4Down))
            return "the key report cannot be written";
        if (WaitForSingleObject(monitor.microphone.toggled.Get(), kAnswerTimeoutMs) !=
            WAIT_OBJECT_0) {
            return "a button-4 key report did not toggle the microphone";
        }
        const Clock::rep on_data_at = monitor.key_data_at;
        const Clock::rep toggled_at = monitor.microphone.toggled_at;
        times.total.push_back(MicrosBetween(written_at, toggled_at));
        times.until_on_data.push_back(MicrosBetween(written_at, on_data_at));
        times.on_data_to_toggle.push_back(MicrosBetween(on_data_at, toggled_at));
        Sleep(kGapMs);
        if (!server.Write(kAllButtonsUp))
            return "the release report cannot be written";
    }
    return WaitUntilDelivered(monitor.delivered, 2 * static_cast<std::uint64_t>(samples))
               ? nullptr
               : "the last release report was not delivered";
}

struct ServerLinks {
    HANDLE readers_started;
    MonitorSide& monitor;
    int samples;
    DWORD main_thread;
};

// The writer's thread: the latency series, then the throughput run; then it ends the main
// thread's message loop.
void ServeMouse(MouseServer& server, const ServerLinks& links, ServerResults& out) {
    out.error = AcceptUntilReadersStarted(server, links.readers_started);
    if (out.error == nullptr)
        out.error = MeasureKeyLatency(server, links.monitor, links.samples, out.latency);
    if (out.error == nullptr)
        out.throughput = MeasureThroughput(server, links.monitor.delivered, links.main_thread);
    PostMessageW(links.monitor.Window(), WM_CLOSE, 0, 0);
}

ServerResults MeasureMonitor(int samples) {
    const std::wstring pipe_name = PipeName(L"mouse");
    MonitorSide monitor(pipe_name);
    if (!monitor.Ready())
        return FailedRun("the bench window or the main loop's window cannot be created");
    MouseServer server(PipePath(pipe_name));
    if (!server.Listen())
        return FailedRun("the mouse's named pipe cannot be created");
    const UniqueHandle readers_started = NewEvent(true);
    ServerResults results;
    const ServerLinks links{readers_started.Get(), monitor, samples, GetCurrentThreadId()};
    std::thread writer([&] { ServeMouse(server, links, results); });
    monitor.StartReaders();
    SetEvent(readers_started.Get());
    RunMessageLoop();
    writer.join();
    monitor.StopReaders();
    results.trace_line = monitor.TimeTraceLine(samples);
    return results;
}

// ---- The same rate on a bare reader, for comparison

void ReadAndCount(HANDLE client, HANDLE stop, std::atomic<std::uint64_t>& count) {
    const UniqueHandle read_done = NewEvent(true);
    Report buffer{};
    while (ReadOne(client, read_done.Get(), stop, buffer))
        count.fetch_add(1, std::memory_order_relaxed);
}

// The writer on this thread, a reader thread that only reads and counts.
ServerResults MeasureBareThroughput() {
    const std::wstring path = PipePath(PipeName(L"bare"));
    MouseServer server(path);
    if (!server.Listen())
        return FailedRun("the bare reader's named pipe cannot be created");
    const UniqueHandle client = OpenClient(path);
    if (!client.Valid() || WaitForSingleObject(server.ListenEvent(), kAnswerTimeoutMs) != 0 ||
        !server.AcceptConnected()) {
        return FailedRun("the bare reader cannot open its named pipe");
    }
    const UniqueHandle stop = NewEvent(true);
    std::atomic<std::uint64_t> count{0};
    std::thread reader([&] { ReadAndCount(client.Get(), stop.Get(), count); });
    ServerResults results;
    results.throughput = MeasureThroughput(server, count, 0);
    SetEvent(stop.Get());
    reader.join();
    return results;
}

// ---- Figures

struct Floors {
    Series pipe;
    DesignFloorSeries design;
};

void PrintFloorsHeading() {
    std::printf(
        "\n== 1. Floors: the same message-pipe write of a key report, read by a thread that waits "
        "for its overlapped ReadFile and a stop event together\n");
    std::printf("pipe floor:   until the reader thread's read completes\n");
    std::printf(
        "design floor: then one PostMessageW to a hidden window of the main thread's GetMessageW "
        "loop, which posts it once more to that window; until that message is handled\n");
}

void PrintP90(const char* what, const std::vector<double>& values) {
    std::printf("%-46s %5zu runs  p90    %10.1f us\n", what, values.size(), P90(values));
}

void PrintDesignFloor(const DesignFloorSeries& design) {
    Print("design floor: write to the second message", design.total.times, "us");
    PrintP90("design floor: write to the second message", design.total.times);
    std::printf("parts:\n");
    Print("  write to the handover on the main thread", design.until_handover, "us");
    Print("  handover to the second message", design.handover_to_second, "us");
}

void PrintLatency(const Floors& floors, const KeyLatency& latency,
                  const std::vector<double>& trace_line) {
    std::printf("\n== 2. Monitor path: pipe write of a button-4 key report until ToggleMute\n");
    std::printf("   (simulated interface, reader thread, main loop, dispatcher, window)\n");
    Print("key report write to ToggleMute", latency.total, "us");
    PrintP90("key report write to ToggleMute", latency.total);
    Print("pipe floor (from 1.)", floors.pipe.times, "us");
    Print("design floor (from 1.)", floors.design.total.times, "us");
    const double median = Median(latency.total);
    const double ratio = median / Median(floors.pipe.times);
    std::printf("ratio of medians monitor/pipe floor: %.2f (goal <= 1.5: %s)\n", ratio,
                ratio <= 1.5 ? "met" : "MISSED");
    const double design_median = Median(floors.design.total.times);
    std::printf("ratio of medians monitor/design floor: %.2f (difference %+.1f us)\n",
                median / design_median, median - design_median);
    std::printf("parts:\n");
    Print("  write to OnData on the main thread", latency.until_on_data, "us");
    Print("  OnData to ToggleMute", latency.on_data_to_toggle, "us");
    Print("  the dispatcher's trace line alone", trace_line, "us");
}

const char* ThreadRole(const ThroughputFigures& t, DWORD id) {
    if (id == t.writer_thread)
        return "writer (the bench's; not counted)";
    if (id == t.main_thread)
        return "main thread";
    return "other (reader, or Wine's own)";
}

void PrintThreads(const ThroughputFigures& t) {
    for (const ThreadCpu& thread : t.threads) {
        if (thread.seconds < 0.005)
            continue;
        std::printf("  thread %6lu %-36s %7.3f s = %6.2f%%\n", thread.id, ThreadRole(t, thread.id),
                    thread.seconds, 100.0 * thread.seconds / t.wall_seconds);
    }
}

void PrintThroughput(const ThroughputFigures& t, const char* reader) {
    std::printf("pacing: %s, catching up by the clock\n",
                t.high_resolution_timer ? "high-resolution waitable timer, 1 ms"
                                        : "ordinary waitable timer or Sleep(1)");
    std::printf("written   %llu in %.2f s (%.0f reports/s achieved)\n",
                static_cast<unsigned long long>(t.written), t.write_seconds,
                static_cast<double>(t.written) / t.write_seconds);
    const std::uint64_t lost = t.written - std::min(t.written, t.delivered);
    std::printf("backlog   %llu not yet received when the writing ended\n",
                static_cast<unsigned long long>(t.backlog));
    std::printf("delivered %llu to %s in %.2f s, lost %llu (goal: none lost: %s)\n",
                static_cast<unsigned long long>(t.delivered), reader, t.wall_seconds,
                static_cast<unsigned long long>(lost), lost == 0 ? "met" : "MISSED");
    const double percent = 100.0 * t.reader_cpu_seconds / t.wall_seconds;
    std::printf(
        "CPU of the reading threads: %.3f s over %.2f s wall = %.2f%% of one core "
        "(goal < 5%%: %s)\n",
        t.reader_cpu_seconds, t.wall_seconds, percent, percent < 5 ? "met" : "MISSED");
    PrintThreads(t);
}

int Fail(const char* step, const char* error) {
    std::fflush(stdout);
    std::fprintf(stderr, "hid_bench: %s cannot run: %s\n", step, error);
    return 1;
}

int Run(int samples) {
    std::printf("HID figures: %d samples a series, %lu ms between writes\n", samples, kGapMs);
    PrintFloorsHeading();
    Floors floors{MeasureFloor(samples), {}};
    if (floors.pipe.error != nullptr)
        return Fail("the pipe floor", floors.pipe.error);
    Print("pipe floor: write to read completion", floors.pipe.times, "us");
    PrintP90("pipe floor: write to read completion", floors.pipe.times);
    std::fflush(stdout);
    floors.design = MeasureDesignFloor(samples);
    if (floors.design.total.error != nullptr)
        return Fail("the design floor", floors.design.total.error);
    PrintDesignFloor(floors.design);
    std::fflush(stdout);
    const ServerResults monitor = MeasureMonitor(samples);
    if (monitor.error != nullptr)
        return Fail("the monitor path", monitor.error);
    PrintLatency(floors, monitor.latency, monitor.trace_line);
    std::printf("\n== 3. Throughput: %d reports/s for %lld s through the monitor's path\n",
                kReportsPerSecond, static_cast<long long>(kThroughputTime.count()));
    PrintThroughput(monitor.throughput, "OnData");
    std::fflush(stdout);
    const ServerResults bare = MeasureBareThroughput();
    if (bare.error != nullptr)
        return Fail("the bare reader", bare.error);
    std::printf("\n-- for comparison, the same rate on a bare overlapped reader of the pipe\n");
    PrintThroughput(bare.throughput, "the bare reader");
    return 0;
}

}  // namespace
}  // namespace korv

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    return korv::Run(samples);
}
