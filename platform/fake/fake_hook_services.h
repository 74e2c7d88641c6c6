#pragma once
// Fakes of the message box and the keyboard state, for the hook component's tests.

#include <set>
#include <string>
#include <vector>

#include "ports/keyboard_state.h"
#include "ports/message_box.h"

namespace korv::fake {

// Keeps every message box shown instead of showing it.
class RecordingMessageBoxes : public MessageBoxes {
  public:
    struct Shown {
        std::u16string text;
        std::u16string caption;
    };
    void ShowError(std::u16string_view text, std::u16string_view caption) override {
        shown.push_back({std::u16string(text), std::u16string(caption)});
    }
    std::vector<Shown> shown;
};

// The keys a test holds down.
class FakeKeyboardState : public KeyboardState {
  public:
    [[nodiscard]] bool IsKeyDown(std::uint8_t virtual_key) const override {
        return held.contains(virtual_key);
    }
    std::set<std::uint8_t> held;
};

}  // namespace korv::fake
