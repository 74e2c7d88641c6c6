#pragma once
// What a simulator's commands do to its mouse and what they answer, the same for every program
// that serves one: the buttons held down, the reports each command sends, the texts of the
// replies and of "status". The program gives the device (a Windows pipe, a Linux socket).
//
// Threads: one thread at a time, the one that serves the device.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "programs/mousesim/sim_protocol.h"

namespace korv::sim {

inline constexpr auto kClickHold = std::chrono::milliseconds(30);

// A command's outcome: whether it was done, and the text the program prints and replies.
struct Reply {
    bool done = true;
    std::wstring text;
};

// The mouse as the commands see it; each program serves it its own way.
class SimulatedMouse {
  public:
    virtual ~SimulatedMouse() = default;
    [[nodiscard]] virtual std::wstring Path() const = 0;
    [[nodiscard]] virtual bool Plugged() const = 0;
    [[nodiscard]] virtual std::size_t ClientCount() const = 0;
    // Creates the device and announces it; the reply says whether that worked.
    virtual Reply PlugIn() = 0;
    // Closes the device and every client's connection; how many clients were dropped.
    virtual std::size_t Unplug() = 0;
    // The report to every client; how many it reached.
    virtual std::size_t Send(const Report& report) = 0;
};

inline std::wstring Delivered(std::size_t reached) {
    if (reached == 0)
        return L" to 0 clients: is the monitor running and does its config.ini declare the "
               L"simulated mouse?";
    return L" to " + std::to_wstring(reached) + L" client(s)";
}

inline std::wstring ButtonsDown(std::uint32_t mask) {
    std::wstring text;
    for (int button = 0; button < kButtonCount; ++button) {
        if (mask & (1u << button))
            text += L" " + std::to_wstring(button);
    }
    return text.empty() ? L" none" : text;
}

// "0x" and at least six upper-case hexadecimal digits.
inline std::wstring MaskText(std::uint32_t mask) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring digits;
    for (std::uint32_t rest = mask; rest != 0 || digits.size() < 6; rest >>= 4)
        digits.insert(digits.begin(), kDigits[rest & 0xF]);
    return L"0x" + digits;
}

// Runs the commands on one mouse.
class MouseCommands {
  public:
    // `replug_command` is how the user plugs the mouse in again ("<program> replug"); `say` prints
    // a line of progress that is not the reply.
    MouseCommands(SimulatedMouse& mouse, std::wstring replug_command,
                  std::function<void(std::wstring_view)> say)
        : mouse_(mouse), replug_command_(std::move(replug_command)), say_(std::move(say)) {}

    Reply Execute(const Command& command) {
        if (SendsReport(command.verb) && !mouse_.Plugged())
            return {false,
                    L"the mouse is unplugged, nothing sent; plug it in with: " + replug_command_};
        const std::uint32_t bit = 1u << command.button;
        const std::wstring button = L"button " + std::to_wstring(command.button);
        switch (command.verb) {
            case Verb::kPress:
                mask_ |= bit;
                return Send(button + L" pressed", KeyReport(mask_));
            case Verb::kRelease:
                mask_ &= ~bit;
                return Send(button + L" released", KeyReport(mask_));
            case Verb::kClick:
                return Click(command.button);
            case Verb::kProfile:
                return Send(L"profile " + std::to_wstring(command.value),
                            EventReport(command.kind, command.value));
            case Verb::kEvent:
                return Send(L"event kind " + std::to_wstring(command.kind) + L" value " +
                                std::to_wstring(command.value),
                            EventReport(command.kind, command.value));
            case Verb::kReport:
                return Send(L"report of " + std::to_wstring(command.bytes.size()) + L" byte(s)",
                            command.bytes);
            case Verb::kUnplug:
                return Unplug();
            case Verb::kReplug:
                return Replug();
            case Verb::kStatus:
                return {true, Status()};
            case Verb::kQuit:
                quitting_ = true;
                return {true, L"quitting"};
        }
        return {false, L"unknown command"};
    }

    // The reply to one line as typed, or a refusal when it is not a command.
    Reply ExecuteLine(const std::wstring& line) {
        const auto command = ParseCommand(SplitWords(line));
        return command ? Execute(*command) : Reply{false, L"not a command: " + line};
    }

    Reply Unplug() {
        if (!mouse_.Plugged())
            return {true, L"already unplugged: " + mouse_.Path()};
        mask_ = 0;  // a mouse plugged in again holds no buttons down
        const std::size_t dropped = mouse_.Unplug();
        return {true, L"unplugged: " + mouse_.Path() + L" (" + std::to_wstring(dropped) +
                          L" client(s) dropped)"};
    }

    std::wstring Status() const {
        if (!mouse_.Plugged())
            return L"unplugged: " + mouse_.Path();
        return L"plugged in: " + mouse_.Path() + L"; " + std::to_wstring(mouse_.ClientCount()) +
               L" client(s) connected; buttons down:" + ButtonsDown(mask_) + L" (mask " +
               MaskText(mask_) + L")";
    }

    // Whether "quit" was asked for.
    [[nodiscard]] bool Quitting() const { return quitting_; }

  private:
    Reply Send(const std::wstring& what, const Report& report) {
        const std::size_t reached = mouse_.Send(report);
        return {true, what + L": sent " + Hex(report) + Delivered(reached)};
    }

    Reply Click(int button) {
        mask_ |= 1u << button;
        const Report down = KeyReport(mask_);
        mouse_.Send(down);
        std::this_thread::sleep_for(kClickHold);
        mask_ &= ~(1u << button);
        const Report up = KeyReport(mask_);
        return {true, L"button " + std::to_wstring(button) + L" clicked: sent " + Hex(down) +
                          L" then " + Hex(up) + Delivered(mouse_.Send(up))};
    }

    Reply Replug() {
        if (mouse_.Plugged())
            say_(Unplug().text);
        return mouse_.PlugIn();
    }

    SimulatedMouse& mouse_;
    const std::wstring replug_command_;
    const std::function<void(std::wstring_view)> say_;
    std::uint32_t mask_ = 0;
    bool quitting_ = false;
};

}  // namespace korv::sim
