#pragma once
// A program started as this process's debuggee, so that a test reads its trace lines (the
// debugger output channel) as DebugView would. A thread of its own runs the debug loop: the
// thread that starts a debuggee is the one that must wait for its events.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/win32/win32_test_support.h"

namespace korv::win32::test {

class TracedProcess {
  public:
    struct Line {
        std::string text;
        std::chrono::steady_clock::time_point when;
    };

    TracedProcess(std::wstring command_line, std::wstring folder)
        : thread_([this, line = std::move(command_line), folder = std::move(folder)] {
              Run(line, folder);
          }) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return launched_; });
    }
    ~TracedProcess() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        thread_.join();
    }
    TracedProcess(const TracedProcess&) = delete;
    TracedProcess& operator=(const TracedProcess&) = delete;

    bool Started() const { return started_; }
    // Why the start failed (GetLastError of CreateProcessW), 0 when it started.
    DWORD StartError() const { return start_error_; }
    std::chrono::steady_clock::time_point StartTime() const { return start_; }

    std::vector<Line> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Lines that begin with `start`.
    std::vector<Line> LinesStartingWith(const std::string& start) const {
        std::vector<Line> found;
        for (const Line& line : Lines()) {
            if (line.text.rfind(start, 0) == 0)
                found.push_back(line);
        }
        return found;
    }
    // Waits until `count` lines begin with `start`; false after `limit`.
    bool WaitForLines(const std::string& start, std::size_t count,
                      std::chrono::milliseconds limit) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            std::size_t n = 0;
            for (const Line& line : lines_)
                n += line.text.rfind(start, 0) == 0;
            return n >= count;
        });
    }
    bool WaitForExit(std::chrono::milliseconds limit) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return exited_; });
    }
    DWORD ExitCode() const {
        std::lock_guard lock(mutex_);
        return exit_code_;
    }

  private:
    void Run(std::wstring line, const std::wstring& folder) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        start_error_ = StartProcess(std::move(line), FALSE, folder.c_str(), startup, info,
                                    DEBUG_ONLY_THIS_PROCESS);
        started_ = start_error_ == 0;
        start_ = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(mutex_);
            launched_ = true;
            exited_ = !started_;
        }
        changed_.notify_all();
        if (!started_)
            return;
        Loop(info.hProcess);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }

    void Loop(HANDLE process) {
        bool terminated = false;
        for (;;) {
            DEBUG_EVENT event{};
            if (!WaitForDebugEvent(&event, 50)) {
                std::lock_guard lock(mutex_);
                if (stop_ && !terminated) {
                    TerminateProcess(process, 9);
                    terminated = true;
                }
                continue;
            }
            DWORD status = DBG_CONTINUE;
            if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT)
                Keep(process, event.u.DebugString);
            if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT &&
                event.u.CreateProcessInfo.hFile) {
                CloseHandle(event.u.CreateProcessInfo.hFile);
            }
            const bool exit = event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
            if (exit) {
                std::lock_guard lock(mutex_);
                exited_ = true;
                exit_code_ = event.u.ExitProcess.dwExitCode;
                changed_.notify_all();
                return;
            }
        }
    }

    // One trace line, read from the debuggee's memory (ANSI or UTF-16, as it was raised).
    void Keep(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
        const std::size_t units = info.nDebugStringLength;
        std::string text;
        if (info.fUnicode) {
            std::wstring wide(units, L'\0');
            ReadProcessMemory(process, info.lpDebugStringData, wide.data(), units * 2, nullptr);
            for (wchar_t c : wide)
                text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        } else {
            text.assign(units, '\0');
            ReadProcessMemory(process, info.lpDebugStringData, text.data(), units, nullptr);
        }
        while (!text.empty() && (text.back() == '\0' || text.back() == '\n'))
            text.pop_back();
        {
            std::lock_guard lock(mutex_);
            lines_.push_back({text, std::chrono::steady_clock::now()});
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool launched_ = false;
    DWORD start_error_ = 0;
    bool started_ = false;
    bool stop_ = false;
    bool exited_ = false;
    DWORD exit_code_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::vector<Line> lines_;
    std::thread thread_;
};

}  // namespace korv::win32::test
