#pragma once
// The monitor's log file: every trace line, with the local time it was written, in a file a user
// can read while the monitor runs. The file is bounded: when the next line would take it past
// its largest size, it becomes the older generation ("monitor.log.1", replacing the one before)
// and a new file begins, so the two never hold much more than twice that size together. A file
// that cannot be written costs the monitor nothing: the line still reaches the debugger output,
// one line there says the log failed, and the next line tries again.

#include <cstdint>
#include <memory>
#include <mutex>
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
    [[nodiscard]] bool Open();
    // The current file becomes the older generation; if the rename fails (another program
    // holds the older file), the lines go on into the current file and the next line tries
    // again.
    void StartNewGeneration();

    Ports ports_;
    Place place_;
    std::u16string path_;
    std::unique_ptr<AppendingFile> file_;  // nothing until opened, and after a failed write
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
