// The small Linux services: the language of the locale variables, the documents folder of
// user-dirs.dirs, where config.ini and the store are, trace lines on a descriptor, the local
// clock, and starting a program in its folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lang/ui_language.h"
#include "platform/linux/linux_file_system.h"
#include "platform/linux/linux_keyed_store.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/utf8_text.h"
#include "tests/linux/temp_folder.h"

namespace korv::os_linux {
namespace {

using testing::TempFolder;
using namespace std::chrono_literals;
using namespace std::string_literals;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Sets environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
  public:
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    // Nothing: unset.
    void Set(const std::string& name, std::optional<std::string> value) {
        if (!saved_.contains(name)) {
            const char* old = getenv(name.c_str());
            saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// --- language ----------------------------------------------------------------------------

TEST(LinuxLocale, LocaleNamesGiveTheLanguageIdentifiersOfTheStoredRecords) {
    const std::pair<const char*, std::uint16_t> cases[] = {
        {"en_US.UTF-8", 0x0409},
        {"zh_CN.UTF-8", 0x0804},
        {"zh_TW.UTF-8", 0x0404},
        {"zh_HK.UTF-8", 0x0C04},
        {"zh_SG", 0x1004},
        {"zh", 0x0804},
        {"en_GB.ISO-8859-1", 0x0809},
        {"de_AT@euro", 0x0C07},
        {"de_DE.UTF-8@euro", 0x0407},
        {"de", 0x0407},
        {"fr_CA.UTF-8", 0x0C0C},
        {"pt", 0x0416},
        {"ja_JP.eucJP", 0x0411},
        {"ko_KR.UTF-8", 0x0412},
        {"ru_RU.KOI8-R", 0x0419},
        {"C", 0x0409},
        {"POSIX", 0x0409},
        {"C.UTF-8", 0x0409},
        {"", 0x0409},
        {"xx_YY.UTF-8", 0x0409},
        {"en_ZA.UTF-8", 0x0409},
        {"_US", 0x0409},
        {".UTF-8", 0x0409},
        {"zh_CN_extra", 0x0804},
    };
    for (const auto& [name, id] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LinuxLocale::LanguageIdOf(name), id);
        if (name[0] != '\0') {
            EXPECT_EQ(LinuxLocale(name).SystemDefaultLanguageId(), id);
        }
    }
}

TEST(LinuxLocale, TheFirstVariableSetAndNotEmptyCounts) {
    ScopedEnvironment env;
    const struct {
        std::optional<std::string> lc_all, lc_messages, lang;
        std::uint16_t id;
    } cases[] = {
        {"zh_TW.UTF-8", "zh_CN.UTF-8", "de_DE.UTF-8", 0x0404},
        {"", "zh_CN.UTF-8", "de_DE.UTF-8", 0x0804},
        {std::nullopt, std::nullopt, "de_DE.UTF-8", 0x0407},
        {"", "", "", 0x0409},
        {std::nullopt, std::nullopt, std::nullopt, 0x0409},
    };
    for (const auto& c : cases) {
        env.Set("LC_ALL", c.lc_all);
        env.Set("LC_MESSAGES", c.lc_messages);
        env.Set("LANG", c.lang);
        EXPECT_EQ(LinuxLocale().SystemDefaultLanguageId(), c.id);
        EXPECT_EQ(LinuxLocale().UserDefaultLocaleId(), c.id);
    }
}

// What the language component makes of the answers: the identifier text and the two-letter code
// it selects languages by, and every listed locale's texts fit and name it.
TEST(LinuxLocale, TheLanguageComponentReadsItAsOnWindows) {
    const struct {
        const char* locale;
        std::u16string_view hex;
        std::u16string_view code;
    } cases[] = {
        {"en_US.UTF-8", u"0409", u"en"},
        {"zh_CN.UTF-8", u"0804", u"ch"},
        {"zh_TW.UTF-8", u"0404", u"ch"},
    };
    for (const auto& c : cases) {
        const LinuxLocale locale(c.locale);
        EXPECT_EQ(GetOSDefaultLang(locale), c.hex);
        EXPECT_EQ(GetOSLanguageCode(locale), c.code);
    }
    const LinuxLocale locale("C");
    const std::vector<std::uint32_t> ids = locale.SupportedLocaleIds();
    EXPECT_EQ(std::set<std::uint32_t>(ids.begin(), ids.end()).size(), ids.size()) << "repeated";
    for (const std::uint32_t id : ids) {
        SCOPED_TRACE(id);
        const auto hex = locale.LocaleInfo(id, LocaleItem::kLanguageId);
        ASSERT_TRUE(hex && hex->size() == 4);
        EXPECT_EQ(std::stoul(std::string(hex->begin(), hex->end()), nullptr, 16), id);
        EXPECT_FALSE(locale.LocaleInfo(id, LocaleItem::kLanguageName).value_or(u"").empty());
        EXPECT_EQ(locale.LocaleInfo(id, LocaleItem::kAbbreviatedCountryName).value_or(u"").size(),
                  3u);
        EXPECT_EQ(locale.LocaleInfo(id, LocaleItem::kAbbreviatedLanguageName).value_or(u"").size(),
                  3u);
    }
    EXPECT_EQ(locale.LocaleInfo(0x0C04, LocaleItem::kLanguageId), u"0c04");
    EXPECT_EQ(locale.LocaleInfo(0x7777, LocaleItem::kLanguageName), std::nullopt);
    EXPECT_EQ(locale.DecodeSystemText("\xe8\xae\xbe\xe7\xbd\xae \xff"), u"\u8bbe\u7f6e \ufffd");
}

// Text from outside is never trusted to be UTF-8: every malformed sequence becomes U+FFFD and
// the conversion goes on; a lone surrogate of the core's text becomes U+FFFD on the way out.
TEST(Utf8Text, MalformedInputBecomesReplacementCharacters) {
    const std::pair<std::string, std::u16string> decoded[] = {
        {"plain", u"plain"},
        {"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x96\xb1", u"\u00e9\u4e2d\U0001F5B1"},
        {"\xc0\xaf", u"\ufffd\ufffd"},                      // overlong '/'
        {"\xed\xa0\x80", u"\ufffd\ufffd\ufffd"},            // an encoded surrogate
        {"\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},  // above U+10FFFF
        {"a\xe4\xb8", u"a\ufffd\ufffd"},                    // cut short
        {"\x80x", u"\ufffdx"},                              // a lone continuation byte
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const auto& [bytes, text] : decoded)
        EXPECT_EQ(Utf16FromUtf8(bytes), text);
    EXPECT_EQ(Utf8FromUtf16(u"\u00e9\U0001F5B1"), "\xc3\xa9\xf0\x9f\x96\xb1");
    EXPECT_EQ(Utf8FromUtf16(std::u16string(1, char16_t{0xD800}) + u"x"), "\xef\xbf\xbdx");
    EXPECT_EQ(Utf8FromUtf16(u"x" + std::u16string(1, char16_t{0xDC00})), "x\xef\xbf\xbd");
}

// --- documents folder, config.ini, store root ---------------------------------------------

TEST(LinuxShell, DocumentsFolderComesFromUserDirsElseDocumentsInTheHome) {
    const TempFolder temp;
    const std::string home = temp.Path() + "/home/me";
    const std::string config = temp.Path() + "/config";
    std::filesystem::create_directories(config);
    const struct {
        const char* what;
        std::optional<std::string> file;  // user-dirs.dirs, nothing for none
        std::string documents;
    } cases[] = {
        {"no file", std::nullopt, home + "/Documents"},
        {"as written by xdg-user-dirs-update",
         "# This file is written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\nXDG_MUSIC_DIR=\"$HOME/Musik\"\n",
         home + "/Dokumente"},
        {"a full path, trailing slash", "XDG_DOCUMENTS_DIR=\"/data/docs/\"\n", "/data/docs"},
        {"the home itself", "XDG_DOCUMENTS_DIR=\"$HOME/\"", home},
        {"escaped quote and UTF-8", "XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\" \xe6\x96\x87\"\n",
         home + "/My \"Docs\" \xe6\x96\x87"},
        {"the last assignment counts",
         "XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"\n", home + "/B"},
        {"commented out", "# XDG_DOCUMENTS_DIR=\"$HOME/A\"\n", home + "/Documents"},
        {"relative value ignored", "XDG_DOCUMENTS_DIR=\"docs\"\n", home + "/Documents"},
        {"no closing quote", "XDG_DOCUMENTS_DIR=\"$HOME/A\n", home + "/Documents"},
        {"other name with the same start", "XDG_DOCUMENTS_DIRS=\"$HOME/A\"\n", home + "/Documents"},
        {"far too large", std::string(100'000, '#') + "\nXDG_DOCUMENTS_DIR=\"$HOME/A\"\n",
         home + "/Documents"},
        {"binary garbage", "\0\xff\n\"XDG_DOCUMENTS_DIR=\"\0"s, home + "/Documents"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(config + "/user-dirs.dirs");
        if (c.file)
            WriteText(config + "/user-dirs.dirs", *c.file);
        const std::u16string folder = LinuxShell(config, home).DocumentsFolder();
        EXPECT_EQ(folder, Utf16FromUtf8(c.documents));
    }
}

TEST(LinuxFolders, ConfigHomeStoreRootAndSettingsFileFollowTheEnvironment) {
    ScopedEnvironment env;
    env.Set("HOME", "/home/player");
    env.Set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(XdgConfigHome(), "/home/player/.config");
    EXPECT_EQ(LinuxKeyedStore::DefaultUserRoot(), "/home/player/.config/korvanth417/store");
    env.Set("XDG_CONFIG_HOME", "relative/config");  // not a full path: ignored
    EXPECT_EQ(XdgConfigHome(), "/home/player/.config");
    env.Set("XDG_CONFIG_HOME", "/xdg/conf/");
    EXPECT_EQ(LinuxKeyedStore::DefaultUserRoot(), "/xdg/conf/korvanth417/store");

    const TempFolder temp;
    const LinuxFileSystem files(temp.Path16() + u"/share/korvanth417/");
    EXPECT_EQ(SettingsFilePath(files, temp.Path() + "/conf"),
              temp.Path16() + u"/share/korvanth417/config.ini");
    std::filesystem::create_directories(temp.Path() + "/conf/korvanth417");
    WriteText(temp.Path() + "/conf/korvanth417/config.ini", "[options]\n");
    EXPECT_EQ(SettingsFilePath(files, temp.Path() + "/conf"),
              temp.Path16() + u"/conf/korvanth417/config.ini");
}

// --- trace lines, clock, starting programs ------------------------------------------------

// Lines of several threads arrive whole, one per line, in UTF-8; a line break inside a trace
// does not start a second line.
TEST(LinuxDebugOutput, WritesWholeUtf8LinesFromAnyThread) {
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const LinuxDebugOutput debug(pipe_fds[1]);
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<std::size_t>(got));
    });
    debug.Trace(u"KeyIndex = 4 postmessage record!");
    debug.Trace(u"two\nlines\r");
    debug.Trace(u"\u8bbe\u7f6e \U0001F5B1");
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i)
                debug.Trace(u"thread " + std::u16string(1, static_cast<char16_t>(u'0' + t)) +
                            u" line " + std::u16string(40, u'x'));
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    close(pipe_fds[1]);
    reader.join();
    close(pipe_fds[0]);
    std::istringstream lines(received);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line))
        all.push_back(line);
    ASSERT_EQ(all.size(), 3u + 800u);
    EXPECT_EQ(all[0], "KeyIndex = 4 postmessage record!");
    EXPECT_EQ(all[1], "two lines ");
    EXPECT_EQ(all[2], "\xe8\xae\xbe\xe7\xbd\xae \xf0\x9f\x96\xb1");
    const std::string whole_tail = " line " + std::string(40, 'x');
    for (std::size_t i = 3; i < all.size(); ++i) {
        EXPECT_TRUE(all[i].starts_with("thread ") && all[i].size() == 8 + whole_tail.size() &&
                    all[i].ends_with(whole_tail))
            << all[i];
    }
}

TEST(LinuxClock, LocalDateTimeCountsDaysFrom1899InTheLocalZone) {
    ScopedEnvironment env;
    const auto unix_days = [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                   .count() /
               86400.0;
    };
    for (const auto& [zone, hours] :
         {std::pair{"UTC0", 0.0}, std::pair{"XYZ-8", 8.0}, std::pair{"ABC+5:30", -5.5}}) {
        SCOPED_TRACE(zone);
        env.Set("TZ", zone);
        tzset();
        const double expected = unix_days() + 25569.0 + hours / 24.0;
        EXPECT_NEAR(LinuxClock().LocalDateTimeNow(), expected, 2.0 / 86400.0);
    }
    env.Set("TZ", std::nullopt);
    tzset();
}

// An executable in the folder is started there without waiting for it; a file that is not there
// is not opened; without xdg-open a document cannot be opened.
TEST(LinuxShell, OpenFileStartsAProgramInItsFolder) {
    const TempFolder temp;
    const std::string script = temp.Path() + "/config-program";
    WriteText(script, "#!/bin/sh\npwd > started.txt\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    const LinuxShell shell(temp.Path(), temp.Path());
    EXPECT_TRUE(shell.OpenFile(u"config-program", temp.Path16()));
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (ReadText(temp.Path() + "/started.txt").empty() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ReadText(temp.Path() + "/started.txt"), temp.Path() + "\n");

    EXPECT_FALSE(shell.OpenFile(u"missing-program", temp.Path16()));
    WriteText(temp.Path() + "/notes.txt", "x");
    ScopedEnvironment env;
    env.Set("PATH", temp.Path() + "/no-such-folder");
    EXPECT_FALSE(shell.OpenFile(u"notes.txt", temp.Path16()));
}

}  // namespace
}  // namespace korv::os_linux
