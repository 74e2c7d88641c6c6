#pragma once
// A tray that keeps what the monitor shows in it, for the core's tests.

#include <string>

#include "ports/tray.h"

namespace korv::fake {

class FakeTray : public Tray {
  public:
    [[nodiscard]] bool SetIconFromFile(std::u16string_view path) override {
        icon_file = path;
        return true;
    }
    void SetHint(std::u16string_view text) override { hint = text; }
    void SetMenuCaptions(const std::array<std::u16string, kTrayMenuItems>& items) override {
        captions = items;
    }
    void SetTitle(std::u16string_view text) override { title = text; }
    void Terminate() override { ++terminated; }

    std::u16string icon_file;
    std::u16string hint;
    std::u16string title;
    std::array<std::u16string, kTrayMenuItems> captions;
    int terminated = 0;
};

}  // namespace korv::fake
