#pragma once
// Port: the window system, as far as the monitor talks to windows of other programs and posts
// to its own: finding a top-level window by class, posting, sending, raising a window.
//
// Threads: any thread for FindWindowByClass, Post and Send; ShowAndBringForward on the main
// thread.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace korv {

// A top-level window; 0 is no window.
using WindowRef = std::uintptr_t;

// The longest a sent message may wait for another program's answer.
inline constexpr std::chrono::milliseconds kSendTimeout{1000};

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;

    // The top-level window of that class (any title), or 0.
    virtual WindowRef FindWindowByClass(std::u16string_view class_name) const = 0;

    // Queues the message and returns at once.
    [[nodiscard]] virtual bool Post(WindowRef window, std::uint32_t message, std::uintptr_t wparam,
                                    std::intptr_t lparam) const = 0;

    // Delivers the message and waits until the receiver has handled it, but never longer than
    // kSendTimeout and not at all for a receiver that hangs: the caller's thread keeps handling
    // its own work whatever the other program does. The receiver's result, or nothing when it
    // did not answer in time (or there is no such window).
    [[nodiscard]] virtual std::optional<std::intptr_t> Send(WindowRef window, std::uint32_t message,
                                                            std::uintptr_t wparam,
                                                            std::intptr_t lparam) const = 0;

    // Shows the window in its current size and position state (a minimised window stays
    // minimised) and makes it the foreground window.
    virtual void ShowAndBringForward(WindowRef window) const = 0;
};

}  // namespace korv
