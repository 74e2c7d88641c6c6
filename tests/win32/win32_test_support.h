#pragma once
// What the Windows tests share: the folder of the test programs, a message pump that waits for
// a condition, a child process that is ended with the test, and reading a whole text file.

#include <windows.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

namespace korv::win32::test {

using namespace std::chrono_literals;

// The monitor's registry folder below HKEY_CURRENT_USER, as the default config.ini names it.
inline constexpr wchar_t kRegFolder[] = L"software\\software\\KORVANTH417GM";

// The ProfileID value the monitor writes on a reload request; nothing while there is none.
inline std::optional<DWORD> ProfileID() {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kRegFolder, L"ProfileID", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

// The folder of the running test program, where every program of the build lies.
inline std::wstring BinFolder() {
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Handles this thread's messages (sent ones included) until the condition holds.
// What is queued is handled at least once, even when this thread ran late and the limit has
// already passed: "pump for 100 ms" always serves the messages posted before it.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// The message box of the given process with that caption (any caption: null), if one is open.
inline HWND BoxOf(DWORD process_id, const wchar_t* caption) {
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", caption)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(box, &owner);
        if (owner == process_id)
            return box;
    }
    return nullptr;
}

// CreateProcessW for the tests' child programs. Under a loaded Wine session a start has been
// seen to fail once out of hundreds with no output at all; one retry keeps such a start from
// passing for the program's own failure. Every child of the tests starts here. Returns 0 or the
// last start's error code.
inline DWORD StartProcess(std::wstring command_line, BOOL inherit_handles, const wchar_t* folder,
                          STARTUPINFOW& startup, PROCESS_INFORMATION& info, DWORD flags = 0) {
    DWORD error = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, inherit_handles, flags,
                           nullptr, folder, &startup, &info)) {
            return 0;
        }
        error = GetLastError();
        Sleep(100);
    }
    return error;
}

class Process {
  public:
    explicit Process(const std::wstring& command_line) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = StartProcess(command_line, FALSE, BinFolder().c_str(), startup, info_) == 0;
    }
    ~Process() {
        if (!started_)
            return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(info_.hProcess, 9);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    bool Started() const { return started_; }
    bool Ended() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

  private:
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

inline std::string ReadText(const std::wstring& path) {
    std::ifstream file(std::string(path.begin(), path.end()), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace korv::win32::test
