// The Linux monitor's HID figures, in one process with a PulseAudio server of its own (a null
// microphone as the default source):
//  1. the floor: a report written to a SOCK_SEQPACKET socket, read by a thread that waits in
//     poll on the socket and a stop eventfd (as the socket HID class's reader does), handed to a
//     LinuxMainLoop by PostTask (its eventfd), until the task runs on the main thread;
//  2. the monitor's path: a button-4 key report written to the simulated mouse's socket, served
//     by this bench as the simulated mouse serves it, through the socket HID class's reader,
//     TuiHIDData, the main loop and the ReportDispatcher, whose button 4 has function 28, until
//     the microphone's toggle request goes to the sound server (LinuxMicrophone::ToggleMute,
//     timed as it is called). Median and 90th percentile of each, the parts of the path, the
//     ratio of the medians against the goal (<= 1.3 times the floor) with PASS or MISS, and the
//     mute changes the sound server reported back;
//  3. throughput: 8000 reports a second for 10 s, written by a forked sender process (paced by
//     the clock, 1 ms ticks), reports the dispatcher ignores (identifier 9) and key reports of a
//     button without function: the reports that reached the dispatcher (goal: none lost) and the
//     CPU time of this process without its writer thread (the sender's is its own process's),
//     as a share of one core (goal <= 10 %), with the threads that used it.
//
//   linux_report_bench [samples]        2000 by default, 2 ms apart

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <semaphore>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/report_dispatch.h"
#include "app/settings_file.h"
#include "bench/bench_figures.h"
#include "bench/linux_bench_support.h"
#include "hid/ui_hid_data.h"
#include "platform/fake/fake_config_peer.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/linux/linux_main_loop.h"
#include "platform/linux/linux_microphone.h"
#include "platform/linux/linux_socket_hid.h"
#include "ports/debug_output.h"
#include "ports/microphone.h"
#include "profile/dm_unit.h"

namespace korv {
namespace {

using namespace std::chrono_literals;
using bench::Clock;
using bench::Median;
using bench::Percentile;
using bench::Print;
using bench::UniqueFd;
using os_linux::LinuxMainLoop;

constexpr std::size_t kReportBytes = 8;
constexpr auto kGap = 2ms;  // between two writes of a latency series
constexpr int kWarmUpWrites = 20;
constexpr auto kAnswerTimeout = 2s;  // a write that is never read or never acted on
constexpr auto kConnectTimeout = 5s;
constexpr int kReportsPerSecond = 8000;
constexpr auto kThroughputTime = 10s;
constexpr auto kStallTime = 2s;  // a receiving side that stopped taking reports
constexpr std::uint8_t kIgnoredReportId = 9;
constexpr std::size_t kMicMuteButton = 4;
constexpr std::size_t kButtonWithoutFunction = 5;
constexpr double kGoalLatencyRatio = 1.3;
constexpr double kGoalCpuPercent = 10.0;
constexpr char kMouseName[] = "KORV-REPORT-BENCH";

using Report = std::array<std::uint8_t, kReportBytes>;
constexpr Report kButton4Down{kKeyReportId, 1 << kMicMuteButton, 0, 0, 0, 0, 0, 0};
constexpr Report kButton5Down{kKeyReportId, 1 << kButtonWithoutFunction, 0, 0, 0, 0, 0, 0};
constexpr Report kAllButtonsUp{kKeyReportId, 0, 0, 0, 0, 0, 0, 0};

Clock::rep Now() {
    return Clock::now().time_since_epoch().count();
}

double MicrosBetween(Clock::rep from, Clock::rep to) {
    return bench::Micros(Clock::duration(to - from));
}

bool SendReport(int socket_fd, const Report& report) {
    return send(socket_fd, report.data(), report.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(report.size());
}

// ---- The mouse's end of the socket

// A listening SOCK_SEQPACKET socket file, as the simulated mouse serves one; removed when it goes.
class MouseSocket {
  public:
    explicit MouseSocket(std::string path) : path_(std::move(path)) {}
    ~MouseSocket() {
        if (listening_.Valid())
            unlink(path_.c_str());
    }
    MouseSocket(const MouseSocket&) = delete;
    MouseSocket& operator=(const MouseSocket&) = delete;

    [[nodiscard]] bool Listen() {
        sockaddr_un address;
        if (!bench::UnixAddress(path_, address))
            return false;
        UniqueFd socket_fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (!socket_fd.Valid() ||
            bind(socket_fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
                0 ||
            listen(socket_fd.Get(), 8) != 0) {
            return false;
        }
        listening_ = std::move(socket_fd);
        return true;
    }

    // The next client, accepted within `timeout`; invalid when none came.
    [[nodiscard]] UniqueFd Accept(std::chrono::milliseconds timeout) const {
        pollfd waiting{listening_.Get(), POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(timeout.count())) != 1)
            return UniqueFd();
        return UniqueFd(accept4(listening_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    }

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    UniqueFd listening_;
};

// ---- 1. The floor

// When the main thread handled the last report, and the signal to the writer that it did.
struct Handover {
    std::atomic<Clock::rep> handled_at{0};
    std::binary_semaphore handled{0};
};

// Reads one socket on a thread of its own, waiting in poll on the socket and a stop eventfd, and
// hands each report to the main loop, whose task takes the time. Stops when it goes.
class FloorReader {
  public:
    FloorReader(int socket_fd, LinuxMainLoop& loop, Handover& handover)
        : socket_fd_(socket_fd), loop_(loop), handover_(handover) {
        if (stop_.Valid())
            thread_ = std::thread([this] { Run(); });
    }
    ~FloorReader() {
        if (thread_.joinable()) {
            const std::uint64_t one = 1;
            static_cast<void>(write(stop_.Get(), &one, sizeof(one)));
            thread_.join();
        }
    }
    FloorReader(const FloorReader&) = delete;
    FloorReader& operator=(const FloorReader&) = delete;

    [[nodiscard]] bool Running() const { return thread_.joinable(); }
    // The reader thread's id, once it runs.
    [[nodiscard]] pid_t ThreadId() const { return thread_id_; }

  private:
    void Run() {
        thread_id_ = gettid();
        Report buffer{};
        for (;;) {
            std::array<pollfd, 2> waiting{pollfd{socket_fd_, POLLIN, 0},
                                          pollfd{stop_.Get(), POLLIN, 0}};
            if (poll(waiting.data(), waiting.size(), -1) < 0 || waiting[1].revents != 0)
                return;
            if (recv(socket_fd_, buffer.data(), buffer.size(), 0) <= 0)
                return;
            Handover& handover = handover_;
            const bool posted = loop_.PostTask([&handover] {
                handover.handled_at = Now();
                handover.handled.release();
            });
            if (!posted)
                return;
        }
    }

    int socket_fd_;
    LinuxMainLoop& loop_;
    Handover& handover_;
    UniqueFd stop_{eventfd(0, EFD_CLOEXEC)};
    std::atomic<pid_t> thread_id_{0};
    std::thread thread_;
};

// Writes one report on the floor's socket and waits until the main thread took it; the time
// from the write, or nothing when it did not arrive.
std::optional<double> FloorSample(int socket_fd, Handover& handover) {
    const Clock::rep written_at = Now();
    if (!SendReport(socket_fd, kButton4Down) || !handover.handled.try_acquire_for(kAnswerTimeout)) {
        return std::nullopt;
    }
    return MicrosBetween(written_at, handover.handled_at);
}

// ---- 2. and 3. The monitor's side

// Trace lines as the monitor writes them (UTF-8, one a line), to /dev/null: the monitor's go to
// its standard error, which is a file or the journal, never this bench's terminal.
class DiscardedTrace : public DebugOutput {
  public:
    void Trace(std::u16string_view line) const override {
        std::string text;
        text.reserve(line.size() + 1);
        for (const char16_t c : line)
            text += c < 0x80 ? static_cast<char>(c) : '?';
        text += '\n';
        static_cast<void>(write(null_.Get(), text.data(), text.size()));
    }

  private:
    UniqueFd null_{open("/dev/null", O_WRONLY | O_CLOEXEC)};
};

// The sound server's microphone, timed as the dispatcher asks it to toggle; the writer waits
// for `toggled`.
class TimedMicrophone : public Microphone {
  public:
    explicit TimedMicrophone(Microphone& inner) : inner_(inner) {}
    void Prepare() override { inner_.Prepare(); }
    void ToggleMute() override {
        toggled_at = Now();
        inner_.ToggleMute();
        toggled.release();
    }
    [[nodiscard]] std::optional<bool> Muted() override { return inner_.Muted(); }

    std::atomic<Clock::rep> toggled_at{0};
    std::binary_semaphore toggled{0};

  private:
    Microphone& inner_;
};

os_linux::SocketHidDeclaration BenchInterface() {
    os_linux::SocketHidDeclaration declared;
    const std::string name = kMouseName;
    declared.name = std::u16string(name.begin(), name.end());
    declared.hardware_id = u"HID\\KORV_REPORT_BENCH&Col01";
    declared.capabilities = {kMouseVendorCollection.Usage, kMouseVendorCollection.UsagePage,
                             kReportBytes, kReportBytes, 0};
    return declared;
}

// The monitor's HID path on the real Linux backends (the socket HID class, the main loop, the
// sound server's microphone), wired as the monitor wires them; the registry, the files and the
// peer are fakes, as they are not on the path. Main thread only, except the counters.
class MonitorSide {
  public:
    MonitorSide(LinuxMainLoop& loop, const std::string& socket_folder,
                const std::string& sound_server)
        : loop_(loop),
          interfaces_(socket_folder, {BenchInterface()}),
          sound_(loop, debug_, "linux_report_bench", sound_server),
          dm_(LoadDataModule(data_ports_.Ports())) {
        auto& buttons = dm_->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo;
        buttons[kMicMuteButton].FunctionCode = kFunctionCodeMicrophoneMute;
        buttons[kButtonWithoutFunction].FunctionCode = 0;
        sound_.SetMuteListener([this](std::optional<bool> muted) {
            if (muted)
                ++mute_changes;
        });
        dispatcher_ = std::make_unique<ReportDispatcher>(
            ReportDispatcher::Ports{peer_, loop_, data_ports_.registry, microphone, debug_}, *dm_);
        hid_ =
            std::make_unique<TuiHIDData>(interfaces_, loop_, debug_, std::vector<std::u16string>{});
        hid_->OnData = [this](std::u16string_view id, std::u16string_view path,
                              std::uint8_t report_id, const std::uint8_t* data,
                              std::uint16_t size) {
            if (report_id == kKeyReportId && size > 0 && data[0] != 0)
                key_data_at = Now();
            delivered.fetch_add(1, std::memory_order_relaxed);
            dispatcher_->uiHIDData1Data(id, path, report_id, std::span(data, size), size);
        };
    }
    MonitorSide(const MonitorSide&) = delete;
    MonitorSide& operator=(const MonitorSide&) = delete;

    // Connects to the sound server and starts the readers, as the monitor's start does.
    void Start() {
        microphone.Prepare();
        hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    }
    void Stop() { hid_->HidStopRead(); }
    [[nodiscard]] std::size_t Readers() const { return hid_->ReadingReaderCount(); }
    [[nodiscard]] bool SoundConnected() const { return sound_.Connected(); }

    // The dispatcher's trace line of a key report alone, written as the dispatcher writes it.
    [[nodiscard]] std::vector<double> TimeTraceLine(int runs) const {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            const auto start = Clock::now();
            debug_.Trace(u"KeyIndex = 4 postmessage record!");
            times.push_back(bench::Micros(Clock::now() - start));
        }
        return times;
    }

    TimedMicrophone microphone{sound_};
    std::atomic<std::uint64_t> delivered{0};
    std::atomic<Clock::rep> key_data_at{0};  // when OnData received the last key press
    std::atomic<std::uint64_t> mute_changes{0};

  private:
    LinuxMainLoop& loop_;
    DiscardedTrace debug_;
    fake::FakeDataModulePorts data_ports_;
    fake::FakeConfigPeer peer_;
    os_linux::LinuxSocketHidInterfaces interfaces_;
    os_linux::LinuxMicrophone sound_;
    std::unique_ptr<TDM> dm_;
    std::unique_ptr<ReportDispatcher> dispatcher_;
    std::unique_ptr<TuiHIDData> hid_;  // destroyed first: its readers stop before the rest goes
};

// Asks the main thread whether the sound server's connection is ready, until it is or the time
// runs out. The question's state is shared with the task, which may run after a timeout.
bool WaitForSound(LinuxMainLoop& loop, MonitorSide& monitor) {
    struct Answer {
        std::binary_semaphore given{0};
        std::atomic<bool> connected{false};
    };
    const auto deadline = Clock::now() + kConnectTimeout;
    while (Clock::now() < deadline) {
        const auto answer = std::make_shared<Answer>();
        if (!loop.PostTask([answer, &monitor] {
                answer->connected = monitor.SoundConnected();
                answer->given.release();
            }) ||
            !answer->given.try_acquire_for(kAnswerTimeout)) {
            return false;
        }
        if (answer->connected)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

bool WaitUntilDelivered(const std::atomic<std::uint64_t>& delivered, std::uint64_t count) {
    auto last_change = Clock::now();
    std::uint64_t seen = delivered;
    while (seen < count) {
        std::this_thread::sleep_for(1ms);
        const std::uint64_t now_seen = delivered;
        if (now_seen != seen) {
            seen = now_seen;
            last_change = Clock::now();
        } else if (Clock::now() - last_change > kStallTime) {
            return false;
        }
    }
    return true;
}

// The key-press series: from the write until ToggleMute, and its two parts.
struct KeyLatency {
    std::vector<double> total;
    std::vector<double> until_on_data;
    std::vector<double> on_data_to_toggle;
};

// Button 4 down, timed until the toggle is asked for, then all buttons up after a pause.
const char* KeySample(int socket_fd, MonitorSide& monitor, KeyLatency* out) {
    const Clock::rep written_at = Now();
    if (!SendReport(socket_fd, kButton4Down))
        return "the key report cannot be written";
    if (!monitor.microphone.toggled.try_acquire_for(kAnswerTimeout))
        return "a button-4 key report did not toggle the microphone";
    const Clock::rep on_data_at = monitor.key_data_at;
    const Clock::rep toggled_at = monitor.microphone.toggled_at;
    if (out != nullptr) {
        out->total.push_back(MicrosBetween(written_at, toggled_at));
        out->until_on_data.push_back(MicrosBetween(written_at, on_data_at));
        out->on_data_to_toggle.push_back(MicrosBetween(on_data_at, toggled_at));
    }
    std::this_thread::sleep_for(kGap);
    return SendReport(socket_fd, kAllButtonsUp) ? nullptr : "the release report cannot be written";
}

// The floor's end that the latency series writes to, and what it watches.
struct FloorEnd {
    int socket;
    Handover& handover;
};

// The two ends the latency series write to, and what they watch.
struct LatencyLinks {
    FloorEnd floor;
    int mouse_socket;
    MonitorSide& monitor;
};

// The floor and the monitor's path alternating, a pause before each write, so that both meet
// the machine in the same state; kWarmUpWrites unmeasured rounds first.
const char* MeasureLatencies(const LatencyLinks& links, int samples, std::vector<double>& floor,
                             KeyLatency& monitor) {
    std::uint64_t written = links.monitor.delivered;
    for (int i = -kWarmUpWrites; i < samples; ++i) {
        std::this_thread::sleep_for(kGap);
        const auto floor_time = FloorSample(links.floor.socket, links.floor.handover);
        if (!floor_time)
            return "the floor's report did not reach the main thread";
        if (i >= 0)
            floor.push_back(*floor_time);
        std::this_thread::sleep_for(kGap);
        if (const char* error =
                KeySample(links.mouse_socket, links.monitor, i >= 0 ? &monitor : nullptr)) {
            return error;
        }
        written += 2;
    }
    return WaitUntilDelivered(links.monitor.delivered, written)
               ? nullptr
               : "the last release report was not delivered";
}

// ---- 3. Throughput

// The report number `sequence` of the throughput run: every other one the dispatcher ignores,
// the others press and release a button without function.
Report ThroughputReport(std::uint64_t sequence) {
    if (sequence % 4 == 1)
        return kButton5Down;
    if (sequence % 4 == 3)
        return kAllButtonsUp;
    Report report{kIgnoredReportId};
    for (std::size_t i = 1; i < report.size(); ++i)
        report[i] = static_cast<std::uint8_t>(sequence >> (8 * (i - 1)));
    return report;
}

timespec AddNanos(timespec at, std::int64_t nanos) {
    const std::int64_t total = at.tv_nsec + nanos;
    at.tv_sec += static_cast<time_t>(total / 1'000'000'000);
    at.tv_nsec = static_cast<long>(total % 1'000'000'000);
    return at;
}

std::int64_t NanosBetween(const timespec& from, const timespec& to) {
    return (to.tv_sec - from.tv_sec) * 1'000'000'000LL + (to.tv_nsec - from.tv_nsec);
}

// The sender process's work, after fork: system calls only (the parent has threads). Writes
// kReportsPerSecond a second for kThroughputTime in 1 ms ticks, catching up by the clock; sends
// the count written and the nanoseconds it took on `result_fd`, then ends.
[[noreturn]] void SendPaced(int socket_fd, int result_fd) {
    constexpr std::int64_t kTickNanos = 1'000'000;
    constexpr std::int64_t kTotal =
        kReportsPerSecond *
        std::chrono::duration_cast<std::chrono::seconds>(kThroughputTime).count();
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::int64_t written = 0;
    timespec now = start;
    for (std::int64_t tick = 1; written < kTotal; ++tick) {
        const timespec next = AddNanos(start, tick * kTickNanos);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::int64_t due =
            std::min(kTotal, NanosBetween(start, now) * kReportsPerSecond / 1'000'000'000);
        for (; written < due; ++written) {
            if (!SendReport(socket_fd, ThroughputReport(static_cast<std::uint64_t>(written))))
                goto done;
        }
    }
done:
    const std::array<std::int64_t, 2> result{written, NanosBetween(start, now)};
    static_cast<void>(write(result_fd, result.data(), sizeof(result)));
    _exit(0);
}

// The forked sender; one that is still running when this goes is killed, and it is reaped.
class SenderProcess {
  public:
    explicit SenderProcess(int socket_fd) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return;
        UniqueFd read_end(ends[0]);
        UniqueFd write_end(ends[1]);
        pid_ = fork();
        if (pid_ == 0)
            SendPaced(socket_fd, write_end.Get());
        if (pid_ > 0)
            result_ = std::move(read_end);
    }
    ~SenderProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    SenderProcess(const SenderProcess&) = delete;
    SenderProcess& operator=(const SenderProcess&) = delete;

    [[nodiscard]] bool Started() const { return pid_ > 0 && result_.Valid(); }

    // Waits for the sender's result: reports written and the seconds it wrote for.
    struct Result {
        std::uint64_t written = 0;
        double seconds = 0;
    };
    [[nodiscard]] std::optional<Result> Finish() {
        pollfd waiting{result_.Get(), POLLIN, 0};
        const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(kThroughputTime +
                                                                                 kStallTime + 10s);
        std::array<std::int64_t, 2> result{};
        if (poll(&waiting, 1, static_cast<int>(limit.count())) != 1 ||
            read(result_.Get(), result.data(), sizeof(result)) != sizeof(result)) {
            return std::nullopt;
        }
        waitpid(std::exchange(pid_, -1), nullptr, 0);
        return Result{static_cast<std::uint64_t>(result[0]), static_cast<double>(result[1]) * 1e-9};
    }

  private:
    pid_t pid_ = -1;
    UniqueFd result_;
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double ThreadCpuSeconds() {
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) * 1e-9;
}

// One thread of this process: its id, name and CPU time in clock ticks.
struct ThreadCpu {
    pid_t id;
    std::string name;
    double seconds;
};

std::vector<ThreadCpu> SampleThreads() {
    std::vector<ThreadCpu> threads;
    const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream stat(task.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto name_end = line.rfind(')');
        const auto name_start = line.find('(');
        if (name_end == std::string::npos || name_start == std::string::npos)
            continue;
        // After the name: state, then fields 4..; utime and stime are fields 14 and 15.
        std::istringstream fields(line.substr(name_end + 2));
        std::string field;
        double ticks = 0;
        for (int number = 3; fields >> field && number <= 15; ++number) {
            if (number >= 14)
                ticks += std::strtod(field.c_str(), nullptr);
        }
        threads.push_back({std::atoi(task.path().filename().c_str()),
                           line.substr(name_start + 1, name_end - name_start - 1), ticks * tick});
    }
    return threads;
}

struct ThroughputFigures {
    std::uint64_t written = 0;
    double write_seconds = 0;
    std::uint64_t delivered = 0;
    double wall_seconds = 0;
    double receiver_cpu_seconds = 0;
    pid_t writer_thread = 0;
    pid_t floor_reader_thread = 0;
    std::vector<ThreadCpu> threads;  // CPU time during the run
    const char* error = nullptr;
};

// From the fork until the last report reached the dispatcher (or the receiving side stalled).
ThroughputFigures MeasureThroughput(int socket_fd, const std::atomic<std::uint64_t>& delivered) {
    ThroughputFigures figures;
    figures.writer_thread = gettid();
    const std::uint64_t before = delivered;
    const auto threads_before = SampleThreads();
    const double process_before = ProcessCpuSeconds();
    const double writer_before = ThreadCpuSeconds();
    const auto start = Clock::now();
    SenderProcess sender(socket_fd);
    if (!sender.Started()) {
        figures.error = "the sender process cannot be started";
        return figures;
    }
    const auto result = sender.Finish();
    if (!result) {
        figures.error = "the sender process did not report";
        return figures;
    }
    figures.written = result->written;
    figures.write_seconds = result->seconds;
    static_cast<void>(WaitUntilDelivered(delivered, before + figures.written));
    figures.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.delivered = delivered - before;
    figures.receiver_cpu_seconds =
        (ProcessCpuSeconds() - process_before) - (ThreadCpuSeconds() - writer_before);
    for (ThreadCpu thread : SampleThreads()) {
        for (const ThreadCpu& earlier : threads_before) {
            if (earlier.id == thread.id)
                thread.seconds -= earlier.seconds;
        }
        figures.threads.push_back(thread);
    }
    return figures;
}

// ---- The run

struct Results {
    std::vector<double> floor;
    KeyLatency latency;
    std::vector<double> trace_line;
    ThroughputFigures throughput;
    std::uint64_t toggles = 0;
    std::uint64_t mute_changes = 0;
    const char* error = nullptr;
};

// The writer's thread: the latency series, then the throughput run; then it ends the main loop.
void Serve(MouseSocket& mouse, LinuxMainLoop& loop, const FloorEnd& floor, MonitorSide& monitor,
           int samples, Results& out) {
    const UniqueFd reader = mouse.Accept(kConnectTimeout);
    if (!reader.Valid())
        out.error = "the monitor's reader did not connect to the mouse's socket";
    else if (!WaitForSound(loop, monitor))
        out.error = "the microphone did not connect to the sound server";
    // The state the connection found is reported too; the count starts after it.
    std::this_thread::sleep_for(100ms);
    const std::uint64_t changes_before = monitor.mute_changes;
    if (out.error == nullptr) {
        out.error =
            MeasureLatencies({floor, reader.Get(), monitor}, samples, out.floor, out.latency);
    }
    if (out.error == nullptr) {
        out.toggles = static_cast<std::uint64_t>(samples + kWarmUpWrites);
        // The last toggle's change comes back from the server in a moment.
        std::this_thread::sleep_for(100ms);
        out.mute_changes = monitor.mute_changes - changes_before;
        out.throughput = MeasureThroughput(reader.Get(), monitor.delivered);
        out.error = out.throughput.error;
    }
    loop.Quit(0);
}

Results FailedRun(const char* error) {
    Results results;
    results.error = error;
    return results;
}

// The floor's reader and the monitor's side on one main loop, the writer on a thread of its own.
Results MeasureAll(const std::string& folder, const std::string& sound_server, int samples) {
    const std::string socket_folder = folder + "/korvanth417";
    if (mkdir(socket_folder.c_str(), 0700) != 0)
        return FailedRun("the socket folder cannot be created");
    MouseSocket mouse(socket_folder + "/" + kMouseName);
    MouseSocket floor_socket(folder + "/floor");
    if (!mouse.Listen() || !floor_socket.Listen())
        return FailedRun("the sockets cannot be created");
    const UniqueFd floor_client = bench::ConnectUnix(floor_socket.Path(), SOCK_SEQPACKET);
    const UniqueFd floor_server = floor_socket.Accept(kConnectTimeout);
    if (!floor_client.Valid() || !floor_server.Valid())
        return FailedRun("the floor's socket takes no connection");
    LinuxMainLoop loop;
    Handover handover;
    const FloorReader floor_reader(floor_client.Get(), loop, handover);
    if (!loop.Valid() || !floor_reader.Running())
        return FailedRun("the main loop or the floor's reader cannot start");
    MonitorSide monitor(loop, socket_folder, sound_server);
    monitor.Start();
    if (monitor.Readers() != 1)
        return FailedRun("the monitor's search did not start one reader for the mouse");
    Results results;
    const FloorEnd floor{floor_server.Get(), handover};
    std::thread writer([&] { Serve(mouse, loop, floor, monitor, samples, results); });
    loop.Run();
    writer.join();
    monitor.Stop();
    results.trace_line = monitor.TimeTraceLine(samples);
    results.throughput.floor_reader_thread = floor_reader.ThreadId();
    return results;
}

// ---- Figures

void PrintP90(const char* what, const std::vector<double>& values) {
    std::printf("%-46s %5zu runs  p90    %10.1f us\n", what, values.size(),
                Percentile(values, 0.9));
}

const char* Verdict(bool met) {
    return met ? "PASS" : "MISS";
}

void PrintLatency(const Results& results) {
    const std::vector<double>& floor = results.floor;
    const KeyLatency& latency = results.latency;
    std::printf("\n== 2. Monitor path: socket write of a button-4 key report until ToggleMute\n");
    std::printf(
        "   (socket HID reader thread, main loop, TuiHIDData, dispatcher, LinuxMicrophone)\n");
    Print("key report write to ToggleMute", latency.total, "us");
    PrintP90("key report write to ToggleMute", latency.total);
    Print("floor (from 1.)", floor, "us");
    std::printf("parts:\n");
    Print("  write to OnData on the main thread", latency.until_on_data, "us");
    std::printf(
        "    beyond the floor's median: %+.1f us (the socket HID reader, TuiHIDData's queue)\n",
        Median(latency.until_on_data) - Median(floor));
    Print("  OnData to ToggleMute", latency.on_data_to_toggle, "us");
    std::printf("    (decoding, the trace line, the key event's task on the main loop)\n");
    Print("  the dispatcher's trace line alone", results.trace_line, "us");
    const double ratio = Median(latency.total) / Median(floor);
    std::printf("ratio of medians monitor/floor: %.2f, difference %+.1f us (goal <= %.1f): %s\n",
                ratio, Median(latency.total) - Median(floor), kGoalLatencyRatio,
                Verdict(ratio <= kGoalLatencyRatio));
    std::printf("the sound server reported %llu mute changes for %llu toggles asked\n",
                static_cast<unsigned long long>(results.mute_changes),
                static_cast<unsigned long long>(results.toggles));
}

const char* ThreadRole(const ThroughputFigures& t, const ThreadCpu& thread) {
    if (thread.id == t.writer_thread)
        return "the bench's writer, not counted";
    if (thread.id == t.floor_reader_thread)
        return "the floor's reader, idle here";
    if (thread.id == getpid())
        return "main thread";
    return "the socket HID reader";
}

// The figures against the goals; true when both are met.
bool PrintThroughput(const ThroughputFigures& t) {
    std::printf("\n== 3. Throughput: %d reports/s for %lld s from a forked sender process\n",
                kReportsPerSecond, static_cast<long long>(kThroughputTime.count()));
    std::printf("written   %llu in %.2f s (%.0f reports/s achieved)\n",
                static_cast<unsigned long long>(t.written), t.write_seconds,
                static_cast<double>(t.written) / t.write_seconds);
    const std::uint64_t lost = t.written - std::min(t.written, t.delivered);
    std::printf("delivered %llu to the dispatcher in %.2f s, lost %llu (goal: none lost): %s\n",
                static_cast<unsigned long long>(t.delivered), t.wall_seconds,
                static_cast<unsigned long long>(lost), Verdict(lost == 0));
    const double percent = 100.0 * t.receiver_cpu_seconds / t.wall_seconds;
    std::printf(
        "CPU of the receiving process (without the writer thread): %.3f s over %.2f s = "
        "%.2f%% of one core (goal <= %.0f%%): %s\n",
        t.receiver_cpu_seconds, t.wall_seconds, percent, kGoalCpuPercent,
        Verdict(percent <= kGoalCpuPercent));
    for (const ThreadCpu& thread : t.threads) {
        std::printf("  thread %7d %-16s %-32s %7.2f s = %6.2f%%\n", thread.id, thread.name.c_str(),
                    ThreadRole(t, thread), thread.seconds, 100.0 * thread.seconds / t.wall_seconds);
    }
    return lost == 0 && percent <= kGoalCpuPercent;
}

int Fail(const char* step, const char* error) {
    std::fflush(stdout);
    std::fprintf(stderr, "linux_report_bench: %s cannot run: %s\n", step, error);
    return 1;
}

int Run(int samples) {
    bench::TempFolder folder("report-bench");
    if (!folder.Valid())
        return Fail("the bench", "no temporary folder");
    bench::PrivatePulseServer sound(folder.Path());
    if (!sound.Start())
        return Fail("the bench", "the private PulseAudio server did not start");
    std::printf(
        "HID figures on Linux: %d samples a series after %d unmeasured, a write every "
        "%lld ms, floor and monitor alternating\n",
        samples, kWarmUpWrites, static_cast<long long>(kGap.count()));
    std::fflush(stdout);
    const Results results = MeasureAll(folder.Path(), sound.Server(), samples);
    if (results.error != nullptr)
        return Fail("the bench", results.error);
    std::printf(
        "\n== 1. Floor: a SOCK_SEQPACKET write read by a thread in poll (socket and stop "
        "eventfd),\n   handed to the LinuxMainLoop by PostTask, until the task runs on the "
        "main thread\n");
    Print("floor: write to the main thread's task", results.floor, "us");
    PrintP90("floor: write to the main thread's task", results.floor);
    PrintLatency(results);
    const bool latency_met =
        Median(results.latency.total) <= kGoalLatencyRatio * Median(results.floor);
    const bool throughput_met = PrintThroughput(results.throughput);
    return latency_met && throughput_met ? 0 : 2;
}

}  // namespace
}  // namespace korv

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    return korv::Run(samples);
}
