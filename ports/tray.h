#pragma once
// Port: the notification-area icon with its popup menu, and the application's title.
//
// Threads: the main thread, which owns the icon's window.

#include <array>
#include <string>
#include <string_view>

namespace korv {

// The popup menu's items by position: Config, About (never shown), Exit.
inline constexpr std::size_t kTrayMenuItems = 3;

class Tray {
  public:
    virtual ~Tray() = default;

    // Shows the icon file in the notification area; false (the program's own icon stays) when
    // the file is missing or not an icon.
    [[nodiscard]] virtual bool SetIconFromFile(std::u16string_view path) = 0;
    virtual void SetHint(std::u16string_view hint) = 0;
    virtual void SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& captions) = 0;
    // The application's title: the caption of its message boxes and of its hidden window.
    virtual void SetTitle(std::u16string_view title) = 0;
    // Ends the message loop: the program shuts down.
    virtual void Terminate() = 0;
};

}  // namespace korv
