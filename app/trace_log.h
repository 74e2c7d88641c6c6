#pragma once
// The monitor's log file: every trace line, with the local time it was written, in a file a user
// can read while the monitor runs. The file is bounded: when the next line would take it past
// its largest size, it becomes the older generation ("monitor.log.1", replacing the one before)
// and a new file begins, so the two never hold much more than twice that size together. Several
// monitors may write into the one file (a second start says "already running" before it ends):
// the size is the file's own, and a file that another one has already made the older generation
// is left to be, its writer going on in the new file. A file
// that cannot be written costs the monitor nothing: the line still reaches the debugger output,
// one line there says the log failed, and the next line tries again.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "ports/appending_files.h"
#include "ports/clock.h"
#include "ports/debug_output.h"
#include "ports/file_system.h"

namespace korv {

class SettingsFile;

inline constexpr std::u16string_view kLogFileName = u"monitor.log";
// The older generation's name is the file's with this added.
inline constexpr std::u16string_view kOlderLogSuffix = u".1";
inline constexpr std::uint64_t kMaxLogFileSize = 1024 * 1024;
// After a failed turn (a reader holds the file without letting it be renamed), the next try
// waits until this much more was written or this much time went by: each line meanwhile is
// only appended.
inline constexpr std::uint64_t kRenameRetryBytes = 64 * 1024;
inline constexpr std::int64_t kRenameRetryMilliseconds = 5000;

// "2026-12-11 09:30:01.123": a TDateTime to the millisecond, as each line of the log begins.
[[nodiscard]] std::u16string LogTimeStamp(double date_time);

// One log file and its older generation.
//
// Threads: one thread at a time (LoggedDebugOutput serialises its callers).
class TraceLog {
  public:
    struct Ports {
        const FileSystem& files;
        const AppendingFiles& appending;
        const Clock& clock;
    };
    struct Place {
        std::u16string folder;  // created when missing; its parent must exist
        std::u16string line_end = u"\r\n";
        std::uint64_t max_size = kMaxLogFileSize;
    };

    TraceLog(const Ports& ports, Place place);

    // Adds "TIME-STAMP LINE" and the line end, first making the file the older generation when
    // the line would take it past the largest size (a line alone larger than that is still
    // written whole, into a file of its own). False when the line could not be written.
    [[nodiscard]] bool Write(std::u16string_view line);
    const std::u16string& Path() const { return path_; }
    std::u16string OlderPath() const { return path_ + std::u16string(kOlderLogSuffix); }

  private:
    struct FailedRename {
        double date_time;    // by the clock port
        std::uint64_t size;  // of the file then
    };

    [[nodiscard]] bool Open();
    [[nodiscard]] bool WouldPassBound(std::uint64_t line_size) const;
    // Makes the open file the older generation, unless another program did so already (then
    // the file that has the name now is opened) or a failed try is too recent.
    void MakeRoomFor(std::uint64_t line_size);
    [[nodiscard]] bool RenameMayBeTried() const;
    // The current file becomes the older generation; if the rename fails (another program
    // holds one of the files), the lines go on into the current file and a later line tries
    // again.
    void StartNewGeneration();

    Ports ports_;
    Place place_;
    std::u16string path_;
    std::unique_ptr<AppendingFile> file_;        // nothing until opened, and after a failed write
    std::optional<FailedRename> rename_failed_;  // since the last turn that worked
};

// The debugger output channel and, once a log is started, the log file: each trace line goes to
// both.
//
// Threads: any thread; the lines of several threads reach the file one at a time, each whole.
class LoggedDebugOutput : public DebugOutput {
  public:
    explicit LoggedDebugOutput(const DebugOutput& channel) : channel_(channel) {}

    void StartLog(std::unique_ptr<TraceLog> log);
    void Trace(std::u16string_view line) const override;

  private:
    const DebugOutput& channel_;
    mutable std::mutex mutex_;
    std::unique_ptr<TraceLog> log_;  // guarded by mutex_
    mutable bool failing_ = false;   // guarded by mutex_: the last write failed and was told
};

// The monitor's log in `folder`, or nothing when the settings file turns it off.
[[nodiscard]] std::unique_ptr<TraceLog> MonitorTraceLog(const SettingsFile& settings,
                                                        const TraceLog::Ports& ports,
                                                        TraceLog::Place place);

}  // namespace korv
