#include "programs/cfgstandin/config_window.h"

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/settings_file.h"
#include "base/decimal_text.h"
#include "platform/win32/peer_messages.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/cfgstandin/config_window_ids.h"
#include "programs/cfgstandin/function_names.h"
#include "programs/cfgstandin/mic_state_setting.h"
#include "programs/cfgstandin/win32_command.h"

namespace korv::win32 {
namespace {

// Posted to itself on a profile switch, so that the monitor's sent 7040 returns at once and
// the reload request that follows does not meet a monitor still waiting for the answer.
constexpr UINT kProfileSwitchedLater = WM_APP + 1;

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

// Layout at 96 dpi, in pixels of the client area.
constexpr int kMargin = 12;
constexpr int kLabelWidth = 104;
constexpr int kComboWidth = 168;
constexpr int kRowHeight = 30;
constexpr int kColumn2 = 312;
constexpr int kButtonLabelWidth = 56;
constexpr int kClientWidth = kColumn2 + kLabelWidth + kComboWidth + kMargin;
constexpr int kButtonsTop = 3 * kRowHeight + kMargin + 8;
constexpr int kLogTop = kButtonsTop + 6 * kRowHeight + 30;
constexpr int kClientHeight = kLogTop + 170;
constexpr int kDropHeight = 320;  // a combo box's height with its list open

class ConfigWindow {
  public:
    ConfigWindow(HINSTANCE instance, const std::wstring& log_path)
        : instance_(instance), log_file_(log_path) {}
    ConfigWindow(const ConfigWindow&) = delete;
    ConfigWindow& operator=(const ConfigWindow&) = delete;

    [[nodiscard]] bool Create(bool hidden);
    void Log(const std::wstring& line);

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    bool LogPrivateMessage(UINT message, WPARAM wparam, LPARAM lparam);

    HWND Add(const wchar_t* kind, const std::wstring& text, DWORD style, RECT place, int id);
    void Label(const std::wstring& text, int x, int y, int width);
    HWND Combo(int id, int x, int y, int width, const std::vector<std::wstring>& items);
    void CreateControls();
    void Layout(int width, int height);

    void Refresh();
    void Select(int id, int index);
    [[nodiscard]] int Selected(int id) const;
    void OnCommand(int id, int code);
    void Carry(const StandInCommand& command);
    void ProfileSwitched(WPARAM slot);
    void SetMicrophoneState(bool shown);
    std::u16string SettingsPath() const { return SettingsFile::InstalledPath(platform_.files); }

    HINSTANCE instance_;
    LogFile log_file_;
    Win32Platform platform_;
    HWND window_ = nullptr;
    HWND log_view_ = nullptr;
    HFONT font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));  // stock: not freed
    std::int32_t edited_profile_ = -1;  // whose buttons show; -1 until the first refresh
    std::map<int, int> shown_;          // each combo box's entry as the records have it
};

std::vector<std::wstring> Numbered(const wchar_t* what, int count) {
    std::vector<std::wstring> items;
    for (int i = 0; i < count; ++i)
        items.push_back(std::wstring(what) + L" " + std::to_wstring(i));
    return items;
}

std::vector<std::wstring> FunctionItems() {
    std::vector<std::wstring> items;
    for (int code = 0; code < kFunctionCodeCount; ++code)
        items.push_back(std::to_wstring(code) + L"  " + ToWide(FunctionName(code)));
    return items;
}

HWND ConfigWindow::Add(const wchar_t* kind, const std::wstring& text, DWORD style, RECT place,
                       int id) {
    HWND control =
        CreateWindowExW(0, kind, text.c_str(), WS_CHILD | WS_VISIBLE | style, place.left, place.top,
                        place.right, place.bottom, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
}

void ConfigWindow::Label(const std::wstring& text, int x, int y, int width) {
    Add(L"STATIC", text, SS_LEFT, {x, y + 4, width, 20}, -1);
}

HWND ConfigWindow::Combo(int id, int x, int y, int width, const std::vector<std::wstring>& items) {
    HWND combo = Add(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                     {x, y, width, kDropHeight}, id);
    for (const std::wstring& item : items)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    return combo;
}

void ConfigWindow::CreateControls() {
    const int combo_x = kMargin + kLabelWidth;
    const int combo2_x = kColumn2 + kLabelWidth;
    int y = kMargin;
    Label(L"Profile group", kMargin, y, kLabelWidth);
    Combo(kGroupControl, combo_x, y, kComboWidth, Numbered(L"Group", kProfileGroupCount));
    Label(L"Current profile", kColumn2, y, kLabelWidth);
    Combo(kProfileControl, combo2_x, y, kComboWidth, Numbered(L"Profile", kProfileCount));
    y += kRowHeight;
    std::vector<std::wstring> languages;
    for (const std::u16string& code : LanguageCodes({platform_.locale, platform_.files}))
        languages.push_back(ToWide(code));
    Label(L"Language", kMargin, y, kLabelWidth);
    Combo(kLanguageControl, combo_x, y, kComboWidth, languages);
    Add(L"BUTTON", L"Microphone state on the tray icon", BS_AUTOCHECKBOX | WS_TABSTOP,
        {kColumn2, y + 2, kLabelWidth + kComboWidth, 22}, kMicrophoneStateControl);
    y += kRowHeight + 8;
    Label(L"Buttons of", kMargin, y, kLabelWidth);
    Combo(kEditedProfileControl, combo_x, y, kComboWidth, Numbered(L"Profile", kProfileCount));
    const std::vector<std::wstring> functions = FunctionItems();
    for (int button = 0; button < kMaxProfileButtons; ++button) {
        const int x = button < 6 ? kMargin : kColumn2;
        const int row_y = kButtonsTop + (button % 6) * kRowHeight;
        Label(L"Button " + std::to_wstring(button), x, row_y, kButtonLabelWidth);
        Combo(kFirstButtonControl + button, x + kButtonLabelWidth, row_y,
              kLabelWidth + kComboWidth - kButtonLabelWidth, functions);
    }
    Label(L"Messages from the monitor, and what this window did", kMargin, kLogTop - 24, 400);
    log_view_ =
        Add(L"EDIT", L"", WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
            {kMargin, kLogTop, kClientWidth - 2 * kMargin, kClientHeight - kLogTop - kMargin},
            kLogControl);
    SendMessageW(log_view_, EM_SETLIMITTEXT, 0, 0);
}

// The log pane takes what the window's size leaves below the settings.
void ConfigWindow::Layout(int width, int height) {
    if (log_view_ != nullptr)
        MoveWindow(log_view_, kMargin, kLogTop, std::max(width - 2 * kMargin, 100),
                   std::max(height - kLogTop - kMargin, 60), TRUE);
}

bool ConfigWindow::Create(bool hidden) {
    const std::wstring class_name = ToWide(kConfigWindowClass);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = Proc;
    window_class.hInstance = instance_;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = class_name.c_str();
    if (!RegisterClassW(&window_class))
        return false;
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    window_ = CreateWindowExW(0, class_name.c_str(), L"KORVANTH417 configuration (stand-in)", style,
                              120, 24, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                              nullptr, instance_, this);
    if (window_ == nullptr)
        return false;
    CreateControls();
    Refresh();
    Log(L"Waiting for messages from the monitor.");
    ShowWindow(window_, hidden ? SW_HIDE : SW_SHOWNORMAL);
    return true;
}

// One line, to the pane and to the log file.
void ConfigWindow::Log(const std::wstring& line) {
    if (log_view_ != nullptr) {
        const int end = GetWindowTextLengthW(log_view_);
        SendMessageW(log_view_, EM_SETSEL, end, end);
        SendMessageW(log_view_, EM_REPLACESEL, FALSE,
                     reinterpret_cast<LPARAM>((line + L"\r\n").c_str()));
    }
    log_file_.Write(line);
}

// Every message another program sends or posts: the suite's own by name, any other private
// message by number.
bool ConfigWindow::LogPrivateMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    const wchar_t* name = MessageName(message);
    if (name == nullptr && (message < WM_USER || message > 0xBFFF))
        return false;
    Log(std::to_wstring(message) + L" " +
        (name != nullptr ? name : L"(not a message of the suite)") + L" wParam=" +
        std::to_wstring(wparam) + L" lParam=" + std::to_wstring(lparam));
    return true;
}

void ConfigWindow::Select(int id, int index) {
    SendDlgItemMessageW(window_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    shown_[id] = index;
}

int ConfigWindow::Selected(int id) const {
    return static_cast<int>(SendDlgItemMessageW(window_, id, CB_GETCURSEL, 0, 0));
}

// Shows what the records hold now (the monitor and the command line change them too). A
// function code outside the table shows as no selection.
void ConfigWindow::Refresh() {
    const auto dm = LoadDataModule(platform_.DataPorts(), platform_.settings);
    const CurrentProfile current = FindCurrentProfile(*dm);
    if (edited_profile_ < 0)
        edited_profile_ = current.profile;
    Select(kGroupControl, current.group);
    Select(kProfileControl, current.profile);
    Select(kLanguageControl, dm->FAllProfileSettingInfo.CurrentLanguage);
    Select(kEditedProfileControl, edited_profile_);
    const std::vector<std::int32_t> codes = ButtonFunctions(*dm, edited_profile_);
    for (std::size_t button = 0; button < codes.size(); ++button)
        Select(kFirstButtonControl + static_cast<int>(button), codes[button]);
    const std::optional<bool> shown =
        ReadMicrophoneStateShown(SettingsPath(), platform_.files, platform_.locale);
    CheckDlgButton(window_, kMicrophoneStateControl,
                   shown.value_or(true) ? BST_CHECKED : BST_UNCHECKED);
}

void ConfigWindow::Carry(const StandInCommand& command) {
    Log(CarryCommand(command, platform_).line);
    Refresh();
}

// The mouse switched profile: that profile becomes the current one and its buttons show.
void ConfigWindow::ProfileSwitched(WPARAM slot) {
    const std::optional<StandInCommand> command = ProfileSwitchedCommand(slot);
    if (!command) {
        Log(L"profile " + std::to_wstring(slot) + L" is not 0-4: nothing switched");
        return;
    }
    edited_profile_ = command->profile;
    Carry(*command);
}

void ConfigWindow::SetMicrophoneState(bool shown) {
    Log(ToWide(WriteMicrophoneStateShown(SettingsPath(), platform_.files, shown)));
    Refresh();
}

void ConfigWindow::OnCommand(int id, int code) {
    using Kind = StandInCommand::Kind;
    if (id == kMicrophoneStateControl && code == BN_CLICKED) {
        SetMicrophoneState(IsDlgButtonChecked(window_, id) == BST_CHECKED);
        return;
    }
    if (code != CBN_SELENDOK && code != CBN_SELCHANGE)
        return;  // the combo boxes' other notices, and the log pane's
    // A choice counts once made: a change of selection while the list is open (the arrow keys
    // walk through it) waits for the list to close on an entry.
    if (code == CBN_SELCHANGE && SendDlgItemMessageW(window_, id, CB_GETDROPPEDSTATE, 0, 0))
        return;
    // Closing a list may tell of the one choice twice; the records have it after the first.
    const int chosen = Selected(id);
    if (chosen < 0 || chosen == shown_[id])
        return;
    switch (id) {
        case kGroupControl:
            edited_profile_ = -1;  // the group's profile shows
            return Carry({Kind::SetGroup, 0, 0, chosen, {}});
        case kProfileControl:
            edited_profile_ = chosen;
            return Carry({Kind::SetProfile, chosen, 0, 0, {}});
        case kLanguageControl:
            return Carry({Kind::SetLanguage, 0, 0, 0, DecimalText(chosen)});
        case kEditedProfileControl:
            edited_profile_ = chosen;
            return Refresh();
        default:
            break;
    }
    const int button = id - kFirstButtonControl;
    if (button >= 0 && button < kMaxProfileButtons)
        Carry({Kind::SetButton, edited_profile_, button, chosen, {}});
}

LRESULT ConfigWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kProfileSwitchedLater) {
        ProfileSwitched(wparam);
        return 0;
    }
    if (LogPrivateMessage(message, wparam, lparam)) {
        if (message == UM_PROFILE_SWITCHED)
            PostMessageW(window_, kProfileSwitchedLater, wparam, 0);
        return 0;  // a sent UM_PROFILE_SWITCHED is answered at once
    }
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case WM_ACTIVATE:
            // The monitor's Config raises a running configuration program.
            if (LOWORD(wparam) != WA_INACTIVE) {
                Log(L"brought to the front");
                Refresh();
            }
            return DefWindowProcW(window_, message, wparam, lparam);
        case WM_SIZE:
            Layout(LOWORD(lparam), HIWORD(lparam));
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window_, message, wparam, lparam);
    }
}

LRESULT CALLBACK ConfigWindow::Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<ConfigWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<ConfigWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wparam, lparam);
    return self->Handle(message, wparam, lparam);
}

}  // namespace

int RunConfigWindow(HINSTANCE instance, bool hidden, const std::wstring& log_path) {
    auto window = std::make_unique<ConfigWindow>(instance, log_path);
    if (!window->Create(hidden))
        return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace korv::win32
