// The monitor's figures: the time from a key report handed to the decoder until the mute toggle
// has been made; on Windows (or Wine) also the time from process start until the monitor's
// window can be found by class and its memory after start, each beside the same figure for a
// trivial program that only creates a hidden window.
//
//   monitor_bench [runs]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "app/report_dispatch.h"
#include "app/settings_file.h"
#include "bench/bench_figures.h"
#include "profile/dm_unit.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

#include "programs/monitor/monitor_window.h"
#else
#include "app/messages.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/fake/fake_window_system.h"
#endif

namespace korv {
namespace {

using bench::Clock;
using bench::Micros;
using bench::Print;

const std::vector<std::uint8_t> kButton4{0x10, 0, 0, 0, 0, 0, 0};

#ifdef _WIN32
std::wstring BinFolder() {
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

struct StartFigures {
    double until_window_us;
    double working_set_kib;
};

// Starts the program, waits until a window of the class exists, lets it settle, reads its
// memory and closes it.
StartFigures StartAndMeasure(const std::wstring& program, const wchar_t* window_class) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"" + BinFolder() + program + L"\"";
    const auto start = Clock::now();
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        BinFolder().c_str(), &startup, &process)) {
        return {};
    }
    HWND window = nullptr;
    while ((window = FindWindowW(window_class, nullptr)) == nullptr &&
           Clock::now() - start < std::chrono::seconds(20)) {
        Sleep(1);
    }
    StartFigures figures{Micros(Clock::now() - start), 0};
    Sleep(500);
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) {
        figures.working_set_kib = memory.WorkingSetSize / 1024.0;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return figures;
}

void MeasureStart(int runs, const wchar_t* program, const wchar_t* window_class, const char* name) {
    std::vector<double> until, working;
    for (int i = 0; i < runs; ++i) {
        const StartFigures f = StartAndMeasure(program, window_class);
        until.push_back(f.until_window_us / 1000.0);
        working.push_back(f.working_set_kib);
    }
    std::printf("%s\n", name);
    Print("  process start until window found by class", until, "ms ");
    Print("  working set after start", working, "KiB");
}

void PumpFor(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto end = Clock::now() + limit;
    MSG msg;
    while (!done() && Clock::now() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}

void MeasureReportToToggle(int runs) {
    win32::Win32Platform platform;
    const auto dm = LoadDataModule(platform.DataPorts());
    const auto window = win32::MonitorWindow::Create(GetModuleHandleW(nullptr), platform, *dm);
    if (window == nullptr) {
        std::printf("the monitor window cannot be created\n");
        return;
    }
    dm->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode = kFunctionCodeMicrophoneMute;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const std::optional<bool> before = platform.microphone.EndpointMuted();
        if (!before) {
            std::printf("no default microphone: is PulseAudio running?\n");
            return;
        }
        const auto start = Clock::now();
        window->Monitor().Dispatcher().uiHIDData1Data(u"", u"", 7, kButton4, 7);
        PumpFor(std::chrono::seconds(2),
                [&] { return platform.microphone.EndpointMuted() != before; });
        times.push_back(Micros(Clock::now() - start));
    }
    Print("key report to mute toggle (real window, Core Audio)", times, "us ");
}

int Run(int runs) {
    MeasureReportToToggle(runs * 10);
    MeasureStart(runs, L"KORVANTH417MON.exe", L"TKORVANTH417MONMAIN",
                 "monitor (KORVANTH417MON.exe)");
    MeasureStart(runs, L"trivial_window.exe", L"KorvTrivialWindow",
                 "trivial hidden-window program");
    return 0;
}
#else
// Natively: the decoder, the posted event handed straight to its handler as the message loop
// would, and a microphone that only counts.
int Run(int runs) {
    fake::FakeDataModulePorts data;
    fake::FakeWindowSystem windows;
    fake::FakeMicrophone microphone;
    const auto dm = LoadDataModule(data.Ports());
    dm->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode = kFunctionCodeMicrophoneMute;
    ReportDispatcher dispatcher({windows, data.registry, microphone, data.debug}, *dm, 1);
    bench::Measure(
        "key report to mute toggle (portable path, fakes)", runs * 1000,
        [&] {
            windows.messages.clear();
            data.debug.lines.clear();
        },
        [&] {
            dispatcher.uiHIDData1Data(u"", u"", 7, kButton4, 7);
            const fake::WindowMessage& posted = windows.messages.back();
            dispatcher.WMMonitorEvent(posted.wparam, posted.lparam);
        });
    return microphone.toggles == runs * 1000 ? 0 : 1;
}
#endif

}  // namespace
}  // namespace korv

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    return korv::Run(runs);
}
