// Runs a program as this process's debuggee and prints what it traced (the debugger output
// channel) and how it ended, for shell tests that cannot read the channel themselves:
//
//   trace_probe.exe SECONDS PROGRAM [ARGUMENTS...]
//
// Prints "trace: LINE" for every trace line, then "exit code N". Exit code 0 when the program
// ended in time, 1 when it could not be started, 3 when it was still running after SECONDS (it
// is then ended).

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/win32/traced_process.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: trace_probe.exe SECONDS PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }
    const auto limit = std::chrono::seconds(std::wcstol(argv[1], nullptr, 10));
    std::wstring line = L"\"" + std::wstring(argv[2]) + L"\"";
    for (int i = 3; i < argc; ++i)
        line += L" " + std::wstring(argv[i]);
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    int result = 0;
    {
        korv::win32::test::TracedProcess program(line, folder);
        if (!program.Started()) {
            std::fputs("the program could not be started\n", stderr);
            return 1;
        }
        const bool ended = program.WaitForExit(limit);
        for (const auto& traced : program.Lines())
            std::printf("trace: %s\n", traced.text.c_str());
        if (ended)
            std::printf("exit code %lu\n", program.ExitCode());
        else
            std::printf("still running after %ld s; ended\n", static_cast<long>(limit.count()));
        result = ended ? 0 : 3;
    }
    std::fflush(stdout);
    return result;
}
