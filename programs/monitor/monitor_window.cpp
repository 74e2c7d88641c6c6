#include "programs/monitor/monitor_window.h"

#include <algorithm>

#include "base/decimal_text.h"
#include "platform/win32/peer_messages.h"
#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

// The window of the portable monitor's component has its class name.
static_assert(kMonitorWindowClass == kMonitorClassName);

constexpr UINT kTrayCallbackMessage = WM_APP + 1;
constexpr int kProgramIconResource = 1;
// While the shell's notification area is not there (early at logon, or a session without a
// shell), the icon is added again after a wait that doubles each time, up to five minutes: a
// shell that starts announces itself with "TaskbarCreated", which adds the icon at once, so the
// retries only serve a shell that does not, and cost next to nothing where none ever comes.
constexpr UINT_PTR kTrayRetryTimer = 1;
constexpr UINT kFirstTrayRetryMilliseconds = 2000;
constexpr UINT kLongestTrayRetryMilliseconds = 5 * 60 * 1000;

UINT NextTrayRetry(UINT previous) {
    return previous == 0 ? kFirstTrayRetryMilliseconds
                         : std::min(previous * 2, kLongestTrayRetryMilliseconds);
}

void TraceFailure(const DebugOutput& debug, std::u16string_view call) {
    debug.Trace(u"Monitor window: " + std::u16string(call) + u" failed, error " +
                DecimalText(GetLastError()));
}

HICON ProgramIcon(HINSTANCE instance) {
    HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(kProgramIconResource));
    return icon != nullptr ? icon : LoadIconW(nullptr, IDI_APPLICATION);
}

}  // namespace

MonitorWindow::MonitorWindow(HINSTANCE instance, Win32Platform& platform)
    : instance_(instance),
      platform_(platform),
      message_boxes_(platform.message_boxes, platform.main_loop) {}

std::unique_ptr<MonitorWindow> MonitorWindow::Create(HINSTANCE instance, Win32Platform& platform,
                                                     TDM& data_module) {
    std::unique_ptr<MonitorWindow> self(new MonitorWindow(instance, platform));
    const std::wstring class_name = ToWide(kMonitorWindowClass);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.hIcon = ProgramIcon(instance);
    window_class.lpszClassName = class_name.c_str();
    self->class_registered_ = RegisterClassW(&window_class) != 0;
    if (!self->class_registered_) {
        TraceFailure(platform.debug, u"RegisterClassW");
        return nullptr;
    }
    // A tool window: no task-bar button. Never shown.
    self->window_ =
        CreateWindowExW(WS_EX_TOOLWINDOW, class_name.c_str(), ToWide(kApplicationTitle).c_str(),
                        WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, self.get());
    if (self->window_ == nullptr) {
        TraceFailure(platform.debug, u"CreateWindowExW");
        return nullptr;
    }
    self->CreateComponents(data_module, window_class.hIcon);
    return self;
}

void MonitorWindow::CreateComponents(TDM& data_module, HICON program_icon) {
    Win32Platform& platform = platform_;
    taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
    tray_ = std::make_unique<Win32Tray>(window_, kTrayCallbackMessage, program_icon,
                                        platform.files.ExecutableFolder(), platform.debug);
    const MonitorPorts ports{
        platform.DataPorts(),
        platform.peer,
        platform.microphone,
        *tray_,
        {platform.files, &platform.libraries, message_boxes_, platform.keyboard, platform.debug},
        platform.hid,
        platform.main_loop,
        platform.device_notifications};
    monitor_ =
        std::make_unique<TKORVANTH417MONMAIN>(nullptr, ports, data_module, platform.settings);
    ShowTrayIcon();
    monitor_->FormCreate();
    platform_.title = monitor_->Title();
}

// Adds the icon, or tries again later while the notification area is not there.
void MonitorWindow::ShowTrayIcon() {
    KillTimer(window_, kTrayRetryTimer);
    if (tray_->Show()) {
        if (tray_retrying_)
            platform_.debug.Trace(u"Tray icon added");
        tray_retrying_ = false;
        tray_retry_wait_ = 0;
        return;
    }
    if (!tray_retrying_)
        platform_.debug.Trace(u"Tray icon cannot be added yet; trying again until it can");
    tray_retry_wait_ = NextTrayRetry(tray_retry_wait_);
    tray_retrying_ = SetTimer(window_, kTrayRetryTimer, tray_retry_wait_, nullptr) != 0;
}

MonitorWindow::~MonitorWindow() {
    if (monitor_ != nullptr)
        monitor_->FormDestroy();
    monitor_.reset();
    tray_.reset();
    if (window_ != nullptr)
        DestroyWindow(window_);
    if (class_registered_)
        UnregisterClassW(ToWide(kMonitorWindowClass).c_str(), instance_);
}

LRESULT CALLBACK MonitorWindow::WindowProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MonitorWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->monitor_ == nullptr) {
        return DefWindowProcW(window, message, wparam, lparam);
    }
    return self->Handle(message, wparam, lparam);
}

LRESULT MonitorWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    TKORVANTH417MONMAIN& monitor = *monitor_;
    switch (message) {
        case UM_MONITOR_EVENT:  // the mouse's events as another program may still post them
            monitor.WMMonitorEvent(wparam, lparam);
            return 0;
        case UM_RELOAD_PROFILES:
            monitor.WMReloadProfiles(FoldQueued(UM_RELOAD_PROFILES, lparam));
            return 0;
        case UM_RELOAD_SETTINGS:
            FoldQueued(UM_RELOAD_SETTINGS, lparam);
            monitor.WMReloadSettings();
            platform_.title = monitor.Title();
            return 0;
        case kTrayCallbackMessage:
            TrayCallback(lparam);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wparam) == kTrayMenuConfig)
                monitor.Config1Click();
            if (LOWORD(wparam) == kTrayMenuExit)
                monitor.Exit1Click();
            return 0;
        case WM_TIMER:
            if (wparam == kTrayRetryTimer)
                ShowTrayIcon();
            return 0;
        case WM_CLOSE:  // asked to close from outside (an installer, a log-off): end the program
            tray_->Terminate();
            return 0;
        default:
            break;
    }
    if (message == taskbar_created_ && taskbar_created_ != 0) {
        // The shell (re)started: the icon comes back, and should the shell still be busy, the
        // retries start again from the shortest wait.
        tray_retry_wait_ = 0;
        ShowTrayIcon();
        return 0;
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

// Requests of this kind that are already queued behind this one are taken out of the queue: one
// reload gives the outcome of all of them (the last request's lParam is the one that counts),
// and a button press queued among them is handled after one reload instead of thousands.
LPARAM MonitorWindow::FoldQueued(UINT message, LPARAM lparam) const {
    MSG queued;
    while (PeekMessageW(&queued, window_, message, message, PM_REMOVE))
        lparam = queued.lParam;
    return lparam;
}

// A left click (pressed and released on the icon) runs Config; a right-button release opens
// the menu.
void MonitorWindow::TrayCallback(LPARAM mouse_message) {
    if (mouse_message == WM_LBUTTONUP)
        monitor_->TrayIconDblClick();
    if (mouse_message == WM_RBUTTONUP)
        tray_->PopupMenuAtCursor();
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace korv::win32
