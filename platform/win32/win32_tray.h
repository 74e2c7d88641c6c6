#pragma once
// The notification-area icon of a window, with its popup menu, and the application's title
// (the caption of the window). The owning window forwards the icon's callback message, the
// menu's commands and the shell's "TaskbarCreated" message. The pictures of the icon's states are
// icon files below the program's folder: images\0409\icons\logo.ico and logo-muted.ico.
//
// Threads: the thread of the owning window only (the main thread), where its menu opens.

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <array>
#include <string>

#include "ports/debug_output.h"
#include "ports/tray.h"

namespace korv::win32 {

// Menu command identifiers: the item's position plus one.
inline constexpr UINT kTrayMenuConfig = 1;
inline constexpr UINT kTrayMenuAbout = 2;
inline constexpr UINT kTrayMenuExit = 3;

class Win32Tray : public Tray {
  public:
    // `callback_message` is sent to `window` for mouse actions on the icon. `program_folder` (as
    // the file system gives it, ending with a backslash) holds the icon files; an icon file that
    // is there but holds no icon is traced to `debug`.
    Win32Tray(HWND window, UINT callback_message, HICON program_icon, std::u16string program_folder,
              const DebugOutput& debug);
    ~Win32Tray() override;
    Win32Tray(const Win32Tray&) = delete;
    Win32Tray& operator=(const Win32Tray&) = delete;

    void SetIcon(TrayIconState state) override;
    void SetHint(std::u16string_view hint) override;
    void SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& captions) override;
    void SetTitle(std::u16string_view title) override;
    void Terminate() override { PostQuitMessage(0); }

    // Puts the icon into the notification area, again after the shell restarted; an icon the
    // shell still shows is brought up to date instead. False while there is no notification area.
    [[nodiscard]] bool Show();
    // Brings the program to the foreground and opens the menu at the cursor; the chosen item
    // arrives at the window as WM_COMMAND.
    void PopupMenuAtCursor();

    // The icon's file for a state: the folder followed by "\images\0409\icons\..." (so the path
    // holds two backslashes there, which the file system accepts).
    std::u16string IconFile(TrayIconState state) const;
    HICON Icon() const { return icon_; }
    HMENU Menu() const { return menu_; }
    const std::wstring& Hint() const { return hint_; }
    bool Shown() const { return shown_; }

  private:
    NOTIFYICONDATAW Data(UINT flags) const;
    [[nodiscard]] bool LoadIconFile(const std::u16string& path);
    // Shows icon_ in place of the icon shown.
    void ReplaceShownIcon();

    HWND window_;
    UINT callback_message_;
    std::u16string program_folder_;
    const DebugOutput& debug_;
    HICON icon_;
    HICON loaded_icon_ = nullptr;  // owned: loaded from the icon file
    HMENU menu_;
    std::wstring hint_;
    bool shown_ = false;
};

}  // namespace korv::win32
