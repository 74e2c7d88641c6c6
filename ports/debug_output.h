#pragma once
// Port: the debugger output channel, where the monitor writes its trace lines.
//
// Threads: any thread (HID readers trace from their own threads); implementations must be
// safe for that.

#include <string_view>

namespace korv {

class DebugOutput {
  public:
    virtual ~DebugOutput() = default;

    virtual void Trace(std::u16string_view line) const = 0;
};

}  // namespace korv
