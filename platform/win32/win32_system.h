#pragma once
// Small Windows backends: the clock, the shell's documents folder, the local application data
// folder and the debugger output.

#include "ports/clock.h"
#include "ports/debug_output.h"
#include "ports/shell.h"

namespace korv::win32 {

class Win32Clock : public Clock {
  public:
    double LocalDateTimeNow() const override;
};

class Win32Shell : public Shell {
  public:
    std::u16string DocumentsFolder() const override;
    [[nodiscard]] bool OpenFile(std::u16string_view file,
                                std::u16string_view folder) const override;
};

// The user's local application data folder (%LOCALAPPDATA%), without a final separator; empty
// when the system names none.
std::u16string LocalAppDataFolder();

class Win32DebugOutput : public DebugOutput {
  public:
    void Trace(std::u16string_view line) const override;
};

}  // namespace korv::win32
