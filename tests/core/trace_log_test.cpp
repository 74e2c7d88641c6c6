#include "app/trace_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "app/settings_file.h"
#include "base/decimal_text.h"
#include "base/utf8_length.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/memory_file_system.h"

namespace korv {
namespace {

using Lines = std::vector<std::u16string>;

constexpr std::u16string_view kFolder = u"C:\\users\\gamer\\AppData\\Local\\KORVANTH417";
constexpr std::u16string_view kLog = u"C:\\users\\gamer\\AppData\\Local\\KORVANTH417\\monitor.log";
constexpr std::u16string_view kOlder =
    u"C:\\users\\gamer\\AppData\\Local\\KORVANTH417\\monitor.log.1";

TEST(LogTimeStamp, ShowsTheLocalTimeToTheMillisecond) {
    const struct {
        double date_time;
        std::u16string_view shown;
    } cases[] = {
        {46000.5, u"2025-12-09 12:00:00.000"},
        {46367.39584633102, u"2026-12-11 09:30:01.123"},
        {45351.999999988424, u"2024-02-29 23:59:59.999"},  // a leap day
        {45351.99999999537, u"2024-03-01 00:00:00.000"},   // .9996 s rounds into the next day
        {0.0, u"1899-12-30 00:00:00.000"},
        {-3.25, u"1899-12-30 00:00:00.000"},  // a clock before the epoch shows as it
        {std::numeric_limits<double>::quiet_NaN(), u"1899-12-30 00:00:00.000"},
        {2958465.999, u"9999-12-31 23:58:33.600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date_time);
        EXPECT_EQ(LogTimeStamp(c.date_time), c.shown);
    }
}

// Splits a log's text into its lines, each without its line end.
Lines LinesOf(const std::optional<std::u16string>& text) {
    Lines lines;
    if (!text)
        return lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text->find(u"\r\n", start)) != std::u16string::npos;
         start = end + 2) {
        lines.push_back(text->substr(start, end - start));
    }
    EXPECT_EQ(start, text->size()) << "the log ends in the middle of a line";
    return lines;
}

class TraceLogTest : public ::testing::Test {
  protected:
    TraceLogTest() { files_.AddFolder(u"C:\\users\\gamer\\AppData\\Local"); }

    std::unique_ptr<TraceLog> Log(std::uint64_t max_size = kMaxLogFileSize) {
        return std::make_unique<TraceLog>(
            TraceLog::Ports{files_, files_, clock_},
            TraceLog::Place{std::u16string(kFolder), u"\r\n", max_size});
    }
    // "line NNNN" with the number filled to four digits: every line the same length.
    static std::u16string Numbered(int n) {
        std::u16string digits = u"0000" + std::u16string(DecimalText(n));
        return u"line " + digits.substr(digits.size() - 4);
    }

    fake::MemoryFileSystem files_;
    fake::FixedClock clock_;
    fake::RecordingDebugOutput channel_;
};

// Each line begins with its time stamp and ends with CR LF; the folder is created on the first
// line; a log that is there already is continued, not replaced.
TEST_F(TraceLogTest, LinesAreTimedAndAddedToWhatIsThere) {
    const auto log = Log();
    EXPECT_EQ(log->Path(), kLog);
    ASSERT_TRUE(log->Write(u"first"));
    clock_.now = 46367.39584633102;
    ASSERT_TRUE(log->Write(u"second \u4e2d"));
    EXPECT_EQ(files_.Text(kLog),
              u"2025-12-09 12:00:00.000 first\r\n"
              u"2026-12-11 09:30:01.123 second \u4e2d\r\n");
    const auto again = Log();  // the monitor started again
    ASSERT_TRUE(again->Write(u"third"));
    EXPECT_EQ(LinesOf(files_.Text(kLog)).size(), 3u);
    EXPECT_FALSE(files_.Text(kOlder));
}

// Lines go into the log until the next would take it past the largest size; then it becomes the
// older generation, replacing the one before, and a new log begins. The two together hold the
// latest lines, in order, none lost at a turn.
TEST_F(TraceLogTest, TwoGenerationsHoldTheLatestLinesWithinTheBound) {
    const std::uint64_t line_size = Utf8Length(u"2025-12-09 12:00:00.000 line 0000\r\n");
    for (const std::uint64_t max_size : {kMaxLogFileSize, 10 * line_size, 10 * line_size + 1}) {
        SCOPED_TRACE(max_size);
        files_ = fake::MemoryFileSystem();
        files_.AddFolder(u"C:\\users\\gamer\\AppData\\Local");
        const auto log = Log(max_size);
        const int per_file = static_cast<int>(max_size / line_size);
        const int written = 2 * per_file + per_file / 2 + 1;  // two turns
        for (int n = 0; n < written; ++n)
            ASSERT_TRUE(log->Write(Numbered(n)));
        const auto current = files_.Text(kLog);
        const auto older = files_.Text(kOlder);
        ASSERT_TRUE(current && older);
        EXPECT_LE(Utf8Length(*current), max_size);
        EXPECT_EQ(Utf8Length(*older), per_file * line_size);  // full up to the last whole line
        Lines kept = LinesOf(older);
        for (std::u16string& line : LinesOf(current))
            kept.push_back(std::move(line));
        ASSERT_EQ(kept.size(), static_cast<std::size_t>(per_file + written % per_file));
        const int first = written - static_cast<int>(kept.size());
        for (std::size_t i = 0; i < kept.size(); ++i)
            EXPECT_EQ(kept[i], u"2025-12-09 12:00:00.000 " + Numbered(first + int(i)));
    }
}

// A line alone larger than the bound goes into a file of its own, whole, and the next line
// starts the next file.
TEST_F(TraceLogTest, ALineLargerThanTheBoundIsWrittenWhole) {
    const auto log = Log(64);
    ASSERT_TRUE(log->Write(u"short"));
    const std::u16string long_line(100, u'x');
    ASSERT_TRUE(log->Write(long_line));
    EXPECT_EQ(LinesOf(files_.Text(kLog)), Lines{u"2025-12-09 12:00:00.000 " + long_line});
    ASSERT_TRUE(log->Write(u"after"));
    EXPECT_EQ(LinesOf(files_.Text(kLog)), Lines{u"2025-12-09 12:00:00.000 after"});
    EXPECT_EQ(LinesOf(files_.Text(kOlder)), Lines{u"2025-12-09 12:00:00.000 " + long_line});
}

// The older generation held open by another program: the lines go on into the current file, and
// the next try waits for a few seconds or another 64 KiB, so that each line meanwhile is only
// appended; then the turn comes, with no line lost.
TEST_F(TraceLogTest, AFailedTurnLosesNoLineAndIsTriedAgainLater) {
    const std::uint64_t failed_at = 2 * Utf8Length(u"2025-12-09 12:00:00.000 line 0000\r\n");
    const struct {
        const char* what;
        std::function<void(TraceLog&, fake::FixedClock&, int&)> meanwhile;
        bool turns;
    } cases[] = {
        {"nothing more", [](TraceLog&, fake::FixedClock&, int&) {}, false},
        {"4 seconds later",
         [](TraceLog&, fake::FixedClock& clock, int&) { clock.now += 4.0 / 86400; }, false},
        {"5 seconds later",
         [](TraceLog&, fake::FixedClock& clock, int&) { clock.now += 5.0 / 86400; }, true},
        {"the clock set back",
         [](TraceLog&, fake::FixedClock& clock, int&) { clock.now -= 1.0 / 86400; }, true},
        {"64 KiB more written",
         [this](TraceLog& log, fake::FixedClock&, int& written) {
             // (Bounded, in case the file never grows as far.)
             for (int n = 0;
                  n < 4000 && Utf8Length(*files_.Text(kLog)) < failed_at + kRenameRetryBytes; ++n)
                 ASSERT_TRUE(log.Write(Numbered(written++ % 10000)));
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        files_ = fake::MemoryFileSystem();
        files_.AddFolder(u"C:\\users\\gamer\\AppData\\Local");
        clock_ = fake::FixedClock();
        const auto log = Log(100);  // two lines to a file
        files_.FailRenames(true);
        int written = 0;
        for (; written < 6; ++written)
            ASSERT_TRUE(log->Write(Numbered(written)));
        EXPECT_EQ(files_.RenameCount(), 1);  // tried at the third line only
        files_.FailRenames(false);
        ASSERT_TRUE(log->Write(Numbered(written++)));
        EXPECT_EQ(files_.RenameCount(), 1);
        c.meanwhile(*log, clock_, written);
        EXPECT_EQ(files_.RenameCount(), 1);
        ASSERT_TRUE(log->Write(u"after"));
        EXPECT_EQ(files_.RenameCount(), c.turns ? 2 : 1);
        const Lines older = LinesOf(files_.Text(kOlder));
        const Lines current = LinesOf(files_.Text(kLog));
        EXPECT_EQ(older.size(), c.turns ? std::size_t(written) : 0u);
        EXPECT_EQ(older.size() + current.size(), std::size_t(written) + 1);
        ASSERT_FALSE(current.empty());
        EXPECT_TRUE(current.back().ends_with(u" after"));
    }
}

// A second start of the monitor writes its one line into the running monitor's log and ends; if
// that line makes the turn, the running monitor finds its file already the older generation and
// goes on in the new one, rather than putting the new one over its own.
TEST_F(TraceLogTest, TwoMonitorsOnOneLogLoseNoGeneration) {
    const auto running = Log(100);  // two numbered lines to a file
    ASSERT_TRUE(running->Write(Numbered(0)));
    ASSERT_TRUE(running->Write(Numbered(1)));
    ASSERT_TRUE(Log(100)->Write(u"already running"));
    EXPECT_EQ(LinesOf(files_.Text(kOlder)).size(), 2u);
    ASSERT_TRUE(running->Write(Numbered(2)));
    EXPECT_EQ(LinesOf(files_.Text(kOlder)),
              (Lines{u"2025-12-09 12:00:00.000 line 0000", u"2025-12-09 12:00:00.000 line 0001"}));
    EXPECT_EQ(LinesOf(files_.Text(kLog)), (Lines{u"2025-12-09 12:00:00.000 already running",
                                                 u"2025-12-09 12:00:00.000 line 0002"}));
    // The new file fills up and turns as usual.
    ASSERT_TRUE(running->Write(Numbered(3)));
    EXPECT_EQ(LinesOf(files_.Text(kLog)), Lines{u"2025-12-09 12:00:00.000 line 0003"});
    EXPECT_EQ(LinesOf(files_.Text(kOlder)).size(), 2u);
}

// Whatever happens to the log, every line reaches the debugger output; a failing log says so
// there once (never into itself, never once per line), and again only after it worked in between.
TEST_F(TraceLogTest, AFailingLogCostsTheMonitorNothing) {
    struct Step {
        const char* what;
        std::function<void(fake::MemoryFileSystem&)> change;
        bool logged;  // the line reaches the file
    };
    const std::u16string failure =
        u"The log file " + std::u16string(kLog) +
        u" cannot be written; trace lines go to the debugger output only";
    const std::vector<Step> steps = {
        {"written", [](auto&) {}, true},
        {"disk full", [](auto& f) { f.FailWrites(true); }, false},
        {"still full", [](auto&) {}, false},
        {"space again", [](auto& f) { f.FailWrites(false); }, true},
        {"full once more", [](auto& f) { f.FailWrites(true); }, false},
    };
    LoggedDebugOutput debug(channel_);
    debug.StartLog(Log());
    Lines expected_channel;
    std::size_t expected_in_file = 0;
    bool failing = false;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change(files_);
        const std::u16string line = u"step " + DecimalText(int(expected_channel.size()));
        debug.Trace(line);
        expected_channel.push_back(line);
        if (!step.logged && !failing)
            expected_channel.push_back(failure);
        failing = !step.logged;
        expected_in_file += step.logged;
        EXPECT_EQ(channel_.lines, expected_channel);
        EXPECT_EQ(LinesOf(files_.Text(kLog)).size(), expected_in_file);
    }
}

TEST_F(TraceLogTest, AFolderThatCannotBeCreatedOnlyCostsOneLine) {
    fake::MemoryFileSystem no_parent;  // C:\users\gamer\AppData\Local is missing
    LoggedDebugOutput debug(channel_);
    debug.StartLog(std::make_unique<TraceLog>(TraceLog::Ports{no_parent, no_parent, clock_},
                                              TraceLog::Place{std::u16string(kFolder)}));
    for (int n = 0; n < 3; ++n)
        debug.Trace(Numbered(n));
    EXPECT_EQ(channel_.lines.size(), 4u);
    EXPECT_TRUE(channel_.lines[1].starts_with(u"The log file ")) << channel_.lines.size();
    EXPECT_FALSE(no_parent.FolderExists(kFolder));
}

// Readers on several threads trace at once (HID readers, the main thread): every line reaches
// the file whole.
TEST_F(TraceLogTest, LinesOfSeveralThreadsArriveWhole) {
    // The debugger output takes lines of any thread; this one forgets them.
    struct Forgetting : DebugOutput {
        void Trace(std::u16string_view) const override {}
    } forgetting;
    LoggedDebugOutput threaded(forgetting);
    threaded.StartLog(Log());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&threaded, t] {
            for (int n = 0; n < 100; ++n)
                threaded.Trace(u"thread " + DecimalText(t) + u" " + Numbered(n));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const Lines lines = LinesOf(files_.Text(kLog));
    ASSERT_EQ(lines.size(), 400u);
    for (const std::u16string& line : lines)
        EXPECT_EQ(line.size(),
                  std::u16string_view(u"2025-12-09 12:00:00.000 thread 0 line 0000").size());
}

TEST(LogSetting, TheLogIsOnUnlessTheKeyIsZero) {
    const struct {
        std::u16string_view text;
        bool on;
    } cases[] = {
        {u"", true},
        {u"[OtherConfig]\nWriteLogFile=1\n", true},
        {u"[OtherConfig]\nWriteLogFile=0\n", false},
        {u"[OtherConfig]\nWriteLogFile=0x0\n", false},
        {u"[OtherConfig]\nWriteLogFile=no\n", true},  // not a number: the default
        {u"[OtherConfig]\nWriteLogFile=\n", true},
        {u"[options]\nWriteLogFile=0\n", true},  // another section's key
    };
    fake::MemoryFileSystem files;
    fake::FixedClock clock;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        const SettingsFile settings(IniFile::Parse(c.text));
        EXPECT_EQ(settings.WritesLogFile(), c.on);
        const auto log = MonitorTraceLog(settings, {files, files, clock},
                                         TraceLog::Place{std::u16string(kFolder)});
        EXPECT_EQ(log != nullptr, c.on);
    }
}

}  // namespace
}  // namespace korv
