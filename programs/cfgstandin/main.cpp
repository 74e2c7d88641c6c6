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

#include "app/messages.h"
#include "app/settings_file.h"
#include "app/standin_commands.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/common/win32_platform.h"

namespace korv::win32 {
namespace {

constexpr int kExitUsage = 1;
constexpr int kExitNoMonitor = 2;
constexpr int kExitNotStored = 3;

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
        const std::wstring text = line + L"\n";
        const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                            size, nullptr, nullptr);
        DWORD written = 0;
        WriteFile(g_window.log_file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
                  nullptr);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (const wchar_t* name = MessageName(message)) {
        Log(std::to_wstring(message) + L" " + name + L" wParam=" + std::to_wstring(wparam) +
            L" lParam=" + std::to_wstring(lparam));
        return 0;  // a sent UM_PROFILE_SWITCHED is answered at once
    }
    switch (message) {
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

int RunWindow(HINSTANCE instance, const std::wstring& log_path, bool hidden) {
    if (!log_path.empty()) {
        g_window.log_file.Reset(CreateFileW(log_path.c_str(), FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
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

void Say(const std::wstring& text) {
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        DWORD written = 0;
        WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), text.c_str(), static_cast<DWORD>(text.size()),
                      &written, nullptr);
    }
}

int RunCommand(const StandInCommand& command) {
    Win32Platform platform;
    const auto dm = LoadDataModule(platform.DataPorts());
    const ReloadRequest request = ApplyStandInCommand(command, *dm);
    if (!request.stored) {
        Say(L"The change could not be stored in the registry; the monitor was not asked to "
            L"reload.\n");
        return kExitNotStored;
    }
    HWND monitor = FindWindowW(ToWide(kMonitorWindowClass).c_str(), nullptr);
    if (monitor == nullptr) {
        Say(L"The monitor is not running; the change is stored and takes effect at its start.\n");
        return kExitNoMonitor;
    }
    // Sent, so that the monitor has reloaded when this command ends.
    SendMessageW(monitor, request.message, 0, request.lparam);
    return 0;
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
        return RunWindow(instance, log_path, hidden);
    const auto command = korv::ParseStandInCommand(command_args);
    if (!command) {
        Say(korv::win32::ToWide(korv::kStandInUsage));
        return kExitUsage;
    }
    return RunCommand(*command);
}
