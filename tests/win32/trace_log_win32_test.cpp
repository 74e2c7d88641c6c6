// The monitor's log on Wine's real files: text appended as UTF-8 is there for a reader at once,
// while the monitor keeps the file open; the older generation is made by a rename that works
// while a reader holds the log, and waits, losing nothing, while a reader holds it without
// letting it be renamed; a second writer's turn does not cost the first its older generation.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "app/trace_log.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_system.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using test::ReadText;

// A reader of the log, as a user's viewer opens it: sharing reading and writing, and renaming
// when `lets_rename`.
UniqueHandle OpenReader(const std::wstring& path, bool lets_rename) {
    const DWORD share =
        FILE_SHARE_READ | FILE_SHARE_WRITE | (lets_rename ? FILE_SHARE_DELETE : DWORD{0});
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadAll(HANDLE file) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string text(4096, '\0');
    DWORD read = 0;
    if (!ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr))
        return "<unreadable>";
    text.resize(read);
    return text;
}

class TraceLogOnWine : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  (L"korv-log-" + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::remove_all(folder_);
        log_ = (folder_ / L"monitor.log").wstring();
        older_ = log_ + L".1";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::unique_ptr<TraceLog> Log(std::uint64_t max_size) {
        return std::make_unique<TraceLog>(
            TraceLog::Ports{files_, files_, clock_},
            TraceLog::Place{FromWide(folder_.wstring()), u"\r\n", max_size});
    }

    // The local time, moved on by the test to let a failed turn be tried again.
    struct MovedClock : Clock {
        double LocalDateTimeNow() const override { return system.LocalDateTimeNow() + later; }
        Win32Clock system;
        double later = 0;  // days
    };

    Win32FileSystem files_;
    MovedClock clock_;
    std::filesystem::path folder_;
    std::wstring log_;
    std::wstring older_;
};

TEST_F(TraceLogOnWine, AppendedTextIsThereForAReaderAtOnce) {
    std::filesystem::create_directories(folder_);
    {
        const UniqueHandle existing(CreateFileW(log_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(existing.Get(), "old\r\n", 5, &written, nullptr));
    }
    const auto file = files_.OpenForAppending(FromWide(log_));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), 5u);
    const UniqueHandle reader = OpenReader(log_, false);
    ASSERT_TRUE(reader.Valid()) << GetLastError();
    ASSERT_TRUE(file->Append(u"caf\u00e9 \u4e2d\r\n"));
    EXPECT_EQ(ReadAll(reader.Get()), "old\r\ncaf\xc3\xa9 \xe4\xb8\xad\r\n");
    EXPECT_EQ(file->Size(), 5u + 11u);
    // A second writer (a second start of the monitor) appends too, after the first's text.
    const auto second = files_.OpenForAppending(FromWide(log_));
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(second->Append(u"second\r\n"));
    ASSERT_TRUE(file->Append(u"first\r\n"));
    EXPECT_EQ(ReadAll(reader.Get()), "old\r\ncaf\xc3\xa9 \xe4\xb8\xad\r\nsecond\r\nfirst\r\n");
    EXPECT_EQ(files_.OpenForAppending(FromWide((folder_ / L"missing" / L"x.log").wstring())),
              nullptr);
}

// Four lines fill a file; the fifth turns it into the older generation, unless a reader holds
// the log without letting it be renamed: then the lines go on into it until the reader closes
// and a few seconds went by.
TEST_F(TraceLogOnWine, TheLogTurnsIntoTheOlderGenerationBesideAReader) {
    const std::u16string line = u"twenty-two characters";  // with stamp and CR LF: 47 bytes
    for (const bool lets_rename : {true, false}) {
        SCOPED_TRACE(lets_rename ? "reader lets the log be renamed" : "reader forbids renaming");
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        auto log = Log(4 * 47);
        for (int n = 0; n < 4; ++n)
            ASSERT_TRUE(log->Write(line));
        EXPECT_EQ(std::filesystem::file_size(log_), 4u * 47u);
        {
            const UniqueHandle reader = OpenReader(log_, lets_rename);
            ASSERT_TRUE(reader.Valid());
            ASSERT_TRUE(log->Write(line));
            EXPECT_EQ(std::filesystem::exists(older_), lets_rename);
            EXPECT_EQ(std::filesystem::file_size(log_), lets_rename ? 47u : 5u * 47u);
            // The reader still reads what it opened, the older generation now.
            EXPECT_EQ(ReadAll(reader.Get()).size(), (lets_rename ? 4u : 5u) * 47u);
        }
        if (!lets_rename) {
            ASSERT_TRUE(log->Write(line));  // too soon to try again
            EXPECT_EQ(std::filesystem::file_size(log_), 6u * 47u);
            clock_.later += kRenameRetryMilliseconds / 86400000.0;
        }
        ASSERT_TRUE(log->Write(line));
        EXPECT_EQ(std::filesystem::file_size(older_), (lets_rename ? 4u : 6u) * 47u);
        EXPECT_EQ(std::filesystem::file_size(log_), (lets_rename ? 2u : 1u) * 47u);
        const std::string text = ReadText(log_);
        EXPECT_TRUE(std::regex_match(text.substr(0, 47),
                                     std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )"
                                                R"(twenty-two characters\r\n)")))
            << text;
    }
}

// A second start of the monitor writes its "already running" line into the running monitor's
// log and ends; when that line makes the turn, the running monitor's own file is the older
// generation already: it goes on in the new file, and both generations keep their lines.
TEST_F(TraceLogOnWine, TwoMonitorsOnOneLogLoseNoGeneration) {
    const std::u16string line = u"twenty-two characters";  // with stamp and CR LF: 47 bytes
    const auto running = Log(4 * 47);
    for (int n = 0; n < 4; ++n)
        ASSERT_TRUE(running->Write(line));
    ASSERT_TRUE(Log(4 * 47)->Write(u"already running, ends"));  // 47 bytes too
    ASSERT_TRUE(std::filesystem::exists(older_));
    EXPECT_EQ(std::filesystem::file_size(older_), 4u * 47u);
    ASSERT_TRUE(running->Write(line));
    EXPECT_EQ(std::filesystem::file_size(older_), 4u * 47u);
    EXPECT_EQ(std::filesystem::file_size(log_), 2u * 47u);
    const std::string text = ReadText(log_);
    EXPECT_NE(text.find(" already running, ends\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(" twenty-two characters\r\n"), 47u + 23u) << text;  // after a stamp
}

TEST(LocalAppData, IsAFolderOfTheUser) {
    const std::u16string folder = LocalAppDataFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(Win32FileSystem().FolderExists(folder));
    EXPECT_NE(folder.back(), u'\\');
}

}  // namespace
}  // namespace korv::win32
