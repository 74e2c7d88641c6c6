// The monitor's figures: the time from a key report handed to the decoder until the mute toggle
// has been made; on Windows (or Wine) also the time from process start until the monitor's
// window can be found by class and its working set 1.5 s after start, beside the same figures
// for three floors started first: trivial_window.exe (a hidden window only),
// trivial_microphone.exe (a hidden window and the default microphone's volume bound) and
// trivial_microphone.exe --platform (also a tray icon and device notifications). Each
// program is started once unmeasured, then `runs` times, and ended with WM_CLOSE; the medians
// are compared with the goals. Measure on a desktop like a user's (bench/startup.sh), not under
// the null display driver, where the monitor's tray add fails at once.
//
//   monitor_bench [runs]                      natively: the portable path on fakes
//   monitor_bench [--folder FOLDER] [runs]    on Windows: the monitor from FOLDER (default: the
//                                             bench's own folder), 7 runs by default
//   monitor_bench --close CLASS               on Windows: ends the program of that window class
//                                             with WM_CLOSE (for bench/startup.sh)
//   monitor_bench --modules CLASS             on Windows: lists that program's modules (base,
//                                             size, path) (for bench/startup.sh)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/report_dispatch.h"
#include "app/settings_file.h"
#include "bench/bench_figures.h"
#include "profile/dm_unit.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
// clang-format on

#include "platform/win32/peer_messages.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "programs/monitor/monitor_window.h"
#else
#include "platform/fake/fake_config_peer.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/fake/fake_main_loop.h"
#endif

namespace korv {
namespace {

using bench::Clock;
using bench::Micros;
using bench::Print;

const std::vector<std::uint8_t> kButton4{0x10, 0, 0, 0, 0, 0, 0};

#ifdef _WIN32
constexpr int kWarmUpStarts = 1;
constexpr DWORD kWorkingSetAfterStartMs = 1500;
constexpr auto kWindowTimeout = std::chrono::seconds(20);
constexpr DWORD kEndTimeoutMs = 10000;
// What the monitor's start-up should reach beside the floors.
constexpr double kGoalTimeRatio = 1.2;
constexpr double kGoalWorkingSetExcessMib = 2.0;
constexpr double kGoalFirstToggleMs = 50.0;

std::wstring BinFolder() {
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// A program to start: its folder (ending with a backslash, also its working folder), its file
// and the class of the window it creates.
struct StartedProgram {
    const char* name;
    std::wstring folder;
    const wchar_t* file;
    const wchar_t* window_class;
    const wchar_t* arguments = L"";
};

struct StartFigures {
    bool ok = false;
    double until_window_ms = 0;
    double working_set_mib = 0;
};

// Closes the program's window and waits until the process has ended; a process that does not
// end on WM_CLOSE is terminated and reported, so that nothing is left running.
bool CloseAndWait(const StartedProgram& program, HWND window, HANDLE process) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process, kEndTimeoutMs) == WAIT_OBJECT_0)
        return true;
    std::printf("  %s did not end within %lu ms of WM_CLOSE: terminated\n", program.name,
                kEndTimeoutMs);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kEndTimeoutMs);
    return false;
}

// The program's window once it can be found by class; null when the process ended first or the
// window did not come within the timeout.
HWND WaitForWindow(const StartedProgram& program, HANDLE process, Clock::time_point start) {
    HWND window = nullptr;
    while ((window = FindWindowW(program.window_class, nullptr)) == nullptr &&
           Clock::now() - start < kWindowTimeout &&
           WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        Sleep(1);
    }
    return window;
}

// Starts the program, takes the time until a window of its class can be found, reads its
// working set 1.5 s after the start and closes it again.
StartFigures StartAndMeasure(const StartedProgram& program) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::wstring line = L"\"" + program.folder + program.file + L"\" " + program.arguments;
    const auto start = Clock::now();
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        program.folder.c_str(), &startup, &started)) {
        std::printf("  %s cannot be started, error %lu\n", program.name, GetLastError());
        return {};
    }
    const win32::UniqueHandle process(started.hProcess);
    const win32::UniqueHandle thread(started.hThread);
    const HWND window = WaitForWindow(program, process.Get(), start);
    StartFigures figures;
    figures.until_window_ms = Micros(Clock::now() - start) / 1000.0;
    if (window == nullptr) {
        std::printf("  %s: no window of its class\n", program.name);
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), kEndTimeoutMs);
        return {};
    }
    const auto elapsed_ms = static_cast<DWORD>(figures.until_window_ms);
    if (elapsed_ms < kWorkingSetAfterStartMs)
        Sleep(kWorkingSetAfterStartMs - elapsed_ms);
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(process.Get(), &memory, sizeof memory))
        figures.working_set_mib = static_cast<double>(memory.WorkingSetSize) / (1024.0 * 1024.0);
    figures.ok = CloseAndWait(program, window, process.Get()) && memory.WorkingSetSize != 0;
    return figures;
}

struct Medians {
    bool ok = false;
    double until_window_ms = 0;
    double working_set_mib = 0;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// One unmeasured start (files cached, first-run work done), then `runs` measured ones.
Medians MeasureStarts(int runs, const StartedProgram& program) {
    std::printf("%s (%ls%ls)\n", program.name, program.folder.c_str(), program.file);
    for (int i = 0; i < kWarmUpStarts; ++i)
        static_cast<void>(StartAndMeasure(program));
    std::vector<double> until, working;
    bool ok = true;
    std::printf("  each start:");
    for (int i = 0; i < runs; ++i) {
        const StartFigures f = StartAndMeasure(program);
        ok = ok && f.ok;
        until.push_back(f.until_window_ms);
        working.push_back(f.working_set_mib);
        std::printf(" %.0f ms %.1f MiB%s", f.until_window_ms, f.working_set_mib,
                    i + 1 < runs ? "," : "\n");
        std::fflush(stdout);
        Sleep(200);  // the server settles after the program's end
    }
    Print("  process start until window found by class", until, "ms ");
    Print("  working set 1.5 s after start", working, "MiB");
    return {ok, Median(until), Median(working)};
}

void PumpFor(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto end = Clock::now() + limit;
    MSG msg;
    while (!done() && Clock::now() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}

// The first key report right after the window has been created, then `runs` more. Returns the
// first one's time in ms, or a negative value without a microphone.
double MeasureReportToToggle(int runs) {
    win32::Win32Platform platform;
    const auto dm = LoadDataModule(platform.DataPorts(), platform.settings);
    const auto window = win32::MonitorWindow::Create(GetModuleHandleW(nullptr), platform, *dm);
    if (window == nullptr) {
        std::printf("the monitor window cannot be created\n");
        return -1;
    }
    dm->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode = kFunctionCodeMicrophoneMute;
    std::vector<double> times;
    for (int i = 0; i <= runs; ++i) {
        const std::optional<bool> before = platform.microphone.EndpointMuted();
        if (!before) {
            std::printf("no default microphone: is PulseAudio running?\n");
            return -1;
        }
        const auto start = Clock::now();
        window->Monitor().Dispatcher().uiHIDData1Data(u"", u"", 7, kButton4, 7);
        PumpFor(std::chrono::seconds(2),
                [&] { return platform.microphone.EndpointMuted() != before; });
        times.push_back(Micros(Clock::now() - start));
    }
    Print("first key report after start to mute toggle", {times.front()}, "us ");
    Print("key report to mute toggle (real window, Core Audio)", {times.begin() + 1, times.end()},
          "us ");
    return times.front() / 1000.0;
}

const char* Verdict(bool met) {
    return met ? "goal met" : "goal MISSED";
}

void PrintGoals(const Medians& trivial, const Medians& microphone, const Medians& platform,
                const Medians& monitor, double first_toggle_ms) {
    const double ratio = monitor.until_window_ms / trivial.until_window_ms;
    const double excess = monitor.working_set_mib - microphone.working_set_mib;
    std::printf("\nmonitor beside the floors (medians)\n");
    std::printf(
        "  start until window: %.1f ms / %.1f ms (trivial) = %.2fx   "
        "(goal <= %.1fx: %s)\n",
        monitor.until_window_ms, trivial.until_window_ms, ratio, kGoalTimeRatio,
        Verdict(ratio <= kGoalTimeRatio));
    std::printf("  start until window: %.1f ms / %.1f ms (trivial + microphone) = %.2fx\n",
                monitor.until_window_ms, microphone.until_window_ms,
                monitor.until_window_ms / microphone.until_window_ms);
    std::printf(
        "  working set: %.2f MiB - %.2f MiB (trivial + microphone) = %+.2f MiB   "
        "(goal <= %+.1f MiB: %s)\n",
        monitor.working_set_mib, microphone.working_set_mib, excess, kGoalWorkingSetExcessMib,
        Verdict(excess <= kGoalWorkingSetExcessMib));
    std::printf("  working set: %.2f MiB - %.2f MiB (trivial) = %+.2f MiB\n",
                monitor.working_set_mib, trivial.working_set_mib,
                monitor.working_set_mib - trivial.working_set_mib);
    std::printf(
        "  working set: %.2f MiB - %.2f MiB (trivial + microphone + tray + device notices) = "
        "%+.2f MiB   (the monitor's own)\n"
        "  of which the tray icon and the device notices cost the platform %+.2f MiB\n",
        monitor.working_set_mib, platform.working_set_mib,
        monitor.working_set_mib - platform.working_set_mib,
        platform.working_set_mib - microphone.working_set_mib);
    if (first_toggle_ms >= 0) {
        std::printf(
            "  first key report after start to mute toggle: %.1f ms   (goal <= %.0f ms: %s)\n",
            first_toggle_ms, kGoalFirstToggleMs, Verdict(first_toggle_ms <= kGoalFirstToggleMs));
    }
}

// The floors first: a monitor that has just ended leaves the Wine server busy for a moment.
int Run(int runs, const std::wstring& monitor_folder) {
    const std::wstring bin = BinFolder();
    const Medians trivial = MeasureStarts(
        runs, {"trivial hidden-window program", bin, L"trivial_window.exe", L"KorvTrivialWindow"});
    const Medians microphone =
        MeasureStarts(runs, {"trivial program that also binds the default microphone", bin,
                             L"trivial_microphone.exe", L"KorvTrivialMicrophone"});
    const Medians platform = MeasureStarts(
        runs, {"trivial program with the microphone, a tray icon and device notices", bin,
               L"trivial_microphone.exe", L"KorvTrivialPlatform", L"--platform"});
    const std::wstring monitor_class = win32::ToWide(win32::kMonitorWindowClass);
    const Medians monitor = MeasureStarts(
        runs, {"monitor", monitor_folder, L"KORVANTH417MON.exe", monitor_class.c_str()});
    const double first_toggle_ms = MeasureReportToToggle(runs * 10);
    if (!trivial.ok || !microphone.ok || !platform.ok || !monitor.ok) {
        std::printf("\nsome starts failed (see above): no comparison\n");
        return 1;
    }
    PrintGoals(trivial, microphone, platform, monitor, first_toggle_ms);
    return first_toggle_ms >= 0 ? 0 : 1;
}

// The process that owns the window of the class, opened with `access`; null without one.
win32::UniqueHandle OpenProcessOfWindow(const wchar_t* window_class, DWORD access, HWND& window) {
    window = FindWindowW(window_class, nullptr);
    DWORD id = 0;
    if (window == nullptr || GetWindowThreadProcessId(window, &id) == 0)
        return win32::UniqueHandle(nullptr);
    return win32::UniqueHandle(OpenProcess(access, FALSE, id));
}

// Ends the program that owns the window of the class, as a measured start is ended (for scripts
// that start a program themselves). Exit code 0 when it ended on WM_CLOSE.
int CloseProgram(const wchar_t* window_class) {
    HWND window = nullptr;
    const win32::UniqueHandle process =
        OpenProcessOfWindow(window_class, SYNCHRONIZE | PROCESS_TERMINATE, window);
    if (!process.Valid()) {
        std::printf("no process with a window of class %ls\n", window_class);
        return 2;
    }
    const StartedProgram program{"the program", L"", L"", window_class};
    return CloseAndWait(program, window, process.Get()) ? 0 : 1;
}

// Lists the modules of the program that owns the window of the class, one per line: base
// address and image size in hex, then the path. Exit code 2 while no such window exists.
int ListModules(const wchar_t* window_class) {
    HWND window = nullptr;
    const win32::UniqueHandle process =
        OpenProcessOfWindow(window_class, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, window);
    std::vector<HMODULE> modules(512);
    DWORD needed = 0;
    if (!process.Valid() ||
        !EnumProcessModulesEx(process.Get(), modules.data(),
                              static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed,
                              LIST_MODULES_ALL)) {
        return 2;
    }
    modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
    for (const HMODULE module : modules) {
        MODULEINFO info{};
        wchar_t path[MAX_PATH] = L"";
        if (!GetModuleInformation(process.Get(), module, &info, sizeof info) ||
            GetModuleFileNameExW(process.Get(), module, path, MAX_PATH) == 0) {
            continue;
        }
        std::printf("%llx %lx %ls\n", reinterpret_cast<unsigned long long>(info.lpBaseOfDll),
                    info.SizeOfImage, path);
    }
    return 0;
}

std::wstring WithBackslash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    return folder;
}
#else
// Natively: the decoder, the task it leaves run at once as the main loop would, and a
// microphone that only counts.
int Run(int runs) {
    fake::FakeDataModulePorts data;
    fake::FakeConfigPeer peer;
    fake::FakeMainLoop loop;
    fake::FakeMicrophone microphone;
    const auto dm = LoadDataModule(data.Ports());
    dm->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode = kFunctionCodeMicrophoneMute;
    ReportDispatcher dispatcher({peer, loop, data.registry, microphone, data.debug}, *dm);
    bench::Measure(
        "key report to mute toggle (portable path, fakes)", runs * 1000,
        [&] { data.debug.lines.clear(); },
        [&] {
            dispatcher.uiHIDData1Data(u"", u"", 7, kButton4, 7);
            loop.RunPending();
        });
    return microphone.toggles == runs * 1000 ? 0 : 1;
}
#endif

}  // namespace
}  // namespace korv

#ifdef _WIN32
// monitor_bench [--folder FOLDER] [runs]
// monitor_bench --close CLASS | --modules CLASS
int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring folder = korv::BinFolder();
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view argument(argv[i]);
        if ((argument == L"--close" || argument == L"--modules") && i + 1 < argc) {
            const int result = argument == L"--close" ? korv::CloseProgram(argv[i + 1])
                                                      : korv::ListModules(argv[i + 1]);
            LocalFree(argv);
            return result;
        }
        if (argument == L"--folder" && i + 1 < argc)
            folder = korv::WithBackslash(argv[++i]);
        else
            runs = std::max(1, _wtoi(argv[i]));
    }
    LocalFree(argv);
    return korv::Run(runs, folder);
}
#else
int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    return korv::Run(runs);
}
#endif
