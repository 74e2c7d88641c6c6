// The monitor's start-up and footprint on Linux, beside floors measured in the same run:
// linux_trivial_bus (connects to the session bus and to the sound server, then owns a name), and
// with --tray linux_trivial_sni (connects to the bus and registers a tray item with the panel's
// watcher). Each program is started (posix_spawn) once unmeasured, then RUNS times, floors and
// monitor alternating. A run takes the time from the spawn until the bus announces the program's
// name owned (NameOwnerChanged) and, for the tray, until the watcher announces an item
// registered (StatusNotifierItemRegistered); this program subscribes to both before it spawns.
// It reads the program's resident memory 1.5 s after the spawn (VmRSS from /proc/PID/status, Pss
// from /proc/PID/smaps_rollup), ends it with SIGTERM and checks that it ended, let the name go and
// that its item left the watcher. Prints every run, the medians, the ratios and difference
// against the goals with PASS or MISS, and where the resident memory goes (per mapping, from
// /proc/PID/smaps) beside the floor's.
//
//   linux_startup [--runs N] [--log FILE] [--tray TRAY_FLOOR] FLOOR MONITOR
//
// FLOOR is the linux_trivial_bus program, TRAY_FLOOR linux_trivial_sni, MONITOR the monitor; all
// inherit the environment, which names the session bus and the sound server
// (bench/linux_startup.sh sets up private ones and the watcher's stand-in, linux_sni_watcher).
// Their standard output and error go to FILE (default /dev/null).
// Exit codes: 0 every goal met, 1 a run failed (no name, no end), 2 a goal missed.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/linux_bench_support.h"

extern char** environ;

namespace korv {
namespace {

using namespace std::chrono_literals;
using bench::Clock;
using bench::Median;
using bench::Print;

constexpr char kMonitorName[] = "com.korvanth417.Monitor";
constexpr char kFloorName[] = "com.korvanth417.BenchFloor";
constexpr char kWatcherInterface[] = "org.kde.StatusNotifierWatcher";
constexpr int kWarmUpRuns = 1;
constexpr auto kOwnTimeout = 20s;
constexpr auto kMemoryAfterStart = 1500ms;
constexpr auto kEndTimeout = 5s;
constexpr auto kChildPoll = 20ms;  // how often a wait for the bus looks whether the child ended
// What the monitor's start-up should reach beside the floor.
constexpr double kGoalTimeRatio = 1.2;
constexpr double kGoalRssExcessMib = 1.5;

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// ---- The bus, as the bench sees it

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};

// Follows the owners of well-known names through the bus's NameOwnerChanged signal, and the
// tray items the panel's watcher announces. One thread only.
class NameWatch {
  public:
    // Connects to the session bus and subscribes to the changes of `names` and of the watcher's
    // items; false when any is refused.
    [[nodiscard]] bool Open(const std::vector<const char*>& names);

    // Waits until `name` is owned (or released) as `owned` says; the moment the bench received
    // the signal, or nothing when `child` ended first or the time ran out.
    [[nodiscard]] std::optional<Clock::time_point> WaitFor(const char* name, bool owned,
                                                           pid_t child, Clock::duration timeout);
    // Waits until the watcher has an item (or none) as `registered` says; as WaitFor.
    [[nodiscard]] std::optional<Clock::time_point> WaitForItem(bool registered, pid_t child,
                                                               Clock::duration timeout);

  private:
    struct State {
        bool owned = false;
        Clock::time_point changed_at{};
    };
    static int OnOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*);
    static int OnItemChanged(sd_bus_message* message, void* self, sd_bus_error*);
    [[nodiscard]] bool Subscribe(const std::string& match, sd_bus_message_handler_t handler);
    // Handles the signals until `state` is as `wanted`; as WaitFor.
    [[nodiscard]] std::optional<Clock::time_point> WaitUntil(const State& state, bool wanted,
                                                             pid_t child, Clock::duration timeout);

    std::unique_ptr<sd_bus, BusClose> bus_;
    std::vector<std::unique_ptr<sd_bus_slot, SlotUnref>> slots_;
    std::map<std::string, State> names_;
    State item_;  // owned: the watcher has an item
};

bool NameWatch::Subscribe(const std::string& match, sd_bus_message_handler_t handler) {
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match(bus_.get(), &slot, match.c_str(), handler, this) < 0)
        return false;
    slots_.emplace_back(slot);
    return true;
}

bool NameWatch::Open(const std::vector<const char*>& names) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return false;
    bus_.reset(bus);
    for (const char* member : {"StatusNotifierItemRegistered", "StatusNotifierItemUnregistered"}) {
        if (!Subscribe(std::string("type='signal',interface='") + kWatcherInterface + "',member='" +
                           member + "'",
                       &NameWatch::OnItemChanged))
            return false;
    }
    for (const char* name : names) {
        const std::string match =
            std::string(
                "type='signal',sender='org.freedesktop.DBus',"
                "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
            name + "'";
        if (!Subscribe(match, &NameWatch::OnOwnerChanged))
            return false;
        names_[name] = {};
    }
    return true;
}

int NameWatch::OnOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*) {
    const auto at = Clock::now();
    const char* name = nullptr;
    const char* old_owner = nullptr;
    const char* new_owner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &old_owner, &new_owner) < 0)
        return 0;
    auto& names = static_cast<NameWatch*>(self)->names_;
    const auto found = names.find(name);
    if (found != names.end())
        found->second = {new_owner[0] != '\0', at};
    return 0;
}

// The stand-in watcher holds one item at a time: the program that runs.
int NameWatch::OnItemChanged(sd_bus_message* message, void* self, sd_bus_error*) {
    static_cast<NameWatch*>(self)->item_ = {
        std::string(sd_bus_message_get_member(message)) == "StatusNotifierItemRegistered",
        Clock::now()};
    return 0;
}

// Whether the child has ended, without reaping it.
bool Ended(pid_t child) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid == child;
}

std::optional<Clock::time_point> NameWatch::WaitFor(const char* name, bool owned, pid_t child,
                                                    Clock::duration timeout) {
    return WaitUntil(names_[name], owned, child, timeout);
}

std::optional<Clock::time_point> NameWatch::WaitForItem(bool registered, pid_t child,
                                                        Clock::duration timeout) {
    return WaitUntil(item_, registered, child, timeout);
}

std::optional<Clock::time_point> NameWatch::WaitUntil(const State& state, bool wanted, pid_t child,
                                                      Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int processed = 0;
        while ((processed = sd_bus_process(bus_.get(), nullptr)) > 0) {
        }
        if (processed < 0)
            return std::nullopt;
        if (state.owned == wanted)
            return state.changed_at;
        if (Clock::now() >= deadline || (child > 0 && Ended(child)))
            return std::nullopt;
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(kChildPoll);
        if (sd_bus_wait(bus_.get(), static_cast<std::uint64_t>(wait.count())) < 0)
            return std::nullopt;
    }
}

// ---- The programs

// A spawned program; one that is still running when this goes is killed and reaped.
class Child {
  public:
    Child() = default;
    Child(Child&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
    Child& operator=(Child&&) = delete;
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // Starts `argv[0]` with this environment, its output to `log_fd`; nothing when refused.
    [[nodiscard]] static std::optional<Child> Spawn(const std::vector<std::string>& args,
                                                    int log_fd);

    pid_t Pid() const { return pid_; }

    // SIGTERM, then waits until it ended; false (and killed) when it did not end in time or
    // ended with a failure code.
    [[nodiscard]] bool End(Clock::duration timeout, std::string& how);

  private:
    explicit Child(pid_t pid) : pid_(pid) {}
    pid_t pid_ = -1;
};

std::optional<Child> Child::Spawn(const std::vector<std::string>& args, int log_fd) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, log_fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, log_fd, STDERR_FILENO);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return std::nullopt;
    return Child(pid);
}

bool Child::End(Clock::duration timeout, std::string& how) {
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            how = "did not end within 5 s of SIGTERM: killed";
            return false;  // the destructor kills it
        }
        std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        how = "ended with exit code " + std::to_string(WEXITSTATUS(status));
        return false;
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) != SIGTERM) {
        how = "ended by signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    return true;
}

// A "Key:   123 kB" line of a /proc file, in KiB; nothing when it is not there.
std::optional<double> ProcKib(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::strtod(line.c_str() + key.size() + 1, nullptr);
    }
    return std::nullopt;
}

struct Program {
    const char* label;
    std::vector<std::string> args;
    const char* bus_name;  // the name it owns; null for none
    bool shows_item;       // whether it registers a tray item
};

// Resident KiB per mapping label: a file's name (libraries, the program), or the kernel's name
// of an anonymous mapping ([heap], [stack], ...), or [anonymous].
using ResidentByMapping = std::map<std::string, double>;

ResidentByMapping ReadResidentByMapping(const std::string& smaps_path) {
    ResidentByMapping resident;
    std::ifstream smaps(smaps_path);
    std::string line;
    std::string label = "[anonymous]";
    while (std::getline(smaps, line)) {
        if (line.rfind("Rss:", 0) == 0) {
            resident[label] += std::strtod(line.c_str() + 4, nullptr);
            continue;
        }
        // A mapping's header: "start-end perms offset dev inode [path]".
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        if (!(fields >> range >> perms >> offset >> device >> inode) ||
            range.find('-') == std::string::npos || range.back() == ':') {
            continue;
        }
        std::getline(fields >> std::ws, path);
        if (path.empty())
            label = "[anonymous]";
        else if (path.front() == '[')
            label = path;
        else
            label = path.substr(path.find_last_of('/') + 1);
    }
    return resident;
}

struct RunFigures {
    std::optional<double> until_owned_ms;
    std::optional<double> until_registered_ms;
    double rss_mib = 0;
    double pss_mib = 0;
    ResidentByMapping by_mapping;
};

// Nothing of an earlier start is left: the name has no owner, the watcher no item.
bool Clean(NameWatch& watch, const Program& program, std::string& error) {
    if (program.bus_name != nullptr && !watch.WaitFor(program.bus_name, false, 0, kEndTimeout)) {
        error = std::string("the name ") + program.bus_name + " is still owned";
        return false;
    }
    if (program.shows_item && !watch.WaitForItem(false, 0, kEndTimeout)) {
        error = "the watcher still has a tray item";
        return false;
    }
    return true;
}

// The times from the spawn until the name is owned and until the item is registered, whichever
// the program does; the later of the two comes second, so both are seen.
bool WaitForStart(NameWatch& watch, const Program& program, pid_t child,
                  Clock::time_point spawned_at, RunFigures& figures, std::string& error) {
    if (program.bus_name != nullptr) {
        const auto owned_at = watch.WaitFor(program.bus_name, true, child, kOwnTimeout);
        if (!owned_at) {
            error = std::string("did not own ") + program.bus_name + " (ended, or not within 20 s)";
            return false;
        }
        figures.until_owned_ms = Millis(*owned_at - spawned_at);
    }
    if (program.shows_item) {
        const auto registered_at = watch.WaitForItem(true, child, kOwnTimeout);
        if (!registered_at) {
            error = "did not register a tray item with the watcher (ended, or not within 20 s)";
            return false;
        }
        figures.until_registered_ms = Millis(*registered_at - spawned_at);
    }
    return true;
}

// One start: the times until the name is owned and the item registered, the memory 1.5 s after
// the spawn, the end.
std::optional<RunFigures> RunOnce(NameWatch& watch, const Program& program, int log_fd,
                                  std::string& error) {
    if (!Clean(watch, program, error)) {
        error += " before the start";
        return std::nullopt;
    }
    const auto spawned_at = Clock::now();
    auto child = Child::Spawn(program.args, log_fd);
    if (!child) {
        error = "cannot be started: " + program.args[0];
        return std::nullopt;
    }
    RunFigures figures;
    if (!WaitForStart(watch, program, child->Pid(), spawned_at, figures, error))
        return std::nullopt;
    std::this_thread::sleep_until(spawned_at + kMemoryAfterStart);
    const std::string proc = "/proc/" + std::to_string(child->Pid());
    const auto rss = ProcKib(proc + "/status", "VmRSS");
    const auto pss = ProcKib(proc + "/smaps_rollup", "Pss");
    ResidentByMapping by_mapping = ReadResidentByMapping(proc + "/smaps");
    if (!rss || !pss) {
        error = "ended within 1.5 s of its start";
        return std::nullopt;
    }
    if (!child->End(kEndTimeout, error))
        return std::nullopt;
    if (!Clean(watch, program, error)) {
        error = "ended, but " + error;
        return std::nullopt;
    }
    figures.rss_mib = *rss / 1024;
    figures.pss_mib = *pss / 1024;
    figures.by_mapping = std::move(by_mapping);
    return figures;
}

struct Series {
    std::vector<double> until_owned_ms;
    std::vector<double> until_registered_ms;
    std::vector<double> rss_mib;
    std::vector<double> pss_mib;
    ResidentByMapping last_by_mapping;  // of the last measured start
};

const char* Verdict(bool met) {
    return met ? "PASS" : "MISS";
}

void PrintSeries(const char* label, const Series& series) {
    const std::string prefix = std::string(label) + ": ";
    Print((prefix + "spawn until the bus name is owned").c_str(), series.until_owned_ms, "ms");
    Print((prefix + "spawn until the item is registered").c_str(), series.until_registered_ms,
          "ms");
    Print((prefix + "VmRSS 1.5 s after the spawn").c_str(), series.rss_mib, "MiB");
    Print((prefix + "Pss 1.5 s after the spawn").c_str(), series.pss_mib, "MiB");
}

// The monitor's median time against its floor's; true when within the goal.
bool PrintTimeGoal(const char* what, const std::vector<double>& monitor,
                   const std::vector<double>& floor) {
    const double ratio = Median(monitor) / Median(floor);
    std::printf(
        "start until %s: median monitor %.2f ms / floor %.2f ms = %.2f (goal <= %.1f): %s\n", what,
        Median(monitor), Median(floor), ratio, kGoalTimeRatio, Verdict(ratio <= kGoalTimeRatio));
    return ratio <= kGoalTimeRatio;
}

// The figures against the goals; true when every goal is met. `tray_floor` is null without
// the tray's measurement.
bool PrintGoals(const Series& floor, const Series& monitor, const Series* tray_floor) {
    std::printf("\n");
    bool met = PrintTimeGoal("the bus name is owned", monitor.until_owned_ms, floor.until_owned_ms);
    if (tray_floor != nullptr) {
        met = PrintTimeGoal("the tray item is registered", monitor.until_registered_ms,
                            tray_floor->until_registered_ms) &&
              met;
    }
    const double rss_excess = Median(monitor.rss_mib) - Median(floor.rss_mib);
    const double pss_excess = Median(monitor.pss_mib) - Median(floor.pss_mib);
    std::printf(
        "resident memory (VmRSS): median monitor %.2f MiB - floor %.2f MiB = %+.2f MiB "
        "(goal <= +%.1f MiB): %s\n",
        Median(monitor.rss_mib), Median(floor.rss_mib), rss_excess, kGoalRssExcessMib,
        Verdict(rss_excess <= kGoalRssExcessMib));
    std::printf(
        "proportional set (Pss), for comparison: median monitor %.2f MiB - floor %.2f MiB "
        "= %+.2f MiB\n",
        Median(monitor.pss_mib), Median(floor.pss_mib), pss_excess);
    return met && rss_excess <= kGoalRssExcessMib;
}

// The monitor's resident memory per mapping beside the floor's, of their last starts, largest
// difference first; differences under 64 KiB are left out.
void PrintWhereMemoryGoes(const ResidentByMapping& floor, const ResidentByMapping& monitor) {
    std::vector<std::pair<double, std::string>> rows;
    ResidentByMapping all = monitor;
    for (const auto& [label, kib] : floor)
        all.emplace(label, 0);
    for (const auto& [label, kib] : all) {
        const auto in_floor = floor.find(label);
        const double difference = kib - (in_floor == floor.end() ? 0 : in_floor->second);
        if (difference >= 64 || difference <= -64)
            rows.emplace_back(difference, label);
    }
    std::sort(rows.rbegin(), rows.rend());
    std::printf(
        "\n== where the resident memory goes 1.5 s after the spawn (KiB per mapping, last "
        "start)\n  %-34s %9s %9s %9s\n",
        "mapping", "monitor", "floor", "more");
    for (const auto& [difference, label] : rows) {
        const auto in_floor = floor.find(label);
        const auto in_monitor = monitor.find(label);
        std::printf("  %-34s %9.0f %9.0f %+9.0f%s\n", label.c_str(),
                    in_monitor == monitor.end() ? 0 : in_monitor->second,
                    in_floor == floor.end() ? 0 : in_floor->second, difference,
                    in_floor == floor.end() ? "  (the floor has none)" : "");
    }
}

void PrintRun(int run, const char* label, const RunFigures& figures) {
    std::printf("  %-12s %-10s",
                run < 0 ? "(unmeasured)" : ("run " + std::to_string(run + 1)).c_str(), label);
    if (figures.until_owned_ms)
        std::printf(" %8.2f ms until owned", *figures.until_owned_ms);
    if (figures.until_registered_ms)
        std::printf(" %8.2f ms until registered", *figures.until_registered_ms);
    std::printf("  VmRSS %6.2f MiB  Pss %6.2f MiB\n", figures.rss_mib, figures.pss_mib);
    std::fflush(stdout);
}

// programs: the floor, the monitor, and the tray's floor when the tray is measured.
int Run(int runs, const std::vector<Program>& programs, int log_fd) {
    NameWatch watch;
    if (!watch.Open({kFloorName, kMonitorName})) {
        std::fprintf(stderr, "linux_startup: no session bus, or it refused the subscription\n");
        return 1;
    }
    std::printf(
        "== start-up on the session bus: %d unmeasured start each, then %d starts each, "
        "floors and monitor alternating\n",
        kWarmUpRuns, runs);
    std::vector<Series> series(programs.size());
    for (int run = -kWarmUpRuns; run < runs; ++run) {
        for (std::size_t p = 0; p < programs.size(); ++p) {
            std::string error;
            const auto figures = RunOnce(watch, programs[p], log_fd, error);
            if (!figures) {
                std::fflush(stdout);
                std::fprintf(stderr, "linux_startup: %s %s\n", programs[p].label, error.c_str());
                return 1;
            }
            PrintRun(run, programs[p].label, *figures);
            if (run < 0)
                continue;
            if (figures->until_owned_ms)
                series[p].until_owned_ms.push_back(*figures->until_owned_ms);
            if (figures->until_registered_ms)
                series[p].until_registered_ms.push_back(*figures->until_registered_ms);
            series[p].rss_mib.push_back(figures->rss_mib);
            series[p].pss_mib.push_back(figures->pss_mib);
            series[p].last_by_mapping = figures->by_mapping;
        }
    }
    std::printf("\n");
    for (std::size_t p = 0; p < programs.size(); ++p)
        PrintSeries(programs[p].label, series[p]);
    std::printf("every start ended on SIGTERM and released its name and its item: PASS\n");
    const bool met = PrintGoals(series[0], series[1], programs.size() > 2 ? &series[2] : nullptr);
    PrintWhereMemoryGoes(series[0].last_by_mapping, series[1].last_by_mapping);
    return met ? 0 : 2;
}

int Usage() {
    std::fprintf(
        stderr, "Usage: linux_startup [--runs N] [--log FILE] [--tray TRAY_FLOOR] FLOOR MONITOR\n");
    return 1;
}

}  // namespace
}  // namespace korv

int main(int argc, char** argv) {
    int runs = 11;
    const char* log = "/dev/null";
    const char* tray_floor = nullptr;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--log" && i + 1 < argc)
            log = argv[++i];
        else if (arg == "--tray" && i + 1 < argc)
            tray_floor = argv[++i];
        else if (arg.starts_with("-"))
            return korv::Usage();
        else
            paths.push_back(arg);
    }
    if (paths.size() != 2)
        return korv::Usage();
    const korv::bench::UniqueFd log_fd(open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (log_fd.Get() < 0) {
        std::perror(log);
        return 1;
    }
    const bool tray = tray_floor != nullptr;
    std::vector<korv::Program> programs{
        {"floor", {paths[0], korv::kFloorName}, korv::kFloorName, false},
        {"monitor", {paths[1]}, korv::kMonitorName, tray}};
    if (tray)
        programs.push_back({"sni floor", {tray_floor}, nullptr, true});
    return korv::Run(runs, programs, log_fd.Get());
}
