// Looks at an installation through the Windows API, for the installer test (a shell script that
// asserts on what this prints):
//
//   install_probe version FILE         the version resource: FileVersion=, ProductVersion=,
//                                      CompanyName=, ProductName=, Fixed= (exit 3: none)
//   install_probe manifest FILE        the application manifest's text (exit 3: none)
//   install_probe folder NAME          a folder of the user: local-app-data, start-menu,
//                                      documents
//   install_probe monitor-process      the process id and program file of the process that owns
//                                      the monitor's window (exit 2: none runs)
//   install_probe wait-monitor up|gone SECONDS
//                                      until the monitor's window exists, or until it and its
//                                      process have gone (exit 2: not within SECONDS)
//   install_probe close-monitor SECONDS
//                                      WM_CLOSE to the monitor, then wait-monitor gone
//   install_probe run-all SECONDS COMMAND-LINE
//                                      runs a command line and waits until it and every
//                                      process it started have ended (exit 2: timeout), e.g.
//                                      an uninstaller that continues from a copy of itself
//
// Exit 1: bad arguments or a failed call, with the reason on standard error.

#include <shlobj.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "tests/win32/win32_test_support.h"

namespace {

using korv::win32::UniqueHandle;
using namespace std::chrono_literals;

constexpr int kExitFailed = 1;
constexpr int kExitTimeout = 2;
constexpr int kExitMissing = 3;
constexpr wchar_t kMonitorClass[] = L"TKORVANTH417MONMAIN";

int Fail(const wchar_t* what) {
    fwprintf(stderr, L"install_probe: %ls (error %lu)\n", what, GetLastError());
    return kExitFailed;
}

struct FreeLibraryOnExit {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, FreeLibraryOnExit>;

std::optional<std::wstring> VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    void* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path.c_str(), &text, &length) || length == 0)
        return std::nullopt;
    return std::wstring(static_cast<const wchar_t*>(text));
}

int PrintVersion(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0)
        return fwprintf(stderr, L"install_probe: %ls has no version resource\n", file),
               kExitMissing;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(file, 0, size, block.data()))
        return Fail(L"GetFileVersionInfoW failed");
    for (const wchar_t* name : {L"FileVersion", L"ProductVersion", L"CompanyName", L"ProductName"})
        wprintf(L"%ls=%ls\n", name, VersionString(block, name).value_or(L"").c_str());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
        length >= sizeof *fixed) {
        wprintf(L"Fixed=%lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                LOWORD(fixed->dwFileVersionLS));
    }
    return 0;
}

int PrintManifest(const wchar_t* file) {
    UniqueModule module(LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return Fail(L"LoadLibraryExW failed");
    HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    if (resource == nullptr)
        return fwprintf(stderr, L"install_probe: %ls has no manifest\n", file), kExitMissing;
    HGLOBAL loaded = LoadResource(module.get(), resource);
    const auto* text = static_cast<const char*>(LockResource(loaded));
    if (text == nullptr)
        return Fail(L"LoadResource failed");
    fwrite(text, 1, SizeofResource(module.get(), resource), stdout);
    return 0;
}

int PrintFolder(const std::wstring& name) {
    const KNOWNFOLDERID* id = name == L"local-app-data" ? &FOLDERID_LocalAppData
                              : name == L"start-menu"   ? &FOLDERID_Programs
                              : name == L"documents"    ? &FOLDERID_Documents
                                                        : nullptr;
    if (id == nullptr)
        return fwprintf(stderr, L"install_probe: unknown folder %ls\n", name.c_str()), kExitFailed;
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(*id, KF_FLAG_DONT_VERIFY, nullptr, &path);
    if (FAILED(result))
        return fwprintf(stderr, L"install_probe: SHGetKnownFolderPath: 0x%08lx\n", result),
               kExitFailed;
    wprintf(L"%ls\n", path);
    CoTaskMemFree(path);
    return 0;
}

// A started process, with both of its handles owned.
struct Started {
    UniqueHandle process;
    UniqueHandle thread;
};

std::optional<Started> Start(std::wstring command_line, DWORD flags = 0) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (korv::win32::test::StartProcess(std::move(command_line), FALSE, nullptr, startup, info,
                                        flags) != 0)
        return std::nullopt;
    return Started{UniqueHandle(info.hProcess), UniqueHandle(info.hThread)};
}

DWORD MonitorProcessId() {
    HWND window = FindWindowW(kMonitorClass, nullptr);
    DWORD pid = 0;
    if (window != nullptr)
        GetWindowThreadProcessId(window, &pid);
    return pid;
}

int PrintMonitorProcess() {
    const DWORD pid = MonitorProcessId();
    if (pid == 0)
        return kExitTimeout;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (!process.Valid() || !QueryFullProcessImageNameW(process.Get(), 0, path, &length))
        return Fail(L"the monitor's program file cannot be read");
    wprintf(L"%lu %ls\n", pid, path);
    return 0;
}

template <typename Done>
bool WaitFor(std::chrono::seconds timeout, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// Gone: no window of the class, and the process that had one has ended.
bool WaitMonitorGone(std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (const DWORD pid = MonitorProcessId()) {
        UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (process.Valid() &&
            WaitForSingleObject(process.Get(), static_cast<DWORD>(left.count())) != WAIT_OBJECT_0)
            return false;
    }
    return WaitFor(timeout, [] { return FindWindowW(kMonitorClass, nullptr) == nullptr; });
}

// The monitor's window exists before its message loop runs (the tray, the hook library, the
// mouse and the microphone come first): "up" means it also answers.
bool MonitorAnswers() {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(FindWindowW(kMonitorClass, nullptr), WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                               30000, &ignored) != 0;
}

int WaitMonitor(const std::wstring& state, std::chrono::seconds timeout) {
    bool reached = false;
    if (state == L"up")
        reached = WaitFor(timeout, [] { return MonitorProcessId() != 0; }) && MonitorAnswers();
    else if (state == L"gone")
        reached = WaitMonitorGone(timeout);
    else
        return fwprintf(stderr, L"install_probe: up or gone, not %ls\n", state.c_str()),
               kExitFailed;
    return reached ? 0 : kExitTimeout;
}

int CloseMonitor(std::chrono::seconds timeout) {
    if (HWND window = FindWindowW(kMonitorClass, nullptr))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return WaitMonitor(L"gone", timeout);
}

// The command runs in a job: its processes and theirs are counted until none is left.
int RunAll(std::chrono::seconds timeout, const std::wstring& command_line) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job.Valid())
        return Fail(L"CreateJobObjectW failed");
    auto started = Start(command_line, CREATE_SUSPENDED);
    if (!started)
        return Fail(L"CreateProcessW failed");
    if (!AssignProcessToJobObject(job.Get(), started->process.Get()))
        return Fail(L"AssignProcessToJobObject failed");
    ResumeThread(started->thread.Get());
    const bool ended = WaitFor(timeout, [&] {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        return QueryInformationJobObject(job.Get(), JobObjectBasicAccountingInformation, &info,
                                         sizeof info, nullptr) &&
               info.ActiveProcesses == 0;
    });
    DWORD code = 0;
    GetExitCodeProcess(started->process.Get(), &code);
    wprintf(L"exit code %lu\n", code);
    return ended ? 0 : kExitTimeout;
}

std::chrono::seconds Seconds(const wchar_t* text) {
    return std::chrono::seconds(_wtoi(text));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"version" && argc == 3)
        return PrintVersion(argv[2]);
    if (command == L"manifest" && argc == 3)
        return PrintManifest(argv[2]);
    if (command == L"folder" && argc == 3)
        return PrintFolder(argv[2]);
    if (command == L"monitor-process" && argc == 2)
        return PrintMonitorProcess();
    if (command == L"wait-monitor" && argc == 4)
        return WaitMonitor(argv[2], Seconds(argv[3]));
    if (command == L"close-monitor" && argc == 3)
        return CloseMonitor(Seconds(argv[2]));
    if (command == L"run-all" && argc == 4)
        return RunAll(Seconds(argv[2]), argv[3]);
    fwprintf(stderr, L"install_probe: bad arguments (see the top of install_probe.cpp)\n");
    return kExitFailed;
}
