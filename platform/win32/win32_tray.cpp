#include "platform/win32/win32_tray.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

constexpr UINT kIconId = 1;

bool IsFile(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// An icon of the system's small icon size, every pixel `colour` and opaque. Made from its bits
// (user32 alone), so that the monitor binds no drawing library at start.
UniqueIcon SolidIcon(COLORREF colour) {
    const int width = GetSystemMetrics(SM_CXSMICON), height = GetSystemMetrics(SM_CYSMICON);
    const std::uint32_t pixel =
        0xFF000000u | GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
    const std::vector<std::uint32_t> colours(static_cast<std::size_t>(width) * height, pixel);
    // The mask: rows of whole 16-bit words, every bit clear (the picture covers its place).
    const std::vector<BYTE> mask(static_cast<std::size_t>((width + 15) / 16 * 2) * height, 0);
    return UniqueIcon(CreateIcon(nullptr, width, height, 1, 32, mask.data(),
                                 reinterpret_cast<const BYTE*>(colours.data())));
}

}  // namespace

// The About item exists for the translation only and is never shown, so the menu holds Config
// and Exit.
Win32Tray::Win32Tray(HWND window, UINT callback_message, HICON program_icon,
                     std::u16string program_folder, const DebugOutput& debug)
    : window_(window),
      callback_message_(callback_message),
      program_folder_(std::move(program_folder)),
      debug_(debug),
      icon_(program_icon),
      menu_(CreatePopupMenu()) {
    AppendMenuW(menu_, MF_STRING, kTrayMenuConfig, L"Config");
    AppendMenuW(menu_, MF_STRING, kTrayMenuExit, L"Exit");
}

Win32Tray::~Win32Tray() {
    if (shown_) {
        NOTIFYICONDATAW data = Data(0);
        Shell_NotifyIconW(NIM_DELETE, &data);
    }
    DestroyMenu(menu_);
    if (loaded_icon_ != nullptr)
        DestroyIcon(loaded_icon_);
}

NOTIFYICONDATAW Win32Tray::Data(UINT flags) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window_;
    data.uID = kIconId;
    data.uFlags = flags;
    data.uCallbackMessage = callback_message_;
    data.hIcon = icon_;
    const std::size_t length = std::min(hint_.size(), std::size(data.szTip) - 1);
    std::copy_n(hint_.begin(), length, data.szTip);
    return data;
}

// A shell refuses to add an icon it shows already: after a "TaskbarCreated" of a shell that kept
// its icons, or after an add that timed out on a busy shell but was done all the same. The icon
// is then changed instead and counts as shown, so that no retry follows.
bool Win32Tray::Show() {
    NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    shown_ =
        Shell_NotifyIconW(NIM_ADD, &data) != FALSE || Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    return shown_;
}

std::u16string Win32Tray::IconFile(TrayIconState state) const {
    const std::u16string_view file = state == TrayIconState::Muted
                                         ? u"\\images\\0409\\icons\\logo-muted.ico"
                                         : u"\\images\\0409\\icons\\logo.ico";
    return program_folder_ + std::u16string(file);
}

// A missing file keeps the icon shown so far without a word: an installation may leave the
// pictures out.
void Win32Tray::SetIcon(TrayIconState state) {
    const std::u16string path = IconFile(state);
    if (IsFile(path) && !LoadIconFile(path))
        debug_.Trace(u"Tray icon file " + path + u" is not an icon");
}

// Wine's own tray window (its X11 driver's, on a display without a notification area of the
// desktop) draws a changed icon over the old one without clearing it first, so the old picture
// stays wherever the new one is transparent. There the icon first becomes a square of the tray's
// background colour, which covers the old picture, and then the new icon: the place looks as if
// the new icon had been added. Elsewhere the shell clears the place itself.
void Win32Tray::ReplaceShownIcon() {
    NOTIFYICONDATAW data = Data(NIF_ICON);
    if (HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr)) {
        if (const UniqueIcon cover = SolidIcon(GetSysColor(COLOR_WINDOW)); cover.Valid()) {
            NOTIFYICONDATAW covering = data;
            covering.hIcon = cover.Get();
            Shell_NotifyIconW(NIM_MODIFY, &covering);
            // The cover is painted now, before the icon that follows replaces it.
            RedrawWindow(tray, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        }
    }
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

// The small icon size of the system: the file holds every size Windows asks for.
bool Win32Tray::LoadIconFile(const std::u16string& path) {
    const auto icon = static_cast<HICON>(
        LoadImageW(nullptr, ToWide(path).c_str(), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_LOADFROMFILE));
    if (icon == nullptr)
        return false;
    if (loaded_icon_ != nullptr)
        DestroyIcon(loaded_icon_);
    loaded_icon_ = icon_ = icon;
    if (shown_)
        ReplaceShownIcon();
    return true;
}

void Win32Tray::SetHint(std::u16string_view hint) {
    hint_ = ToWide(hint);
    NOTIFYICONDATAW data = Data(NIF_TIP);
    if (shown_)
        Shell_NotifyIconW(NIM_MODIFY, &data);
}

void Win32Tray::SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& captions) {
    ModifyMenuW(menu_, kTrayMenuConfig, MF_BYCOMMAND | MF_STRING, kTrayMenuConfig,
                ToWide(captions[0]).c_str());
    ModifyMenuW(menu_, kTrayMenuExit, MF_BYCOMMAND | MF_STRING, kTrayMenuExit,
                ToWide(captions[2]).c_str());
}

void Win32Tray::SetTitle(std::u16string_view title) {
    SetWindowTextW(window_, ToWide(title).c_str());
}

void Win32Tray::PopupMenuAtCursor() {
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(window_);
    TrackPopupMenu(menu_, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window_,
                   nullptr);
    // Lets the menu close when the user clicks elsewhere.
    PostMessageW(window_, WM_NULL, 0, 0);
}

}  // namespace korv::win32
