#pragma once
// Port: the debugger output channel, where the monitor writes its trace lines.

#include <string_view>

namespace korv {

class DebugOutput {
  public:
    virtual ~DebugOutput() = default;

    virtual void Trace(std::u16string_view line) const = 0;
};

}  // namespace korv
