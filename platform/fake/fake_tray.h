#pragma once
// A tray that keeps what the monitor shows in it, for the core's tests.

#include <optional>
#include <string>

#include "ports/tray.h"

namespace korv::fake {

class FakeTray : public Tray {
  public:
    void SetIcon(TrayIconState state) override { icon = state; }
    void SetHint(std::u16string_view text) override { hint = text; }
    void SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& items) override {
        captions = items;
    }
    void SetTitle(std::u16string_view text) override { title = text; }
    void Terminate() override { ++terminated; }

    std::optional<TrayIconState> icon;  // nothing until the monitor chose one
    std::u16string hint;
    std::u16string title;
    std::array<std::u16string, kTrayMenuItems> captions;
    int terminated = 0;
};

}  // namespace korv::fake
