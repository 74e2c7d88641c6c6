#include "app/trace_log.h"

#include <chrono>
#include <cmath>
#include <utility>

#include "app/settings_file.h"
#include "base/utf8_length.h"

namespace korv {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 24 * 60 * 60 * 1000;

// `value` in decimal, with leading zeros to `width` digits.
std::u16string Digits(std::int64_t value, std::size_t width) {
    std::u16string text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value > 0);
    if (text.size() < width)
        text.insert(0, width - text.size(), u'0');
    return text;
}

}  // namespace

std::u16string LogTimeStamp(double date_time) {
    using namespace std::chrono;
    // Rounded as a whole, so that 23:59:59.9996 becomes midnight of the next day. A clock before
    // 1899-12-30 (or not a number) shows as that day.
    const double milliseconds = date_time * static_cast<double>(kMillisecondsPerDay);
    const std::int64_t total =
        std::isfinite(milliseconds) && milliseconds > 0 ? std::llround(milliseconds) : 0;
    const year_month_day date{sys_days{year{1899} / December / 30} +
                              days{total / kMillisecondsPerDay}};
    const std::int64_t of_day = total % kMillisecondsPerDay;
    return Digits(static_cast<int>(date.year()), 4) + u'-' +
           Digits(static_cast<unsigned>(date.month()), 2) + u'-' +
           Digits(static_cast<unsigned>(date.day()), 2) + u' ' + Digits(of_day / 3600000, 2) +
           u':' + Digits(of_day / 60000 % 60, 2) + u':' + Digits(of_day / 1000 % 60, 2) + u'.' +
           Digits(of_day % 1000, 3);
}

TraceLog::TraceLog(const Ports& ports, Place place)
    : ports_(ports),
      place_(std::move(place)),
      path_(ports_.files.PathInFolder(place_.folder, kLogFileName)) {}

bool TraceLog::Open() {
    if (!ports_.files.CreateFolder(place_.folder))
        return false;
    file_ = ports_.appending.OpenForAppending(path_);
    return file_ != nullptr;
}

bool TraceLog::WouldPassBound(std::uint64_t line_size) const {
    const std::uint64_t size = file_->Size();
    return size > 0 && size + line_size > place_.max_size;
}

bool TraceLog::RenameMayBeTried() const {
    if (!rename_failed_)
        return true;
    if (file_->Size() >= rename_failed_->size + kRenameRetryBytes)
        return true;
    // Whole milliseconds, so that the sum of a time and its seconds counts them all; a clock set
    // back (or not a number) counts as time gone by.
    const double elapsed = (ports_.clock.LocalDateTimeNow() - rename_failed_->date_time) *
                           static_cast<double>(kMillisecondsPerDay);
    return !(std::isfinite(elapsed) && elapsed >= 0 &&
             std::llround(elapsed) < kRenameRetryMilliseconds);
}

void TraceLog::MakeRoomFor(std::uint64_t line_size) {
    // Another monitor (a second start, about to end) may have begun the new generation already:
    // this file is then the older one under its new name, and renaming the file that has the
    // name now would put the small new file over it. The lines go on in the new file instead.
    if (!file_->IsNamedBy(path_)) {
        file_.reset();
        if (!Open() || !WouldPassBound(line_size))
            return;
    }
    if (RenameMayBeTried())
        StartNewGeneration();
}

void TraceLog::StartNewGeneration() {
    const std::uint64_t size = file_->Size();
    file_.reset();
    if (ports_.appending.Rename(path_, OlderPath()))
        rename_failed_.reset();
    else
        rename_failed_ = FailedRename{ports_.clock.LocalDateTimeNow(), size};
    static_cast<void>(Open());  // Write finds it not open and fails
}

bool TraceLog::Write(std::u16string_view line) {
    const std::u16string text = LogTimeStamp(ports_.clock.LocalDateTimeNow()) + u' ' +
                                std::u16string(line) + place_.line_end;
    if (file_ == nullptr && !Open())
        return false;
    const std::uint64_t line_size = Utf8Length(text);
    if (WouldPassBound(line_size))
        MakeRoomFor(line_size);
    if (file_ == nullptr)
        return false;
    if (!file_->Append(text)) {
        file_.reset();  // opened again for the next line
        return false;
    }
    return true;
}

void LoggedDebugOutput::StartLog(std::unique_ptr<TraceLog> log) {
    const std::lock_guard lock(mutex_);
    log_ = std::move(log);
    failing_ = false;
}

void LoggedDebugOutput::Trace(std::u16string_view line) const {
    channel_.Trace(line);
    const std::lock_guard lock(mutex_);
    if (log_ == nullptr)
        return;
    const bool written = log_->Write(line);
    // The failure is told once, on the debugger output alone, and again only after the log
    // worked in between: a failing log never feeds itself lines.
    if (!written && !failing_)
        channel_.Trace(u"The log file " + log_->Path() +
                       u" cannot be written; trace lines go to the debugger output only");
    failing_ = !written;
}

std::unique_ptr<TraceLog> MonitorTraceLog(const SettingsFile& settings,
                                          const TraceLog::Ports& ports, TraceLog::Place place) {
    if (!settings.WritesLogFile())
        return nullptr;
    return std::make_unique<TraceLog>(ports, std::move(place));
}

}  // namespace korv
