#pragma once
// A window system that records what is posted and sent, for the core's tests.

#include <map>
#include <string>
#include <vector>

#include "ports/window_system.h"

namespace korv::fake {

struct WindowMessage {
    WindowRef window;
    std::uint32_t message;
    std::uintptr_t wparam;
    std::intptr_t lparam;
    bool sent;  // sent (waiting for the receiver) rather than posted
    bool operator==(const WindowMessage&) const = default;
};

class FakeWindowSystem : public WindowSystem {
  public:
    WindowRef FindWindowByClass(std::u16string_view class_name) const override {
        const auto it = windows.find(std::u16string(class_name));
        return it == windows.end() ? 0 : it->second;
    }
    [[nodiscard]] bool Post(WindowRef window, std::uint32_t message, std::uintptr_t wparam,
                            std::intptr_t lparam) const override {
        messages.push_back({window, message, wparam, lparam, false});
        return window != 0;
    }
    [[nodiscard]] std::optional<std::intptr_t> Send(WindowRef window, std::uint32_t message,
                                                    std::uintptr_t wparam,
                                                    std::intptr_t lparam) const override {
        messages.push_back({window, message, wparam, lparam, true});
        return answers ? std::optional<std::intptr_t>(0) : std::nullopt;
    }
    void ShowAndBringForward(WindowRef window) const override { raised.push_back(window); }

    std::map<std::u16string, WindowRef> windows;  // class name -> window
    bool answers = true;                          // false: a sent message times out
    mutable std::vector<WindowMessage> messages;
    mutable std::vector<WindowRef> raised;
};

}  // namespace korv::fake
