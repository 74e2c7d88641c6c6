#include "app/settings_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake_locale.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/memory_file_system.h"

namespace korv {
namespace {

using Strings = std::vector<std::u16string>;

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> Utf16LeWithBom(std::u16string_view text) {
    std::vector<std::uint8_t> bytes{0xFF, 0xFE};
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

struct LookupCase {
    const char* what;
    std::u16string_view text;
    std::u16string_view section;
    std::u16string_view key;
    std::u16string_view expected;  // "<default>" when the lookup falls back to the default
};

const LookupCase kLookupCases[] = {
    {"plain", u"[options]\nProfileRegFolder=ABC\n", u"options", u"ProfileRegFolder", u"ABC"},
    {"names ignore case", u"[OPTIONS]\nPROFILEregfolder=x\n", u"Options", u"ProfileRegFolder",
     u"x"},
    {"blanks and CR LF removed", u"  [options]  \r\n  key \t=   a value  \r\n", u"options", u"key",
     u"a value"},
    {"double quotes removed", u"[s]\nk=\"quoted value\"\n", u"s", u"k", u"quoted value"},
    {"single quotes removed", u"[s]\nk='quoted'\n", u"s", u"k", u"quoted"},
    {"one pair of quotes only", u"[s]\nk=\"\"x\"\"\n", u"s", u"k", u"\"x\""},
    {"unmatched quotes kept", u"[s]\nk=\"open'\n", u"s", u"k", u"\"open'"},
    {"a lone quote is kept", u"[s]\nk=\"\n", u"s", u"k", u"\""},
    {"blanks inside quotes kept", u"[s]\nk=\"  x  \"\n", u"s", u"k", u"  x  "},
    {"empty value is not the default", u"[s]\nk=\n", u"s", u"k", u""},
    {"line without '=' has no value", u"[s]\nk\n", u"s", u"k", u"<default>"},
    {"first key of a name wins", u"[s]\nk=1\nK=2\n", u"s", u"k", u"1"},
    {"first section of a name wins", u"[s]\na=1\n[S]\nb=2\n", u"s", u"b", u"<default>"},
    {"semicolon starts no comment in a value", u"[s]\nk=1 ;note\n", u"s", u"k", u"1 ;note"},
    {"a comment line is no key", u"[s]\n;k=1\n", u"s", u"k", u"<default>"},
    {"missing final newline", u"[s]\nk=last", u"s", u"k", u"last"},
    {"keys before any section belong to none", u"k=1\n[s]\n", u"s", u"k", u"<default>"},
    {"blanks inside the brackets removed", u"[ s ]\nk=1\n", u"s", u"k", u"1"},
    {"last bracket closes the name", u"[a]b]\nk=1\n", u"a]b", u"k", u"1"},
    {"line without closing bracket is a key", u"[s]\n[t\nk=1\n", u"s", u"k", u"1"},
    {"lone CR ends a line", u"[s]\rk=1\rj=2", u"s", u"j", u"2"},
    {"only ASCII blanks are removed", u"[s]\nk=\u00a0v\u3000\n", u"s", u"k", u"\u00a0v\u3000"},
    {"only ASCII letters ignore case", u"[s]\n\u00c9=1\n", u"s", u"\u00e9", u"<default>"},
    {"query names are trimmed", u"[s]\nk=1\n", u" s ", u" k ", u"1"},
    {"value after the first '='", u"[s]\nk = a=b\n", u"s", u"k", u"a=b"},
    {"^Z counts as a blank", u"[s]\nk=1\x1a\n", u"s", u"k", u"1"},
};

TEST(IniFileTest, LookupFollowsTheProfileRules) {
    for (const LookupCase& c : kLookupCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IniFile::Parse(c.text).GetString(c.section, c.key, u"<default>"), c.expected);
    }
}

TEST(IniFileTest, ValuesAreCutAt2047Characters) {
    const std::u16string long_value(3000, u'v');
    const IniFile ini = IniFile::Parse(u"[s]\nk=" + long_value + u"\nq=\"" + long_value + u"\"\n");
    EXPECT_EQ(ini.GetString(u"s", u"k", u""), std::u16string(2047, u'v'));
    // A quoted value too long to fit loses its opening quote only.
    EXPECT_EQ(ini.GetString(u"s", u"q", u""), std::u16string(2047, u'v'));
}

TEST(IniFileTest, KeyNamesListKeysWithValuesInFileOrder) {
    const IniFile ini = IniFile::Parse(u"[h]\nb=2\n;c=3\nnovalue\na=\n[other]\nz=1\n[H]\nlate=1\n");
    EXPECT_EQ(ini.KeyNames(u"H"), (Strings{u"b", u"a"}));
    EXPECT_TRUE(ini.KeyNames(u"missing").empty());
    // Listing takes the section name as it stands.
    EXPECT_TRUE(ini.KeyNames(u" h ").empty());
}

TEST(IniFileTest, DecodesByteOrderMarksAndTheSystemCodePage) {
    const fake::FakeLocale locale;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"UTF-16LE with BOM", Utf16LeWithBom(u"[s]\r\nk=\u00e9\u4e2d\r\n"), u"\u00e9\u4e2d"},
        {"UTF-16BE with BOM",
         {0xFE, 0xFF, 0, '[', 0, 's', 0, ']', 0, '\n', 0, 'k', 0, '=', 0x4E, 0x2D},
         u"\u4e2d"},
        {"UTF-8 with BOM",
         {0xEF, 0xBB, 0xBF, '[', 's', ']', '\n', 'k', '=', 0xE4, 0xB8, 0xAD},
         u"\u4e2d"},
        {"8-bit text", {'[', 's', ']', '\n', 'k', '=', 0xE9, 0x80}, u"\u00e9\u20ac"},
        {"UTF-16 without BOM is 8-bit text", {'[', 0, 's', 0, ']', 0}, u"<default>"},
        {"odd trailing byte of UTF-16 ignored", Utf16LeWithBom(u"[s]\nk=v"), u"v"},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string_view(c.what).starts_with("odd"))
            c.bytes.push_back('x');
        EXPECT_EQ(IniFile::FromBytes(c.bytes, locale).GetString(u"s", u"k", u"<default>"),
                  c.expected);
    }
}

class SettingsFileTest : public ::testing::Test {
  protected:
    SettingsFile LoadText(std::string_view text) {
        files_.Put(files_.ExecutableFolder() + u"config.ini", Bytes(text));
        return SettingsFile::Load(files_, locale_);
    }

    fake::MemoryFileSystem files_;
    fake::FakeLocale locale_;
};

TEST_F(SettingsFileTest, MissingOrUnreadableFileGivesEveryDefault) {
    fake::MemoryFileSystem unreadable;
    unreadable.PutUnreadable(unreadable.ExecutableFolder() + u"config.ini");
    // A config.ini elsewhere than beside the executable is not read.
    files_.Put(u"C:\\config.ini", Bytes("[options]\nprofileFolder=Elsewhere\n"));
    for (const FileSystem* fs : std::vector<const FileSystem*>{&files_, &unreadable}) {
        const SettingsFile settings = SettingsFile::Load(*fs, locale_);
        const TOptionsFromConfigFile options = settings.ReadOptions();
        EXPECT_EQ(options.ProfileRegFolder, u"software\\software\\KORVANTH417GM");
        EXPECT_EQ(options.ProfileFolder, u"Profile");
        EXPECT_EQ(options.ProfileNamePrefix, u"Profile");
        EXPECT_EQ(options.ProfileMacroFolder, u"MacroDB");
        const TOtherConfig other = settings.ReadOtherConfig();
        EXPECT_EQ(other.Nologo, 0);
        EXPECT_EQ(other.OfficialWebsite, u"http://");
        EXPECT_TRUE(other.HelpFile.empty());
        EXPECT_EQ(
            other.ShowNumLock + other.ShowCapsLock + other.ShowScrollLock + other.ShowLockStatePop,
            0);
        EXPECT_TRUE(settings.ReadIncludeList().empty());
    }
}

// A file up to the limit is read; a larger one is not read at all and gives every default, as an
// unreadable one does, with one trace line; a missing file is the normal case and is quiet.
TEST_F(SettingsFileTest, OnlyFilesUpToTheLimitAreRead) {
    const std::u16string path = files_.ExecutableFolder() + u"config.ini";
    auto padded = [](std::size_t size) {
        std::vector<std::uint8_t> bytes = Bytes("[options]\nprofileFolder=Mine\n");
        bytes.resize(size, ' ');
        return bytes;
    };
    const struct {
        const char* what;
        std::optional<std::size_t> size;  // nothing: no file
        bool unreadable;
        std::u16string folder;
        std::vector<std::u16string> lines;
    } cases[] = {
        {"missing", std::nullopt, false, u"Profile", {}},
        {"unreadable",
         0,
         true,
         u"Profile",
         {u"Settings file " + path + u" cannot be read; every setting takes its default"}},
        {"exactly the limit", kMaxSettingsFileSize, false, u"Mine", {}},
        {"one byte above the limit",
         kMaxSettingsFileSize + 1,
         false,
         u"Profile",
         {u"Settings file " + path +
          u" is 1048577 bytes, above the limit of 1048576; every setting takes its default"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::MemoryFileSystem files;
        if (c.unreadable)
            files.PutUnreadable(path);
        else if (c.size)
            files.Put(path, padded(*c.size));
        fake::RecordingDebugOutput debug;
        EXPECT_EQ(SettingsFile::Load(files, locale_, debug).ReadOptions().ProfileFolder, c.folder);
        EXPECT_EQ(debug.lines, c.lines);
        EXPECT_EQ(files.BytesRead(), c.folder == u"Mine" ? *c.size : 0u);
    }
}

// Where the platform keeps data apart from programs, the installed file is the data folder's, and
// a user's own copy elsewhere is read by its path with the same rules.
TEST_F(SettingsFileTest, TheInstalledFileIsTheDataFoldersAndAnotherIsReadByItsPath) {
    fake::MemoryFileSystem files(u"/usr/bin/", u'/');
    files.SetDataFolder(u"/usr/share/app/");
    files.Put(u"/usr/bin/config.ini", Bytes("[options]\nprofileFolder=BesideTheProgram\n"));
    files.Put(u"/usr/share/app/config.ini", Bytes("[options]\nprofileFolder=Installed\n"));
    files.Put(u"/home/u/.config/app/config.ini", Bytes("[options]\nprofileFolder=Users\n"));
    fake::RecordingDebugOutput debug;
    EXPECT_EQ(SettingsFile::InstalledPath(files), u"/usr/share/app/config.ini");
    EXPECT_EQ(SettingsFile::Load(files, locale_).ReadOptions().ProfileFolder, u"Installed");
    EXPECT_EQ(SettingsFile::LoadFile(u"/home/u/.config/app/config.ini", files, locale_, debug)
                  .ReadOptions()
                  .ProfileFolder,
              u"Users");
    EXPECT_TRUE(debug.lines.empty());
}

TEST_F(SettingsFileTest, OptionsFromTheFile) {
    const TOptionsFromConfigFile options =
        LoadText(
            "[Options]\nProfileRegFolder=KORVANTH417GM\nprofilefolder=\"My Profiles\"\n"
            "profilePrefix=Game\nprofileMacroFolder=\n")
            .ReadOptions();
    EXPECT_EQ(options.ProfileRegFolder, u"software\\KORVANTH417GM");
    EXPECT_EQ(options.ProfileFolder, u"My Profiles");
    EXPECT_EQ(options.ProfileNamePrefix, u"Game");
    EXPECT_EQ(options.ProfileMacroFolder, u"");
    EXPECT_EQ(LoadText("[options]\nProfileRegFolder=\n").ReadOptions().ProfileRegFolder,
              u"software\\");
}

TEST_F(SettingsFileTest, IncludeListStopsAtTheFirstAbsentOrEmptyKey) {
    EXPECT_EQ(
        LoadText("[IncludeHIDDeviceList]\nid1=HID\\VID_1&PID_2\nid2=b\nid4=d\n").ReadIncludeList(),
        (Strings{u"HID\\VID_1&PID_2", u"b"}));
    EXPECT_TRUE(LoadText("[IncludeHIDDeviceList]\nid1=\nid2=b\n").ReadIncludeList().empty());

    std::string all = "[IncludeHIDDeviceList]\n";
    for (int i = 1; i <= 102; ++i)
        all += "id" + std::to_string(i) + "=v" + std::to_string(i) + "\n";
    const Strings ids = LoadText(all).ReadIncludeList();
    ASSERT_EQ(ids.size(), 101u);
    EXPECT_EQ(ids.back(), u"v101");
}

TEST_F(SettingsFileTest, OtherSettingsAndHelpFiles) {
    const TOtherConfig other =
        LoadText(
            "[OtherConfig]\nNoLogo=0x10\nOfficialWebsite=https://example.test/\n"
            "[HelpFiles]\nEnglish=help_en.pdf\nEmpty=\nChinese=help_cn.pdf\n"
            "english=second.pdf\n")
            .ReadOtherConfig();
    EXPECT_EQ(other.Nologo, 16);
    EXPECT_EQ(other.OfficialWebsite, u"https://example.test/");
    EXPECT_EQ(other.HelpFile, (Strings{u"English=help_en.pdf", u"Chinese=help_cn.pdf"}));
    EXPECT_EQ(LoadText("[OtherConfig]\nOfficialWebsite=\n").ReadOtherConfig().OfficialWebsite, u"");
}

TEST(SettingsIntegerTest, DecimalOrHexElseNothing) {
    const struct {
        std::u16string_view text;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {u"12", 12},
        {u"-3", -3},
        {u"+7", 7},
        {u"0x10", 16},
        {u"0X1f", 31},
        {u"0xFFFFFFFF", -1},
        {u"2147483647", 2147483647},
        {u"-2147483648", INT32_MIN},
        {u"2147483648", std::nullopt},
        {u"0x100000000", std::nullopt},
        {u"abc", std::nullopt},
        {u"12abc", std::nullopt},
        {u"", std::nullopt},
        {u"0x", std::nullopt},
        {u"-", std::nullopt},
        {u"0xG", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        EXPECT_EQ(ParseSettingsInteger(c.text), c.expected);
    }
}

TEST_F(SettingsFileTest, NoLogoThatIsNotANumberReadsAsZero) {
    EXPECT_EQ(LoadText("[OtherConfig]\nNoLogo=abc\n").ReadOtherConfig().Nologo, 0);
    EXPECT_EQ(LoadText("[OtherConfig]\nNoLogo= 5 \n").ReadOtherConfig().Nologo, 5);
}

TEST(SimulatedInterfaceTest, EntriesThatAreNotAnInterfaceGiveNothing) {
    const SimulatedHidInterface mouse{
        u"KORVANTH417-SIM-1", u"HID\\KORVANTH417_SIMULATED&Col01", {1, 0xFFA0, 8, 8, 0}};
    EXPECT_EQ(ParseSimulatedInterface(
                  u"KORVANTH417-SIM-1, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0"),
              mouse);
    EXPECT_EQ(ParseSimulatedInterface(
                  u"KORVANTH417-SIM-1,HID\\KORVANTH417_SIMULATED&Col01,65440,1,8,8,0"),
              mouse);
    for (const char16_t* bad : {
             u"",
             u"KORVANTH417-SIM-1, HID\\X, 0xFFA0, 1, 8, 8",        // a field missing
             u"KORVANTH417-SIM-1, HID\\X, 0xFFA0, 1, 8, 8, 0, 0",  // one too many
             u", HID\\X, 0xFFA0, 1, 8, 8, 0",                      // no pipe
             u"a\\b, HID\\X, 0xFFA0, 1, 8, 8, 0",                  // a path, not a name
             u"P, , 0xFFA0, 1, 8, 8, 0",                           // no hardware identifier
             u"P, HID\\X, 0x10000, 1, 8, 8, 0",                    // above 16 bits
             u"P, HID\\X, 0xFFA0, -1, 8, 8, 0",                    // negative
             u"P, HID\\X, 0xFFA0, 1, eight, 8, 0",                 // not a number
             u"P, HID\\X, 0xFFA0, 1, 0, 8, 0",                     // no input reports
         }) {
        EXPECT_EQ(ParseSimulatedInterface(bad), std::nullopt);
    }
}

TEST_F(SettingsFileTest, SimulatedInterfacesAreReadUntilTheFirstMissingKey) {
    const SimulatedInterfaceList list = LoadText(
                                            "[SimulatedHIDDeviceList]\n"
                                            "sim1=A, HID\\A, 0xFFA0, 1, 8, 8, 0\n"
                                            "sim2=garbage\n"
                                            "sim3=\"B, HID\\B, 1, 2, 3, 0, 0\"\n"
                                            "sim5=C, HID\\C, 0xFFA0, 1, 8, 8, 0\n")
                                            .ReadSimulatedInterfaces();
    ASSERT_EQ(list.interfaces.size(), 2u);
    EXPECT_EQ(list.interfaces[0].pipe_name, u"A");
    EXPECT_EQ(list.interfaces[1], (SimulatedHidInterface{u"B", u"HID\\B", {2, 1, 3, 0, 0}}));
    EXPECT_EQ(list.rejected, Strings{u"sim2=garbage"});
    EXPECT_TRUE(LoadText("[options]\n").ReadSimulatedInterfaces().interfaces.empty());
}

// Keys sim1 up to sim16 are read, as the README documents: the sixteenth is read, a
// seventeenth is not.
TEST_F(SettingsFileTest, SimulatedInterfacesAreReadUpToTheSixteenthKey) {
    std::string text = "[SimulatedHIDDeviceList]\n";
    for (int i = 1; i <= kMaxSimulatedInterfaceKeys + 1; ++i) {
        const std::string number = std::to_string(i);
        text += "sim" + number + "=P" + number + ", HID\\P, 0xFFA0, 1, 8, 8, 0\n";
    }
    const SimulatedInterfaceList list = LoadText(text).ReadSimulatedInterfaces();
    EXPECT_EQ(kMaxSimulatedInterfaceKeys, 16);
    ASSERT_EQ(list.interfaces.size(), 16u);
    EXPECT_EQ(list.interfaces.back().pipe_name, u"P16");
    EXPECT_TRUE(list.rejected.empty());
}

}  // namespace
}  // namespace korv
