#pragma once
// The tray of a session without a panel item: the monitor keeps what it would show (the icon's
// state, the hint, the menu's captions and the title) so that other parts of the program (the
// D-Bus interface, a later panel item) can read it, and Terminate ends the main loop.
//
// Threads: the main thread.

#include <array>
#include <string>

#include "platform/linux/linux_main_loop.h"
#include "ports/tray.h"

namespace korv::os_linux {

class HeadlessTray final : public Tray {
  public:
    explicit HeadlessTray(LinuxMainLoop& loop) : loop_(loop) {}

    void SetIcon(TrayIconState state) override { icon_ = state; }
    void SetHint(std::u16string_view hint) override { hint_ = hint; }
    void SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& captions) override {
        captions_ = captions;
    }
    void SetTitle(std::u16string_view title) override { title_ = title; }
    // Ends the main loop once the running callback returns: the program shuts down.
    void Terminate() override { loop_.Quit(0); }

    TrayIconState Icon() const { return icon_; }
    const std::u16string& Hint() const { return hint_; }
    const std::array<std::u16string, kTrayMenuItems>& MenuCaptions() const { return captions_; }
    const std::u16string& Title() const { return title_; }

  private:
    LinuxMainLoop& loop_;
    TrayIconState icon_ = TrayIconState::Plain;
    std::u16string hint_;
    std::array<std::u16string, kTrayMenuItems> captions_;
    std::u16string title_;
};

}  // namespace korv::os_linux
