// KORVANTH417.EXE, a stand-in for the suite's configuration program. Without arguments it runs
// a window of the configuration program's class that shows, and logs to the file named after
// /log, every message the monitor sends it. With a command it edits the stored records the
// monitor acts on and asks the running monitor to reload, as the configuration program does.
// See kStandInUsage for the commands.

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "platform/win32/peer_messages.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/cfgstandin/standin_commands.h"
#include "programs/common/win32_platform.h"

namespace korv::win32 {
namespace {

constexpr int kExitUsage = 1;
constexpr int kExitNoMonitor = 2;
constexpr int kExitNotStored = 3;
constexpr int kExitNoAnswer = 4;
constexpr UINT kMonitorAnswerMs = 5000;

struct WindowState {
    HWND log_view = nullptr;
    UniqueHandle log_file;
};

WindowState g_window;  // the one window of this small program

const wchar_t* MessageName(UINT message) {
    switch (message) {
        case UM_MONITOR_EXIT:
            return L"UM_MONITOR_EXIT";
        case UM_PROFILE_SWITCHED:
            return L"UM_PROFILE_SWITCHED";
        case UM_DEVICE_NOTIFY_2:
            return L"UM_DEVICE_NOTIFY_2";
        case UM_DEVICE_NOTIFY_6:
            return L"UM_DEVICE_NOTIFY_6";
        default:
            return nullptr;
    }
}

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

// One line per message, to the window and to the log file (UTF-8, written through at once so
// that a reader sees it while the program runs).
void Log(const std::wstring& line) {
    if (g_window.log_view != nullptr) {
        const int end = GetWindowTextLengthW(g_window.log_view);
        SendMessageW(g_window.log_view, EM_SETSEL, end, end);
        SendMessageW(g_window.log_view, EM_REPLACESEL, FALSE,
                     reinterpret_cast<LPARAM>((line + L"\r\n").c_str()));
    }
    if (g_window.log_file.Valid()) {
        const std::string utf8 = Utf8(line + L"\n");
        DWORD written = 0;
        WriteFile(g_window.log_file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
                  nullptr);
    }
}

// Every message another program sends or posts: the suite's own by name, any other private
// message by number.
bool LogPrivateMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    const wchar_t* name = MessageName(message);
    if (name == nullptr && (message < WM_USER || message > 0xBFFF))
        return false;
    Log(std::to_wstring(message) + L" " +
        (name != nullptr ? name : L"(not a message of the suite)") + L" wParam=" +
        std::to_wstring(wparam) + L" lParam=" + std::to_wstring(lparam));
    return true;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (LogPrivateMessage(message, wparam, lparam))
        return 0;  // a sent UM_PROFILE_SWITCHED is answered at once
    switch (message) {
        case WM_ACTIVATE:
            // The monitor's Config raises a running configuration program.
            if (LOWORD(wparam) != WA_INACTIVE)
                Log(L"brought to the front");
            return DefWindowProcW(window, message, wparam, lparam);
        case WM_SIZE:
            MoveWindow(g_window.log_view, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

void OpenLog(const std::wstring& log_path) {
    if (!log_path.empty()) {
        g_window.log_file.Reset(CreateFileW(log_path.c_str(), FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
}

int RunWindow(HINSTANCE instance, bool hidden) {
    const std::wstring class_name = ToWide(kConfigWindowClass);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    window_class.lpszClassName = class_name.c_str();
    if (!RegisterClassW(&window_class))
        return 1;
    HWND window = CreateWindowExW(0, class_name.c_str(), L"KORVANTH417 configuration (stand-in)",
                                  WS_OVERLAPPEDWINDOW, 200, 120, 560, 320, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr)
        return 1;
    g_window.log_view = CreateWindowExW(
        0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 0, 0, 0,
        0, window, nullptr, instance, nullptr);
    RECT client{};
    GetClientRect(window, &client);
    MoveWindow(g_window.log_view, 0, 0, client.right, client.bottom, FALSE);
    Log(L"Waiting for messages from the monitor.");
    ShowWindow(window, hidden ? SW_HIDE : SW_SHOWNORMAL);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

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
int Report(const std::wstring& line, int exit_code) {
    Say(line, exit_code != 0);
    Log(line);
    return exit_code;
}

std::wstring JoinArguments(const std::vector<std::u16string>& args) {
    std::wstring line;
    for (const std::u16string& arg : args)
        line += (line.empty() ? L"" : L" ") + ToWide(arg);
    return line;
}

UINT MessageOf(const ReloadRequest& request) {
    return request.kind == ReloadRequest::Kind::ReloadProfiles ? UM_RELOAD_PROFILES
                                                               : UM_RELOAD_SETTINGS;
}

int RunCommand(StandInCommand command) {
    Win32Platform platform;
    if (const auto problem = ResolveLanguage(command, {platform.locale, platform.files}))
        return Report(ToWide(*problem), kExitUsage);
    const auto dm = LoadDataModule(platform.DataPorts(), platform.settings);
    const std::wstring what = ToWide(DescribeStandInCommand(command));
    const ReloadRequest request = ApplyStandInCommand(command, *dm);
    if (!request.stored) {
        return Report(what +
                          L": cannot be stored in the registry; the monitor was not asked to "
                          L"reload",
                      kExitNotStored);
    }
    HWND monitor = FindWindowW(ToWide(kMonitorWindowClass).c_str(), nullptr);
    if (monitor == nullptr) {
        return Report(what + L"; the monitor is not running: it takes effect at its start",
                      kExitNoMonitor);
    }
    // Sent, so that the monitor has reloaded when this command ends; a monitor that does not
    // answer within a few seconds is reported.
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(monitor, MessageOf(request), 0, request.profile_id, SMTO_ABORTIFHUNG,
                             kMonitorAnswerMs, &ignored)) {
        return Report(what + L"; the monitor did not answer the reload request", kExitNoAnswer);
    }
    return Report(what + L"; monitor asked to reload", 0);
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
    OpenLog(log_path);
    if (command_args.empty())
        return RunWindow(instance, hidden);
    const auto command = korv::ParseStandInCommand(command_args);
    if (!command) {
        const int exit_code =
            Report(L"not a command of the stand-in: " + JoinArguments(command_args), kExitUsage);
        Say(L"usage:\n" + ToWide(korv::kStandInUsage), true);
        return exit_code;
    }
    return RunCommand(*command);
}
