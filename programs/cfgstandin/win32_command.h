#pragma once
// Carrying out one stand-in command on Windows, the same way for the command line and for the
// window: the records are edited through a data module loaded for the command, then the running
// monitor is asked to reload with 7035 or 7037, and the outcome is told in one line.
//
// Threads: the stand-in's main thread.

#include <string>

#include "platform/win32/unique_handle.h"
#include "programs/cfgstandin/standin_commands.h"
#include "programs/common/win32_platform.h"

namespace korv::win32 {

inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitNoMonitor = 2;
inline constexpr int kExitNotStored = 3;
inline constexpr int kExitNoAnswer = 4;

struct CommandOutcome {
    int exit_code;
    std::wstring line;  // what was done, or why not
};

// The log file named after /log: UTF-8 lines appended and written through at once, so that a
// reader sees each while the program runs. Without a name it writes nothing.
class LogFile {
  public:
    explicit LogFile(const std::wstring& path);
    void Write(const std::wstring& line) const;

  private:
    UniqueHandle file_;
};

std::string Utf8(const std::wstring& text);

// Edits the records and asks the monitor to reload. A command that only reads (show,
// functions) answers with its listing.
[[nodiscard]] CommandOutcome CarryCommand(StandInCommand command, Win32Platform& platform);

}  // namespace korv::win32
