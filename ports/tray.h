#pragma once
// Port: the notification-area icon with its popup menu, and the application's title.
//
// Threads: the main thread, which owns the icon's window.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace korv {

// The popup menu's items by position: Config, About (never shown), Exit.
inline constexpr std::size_t kTrayMenuItems = 3;

// What the icon stands for; the backend knows the picture of each.
enum class TrayIconState : std::uint8_t {
    Plain,  // the program
    Muted,  // the program while the microphone is muted
};

class Tray {
  public:
    virtual ~Tray() = default;

    // Shows the picture of the state. When the platform has none for it (its file is missing or
    // holds no icon), the icon shown so far stays: at first the program's own.
    virtual void SetIcon(TrayIconState state) = 0;
    virtual void SetHint(std::u16string_view hint) = 0;
    virtual void SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& captions) = 0;
    // The application's title: the caption of its message boxes and of its hidden window.
    virtual void SetTitle(std::u16string_view title) = 0;
    // Ends the message loop: the program shuts down.
    virtual void Terminate() = 0;
};

}  // namespace korv
