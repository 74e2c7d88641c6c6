#pragma once
// Small fakes of the clock, the shell and the debugger output, for the core's tests.

#include <string>
#include <vector>

#include "ports/clock.h"
#include "ports/debug_output.h"
#include "ports/microphone.h"
#include "ports/shell.h"

namespace korv::fake {

// A clock that shows the time a test sets.
class FixedClock : public Clock {
  public:
    double LocalDateTimeNow() const override { return now; }
    double now = 46000.5;  // 2025-12-09 12:00
};

class FakeShell : public Shell {
  public:
    std::u16string DocumentsFolder() const override { return documents; }
    [[nodiscard]] bool OpenFile(std::u16string_view file,
                                std::u16string_view folder) const override {
        opened.push_back(std::u16string(folder) + std::u16string(file));
        return true;
    }
    std::u16string documents = u"C:\\users\\gamer\\Documents";
    mutable std::vector<std::u16string> opened;  // folder + file of every open
};

// Keeps the trace lines for a test to read.
class RecordingDebugOutput : public DebugOutput {
  public:
    void Trace(std::u16string_view line) const override { lines.emplace_back(line); }
    mutable std::vector<std::u16string> lines;
};

// Counts the toggles and keeps the state they lead to.
class FakeMicrophone : public Microphone {
  public:
    void Prepare() override { ++prepared; }
    void ToggleMute() override {
        ++toggles;
        muted = !muted;
    }
    [[nodiscard]] std::optional<bool> Muted() override {
        return readable ? std::optional(muted) : std::nullopt;
    }
    bool readable = true;
    int toggles = 0;
    int prepared = 0;
    bool muted = false;
};

}  // namespace korv::fake
