#pragma once
// Message boxes of a session without a notification service: the box's caption and text become
// one trace line, so that what a user must see is at least in the monitor's log, and the program
// goes on at once as if the box had been closed.
//
// Threads: the main thread.

#include <string>

#include "ports/debug_output.h"
#include "ports/message_box.h"

namespace korv::os_linux {

class TraceMessageBoxes final : public MessageBoxes {
  public:
    explicit TraceMessageBoxes(const DebugOutput& debug) : debug_(debug) {}

    void ShowError(std::u16string_view text, std::u16string_view caption) override {
        debug_.Trace(std::u16string(caption) + u": " + std::u16string(text));
    }

  private:
    const DebugOutput& debug_;
};

}  // namespace korv::os_linux
