// KORVANTH417.EXE, a stand-in for the suite's configuration program. Without a command it runs
// the configuration window (config_window.h), which logs every message the monitor sends it to
// its pane and to the file named after /log. With a command it edits the stored records the
// monitor acts on and asks the running monitor to reload, as the configuration program does,
// or lists what the records hold. See StandInUsage for the commands.

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <string>
#include <vector>

#include "platform/win32/wide_string.h"
#include "programs/cfgstandin/config_window.h"
#include "programs/cfgstandin/standin_commands.h"
#include "programs/cfgstandin/win32_command.h"

namespace korv::win32 {
namespace {

// Writes a line to standard output, or to standard error, whether they are a console, a pipe or
// a file; a program started from a console without handles attaches to that console.
void Say(const std::wstring& line, bool error = false) {
    const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    HANDLE out = GetStdHandle(which);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    const std::wstring text = line + L"\n";
    DWORD written = 0;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string utf8 = Utf8(text);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// Says what happened, and writes the same line to the log when one was named.
int Report(const LogFile& log, const CommandOutcome& outcome) {
    Say(outcome.line, outcome.exit_code != kExitDone);
    log.Write(outcome.line);
    return outcome.exit_code;
}

int RunCommand(const std::vector<std::u16string>& args, const LogFile& log) {
    const ParsedStandInCommand parsed = ParseStandInCommand(args);
    if (!parsed.command) {
        const int exit_code = Report(log, {kExitUsage, ToWide(parsed.problem)});
        if (parsed.unknown)
            Say(L"usage:\n" + ToWide(StandInUsage(u"KORVANTH417.EXE", u"[/log FILE] [/hide]",
                                                  u"the configuration window; it logs what "
                                                  u"the monitor sends")),
                true);
        return exit_code;
    }
    Win32Platform platform;
    return Report(log, CarryCommand(*parsed.command, platform));
}

}  // namespace
}  // namespace korv::win32

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace korv::win32;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::u16string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(FromWide(argv[i]));
    LocalFree(argv);

    std::wstring log_path;
    bool hidden = false;
    std::vector<std::u16string> command_args;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == u"/log" || args[i] == u"--log") && i + 1 < args.size()) {
            log_path = ToWide(args[++i]);
        } else if (args[i] == u"/hide" || args[i] == u"--hide") {
            hidden = true;
        } else {
            command_args.push_back(args[i]);
        }
    }
    if (command_args.empty())
        return RunConfigWindow(instance, hidden, log_path);
    return RunCommand(command_args, LogFile(log_path));
}
