#include "programs/cfgstandin/standin_commands.h"

#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "lang/table_format.h"
#include "lang/translation_engine.h"
#include "lang/ui_language.h"
#include "platform/fake/fake_data_module_ports.h"
#include "profile/dm_unit.h"
#include "profile/function_codes.h"
#include "programs/cfgstandin/function_names.h"
#include "programs/cfgstandin/mic_state_setting.h"

#include <algorithm>
#include <set>
#include "base/decimal_text.h"
#include "base/key_path_text.h"

namespace korv {
namespace {

using Args = std::vector<std::u16string>;

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// Profiles 0-4 and buttons 0-11, as the simulated mouse counts them; functions by name or code;
// a refusal names the argument that is wrong.
TEST(StandInCommandLine, ParsesCommandsAndNamesTheWrongArgument) {
    using Kind = StandInCommand::Kind;
    const struct {
        Args args;
        std::optional<Kind> kind;
        std::u16string problem;  // when refused
        std::int32_t profile = 0, button = 0, value = 0;
    } cases[] = {
        {{u"set-button", u"0", u"4", u"28"}, Kind::SetButton, {}, 0, 4, 28},
        {{u"set-button", u"4", u"11", u"mic-mute"}, Kind::SetButton, {}, 4, 11, 28},
        {{u"set-button", u"1", u"0", u"Left-Click"}, Kind::SetButton, {}, 1, 0, 0},
        {{u"set-button", u"5", u"4", u"28"}, std::nullopt, u"profile 5 is not 0-4"},
        {{u"set-button", u"-1", u"4", u"28"}, std::nullopt, u"profile -1 is not 0-4"},
        {{u"set-button", u"0", u"12", u"28"}, std::nullopt, u"button 12 is not 0-11"},
        {{u"set-button", u"0", u"x", u"28"}, std::nullopt, u"button x is not 0-11"},
        {{u"set-button", u"0", u"0", u"48"},
         std::nullopt,
         u"function 48 is neither a function's name nor a code 0-47 (the command functions "
         u"lists them)"},
        {{u"set-button", u"0", u"0", u"mic mute"},
         std::nullopt,
         u"function mic mute is neither a function's name nor a code 0-47 (the command "
         u"functions lists them)"},
        {{u"set-button", u"0", u"0"}, std::nullopt, u"set-button takes PROFILE BUTTON FUNCTION"},
        {{u"set-profile", u"4"}, Kind::SetProfile, {}, 4},
        {{u"set-profile", u"0"}, Kind::SetProfile, {}, 0},
        {{u"set-profile", u"7"}, std::nullopt, u"profile 7 is not 0-4"},
        {{u"set-profile"}, std::nullopt, u"set-profile takes a PROFILE"},
        {{u"set-group", u"1"}, Kind::SetGroup, {}, 0, 0, 1},
        {{u"set-group", u"2"}, std::nullopt, u"group 2 is not 0-1"},
        // A code or an index, found in the language list only when the command runs.
        {{u"set-language", u"1"}, Kind::SetLanguage, {}},
        {{u"set-language", u"0804"}, Kind::SetLanguage, {}},
        {{u"set-language", u"us"}, Kind::SetLanguage, {}},
        {{u"set-language", u"-1"}, std::nullopt, u"language -1 is neither a code nor an index"},
        {{u"set-language", u"U S"}, std::nullopt, u"language U S is neither a code nor an index"},
        {{u"set-language", u""}, std::nullopt, u"language  is neither a code nor an index"},
        {{u"set-language"}, std::nullopt, u"set-language takes a language's CODE or INDEX"},
        {{u"show"}, Kind::Show, {}, kAllProfiles},
        {{u"show", u"3"}, Kind::Show, {}, 3},
        {{u"show", u"9"}, std::nullopt, u"profile 9 is not 0-4"},
        {{u"show", u"1", u"2"}, std::nullopt, u"show takes at most a PROFILE"},
        {{u"functions"}, Kind::ListFunctions, {}},
        {{u"reload-profiles", u"3"}, Kind::ReloadProfiles, {}, 0, 0, 3},
        {{u"reload-profiles", u"three"}, std::nullopt, u"profile identifier three is not a number"},
        {{u"reload-settings"}, Kind::ReloadSettings, {}},
        {{u"reload-settings", u"1"}, std::nullopt, u"reload-settings takes no argument"},
        {{u"frobnicate", u"1"}, std::nullopt, u"not a command of the stand-in: frobnicate 1"},
        {{}, std::nullopt, u"no command given"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& arg : c.args)
            line += Narrow(arg) + " ";
        SCOPED_TRACE(line);
        const ParsedStandInCommand parsed = ParseStandInCommand(c.args);
        ASSERT_EQ(parsed.command.has_value(), c.kind.has_value()) << Narrow(parsed.problem);
        if (!c.kind) {
            EXPECT_EQ(Narrow(parsed.problem), Narrow(c.problem));
            continue;
        }
        EXPECT_EQ(parsed.command->kind, *c.kind);
        EXPECT_EQ(parsed.command->profile, c.profile);
        EXPECT_EQ(parsed.command->button, c.button);
        if (c.kind != Kind::SetLanguage) {
            EXPECT_EQ(parsed.command->value, c.value);
        }
    }
}

TEST(StandInCommandLine, OnlyAnUnknownVerbAsksForTheUsage) {
    EXPECT_TRUE(ParseStandInCommand(Args{u"frobnicate"}).unknown);
    EXPECT_FALSE(ParseStandInCommand(Args{u"set-profile", u"9"}).unknown);
}

// Every function has one name that the command line takes back to its code; the names are
// unique, lower case with dashes, and numbers are taken as codes.
TEST(FunctionNames, EachCodeHasOneNameThatLeadsBackToIt) {
    std::set<std::u16string_view> seen;
    for (int code = 0; code < kFunctionCodeCount; ++code) {
        const std::u16string_view name = FunctionName(code);
        SCOPED_TRACE(code);
        EXPECT_TRUE(seen.insert(name).second) << "named twice";
        EXPECT_TRUE(!name.empty() && std::ranges::all_of(name, [](char16_t c) {
            return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
        }));
        EXPECT_EQ(FindFunction(name), code);
        EXPECT_EQ(FindFunction(DecimalText(code)), code);
    }
    EXPECT_EQ(FindFunction(u"MIC-MUTE"), kFunctionCodeMicrophoneMute);
    EXPECT_TRUE(FunctionName(-1).empty());
    EXPECT_TRUE(FunctionName(kFunctionCodeCount).empty());
    for (const char16_t* text : {u"48", u"-1", u"", u"028", u"0x1c", u"mic", u"mic-mute "})
        EXPECT_FALSE(FindFunction(text).has_value()) << Narrow(text);
}

TEST(StandInCommandLine, SaysWhatEachCommandDoes) {
    const struct {
        Args args;
        std::u16string said;
    } cases[] = {
        {{u"set-button", u"0", u"4", u"28"}, u"button 4 of profile 0: mic-mute (function 28)"},
        {{u"set-button", u"4", u"0", u"3"}, u"button 0 of profile 4: mouse-button-5 (function 3)"},
        {{u"set-profile", u"2"}, u"profile 2 is the current one"},
        {{u"set-group", u"1"}, u"profile group 1 is the current one"},
        {{u"reload-profiles", u"7"}, u"profiles to be reloaded, recording profile identifier 7"},
        {{u"reload-settings"}, u"settings to be reloaded"},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseStandInCommand(c.args);
        ASSERT_TRUE(parsed.command.has_value());
        EXPECT_EQ(Narrow(DescribeStandInCommand(*parsed.command)), Narrow(c.said));
    }
}

// The monitor's language list with and without "ui.local" beside it: its languages are named
// by digits and come before the built-in CH and US.
class StandInLanguageTest : public ::testing::Test {
  protected:
    void TearDown() override { ResetLanguage(); }
    void PutLanguageFile() {
        TranslationTable table;
        for (const char16_t* code : {u"0409", u"0804", u"0404"}) {
            table.Resources.push_back({code, {}});
            table.Resources.back().lines.Add(u"Config=Config " + std::u16string(code));
        }
        table.Original.Add(u"Config");
        files_.Put(files_.ExecutableFolder() + std::u16string(kLanguageFileName),
                   *WriteTable(table));
    }

    fake::FakeLocale locale_;
    fake::MemoryFileSystem files_;
};

TEST_F(StandInLanguageTest, ALanguageIsLookedUpAsACodeFirstThenAsAnIndex) {
    const struct {
        bool language_file;
        std::u16string given;
        std::optional<std::int32_t> index;  // nothing: refused
        std::u16string said;                // what the command says, or the start of the refusal
    } cases[] = {
        {false, u"us", 1, u"interface language 1 (US)"},
        {false, u"0", 0, u"interface language 0 (CH)"},
        {false, u"1", 1, u"interface language 1 (US)"},
        {false, u"2", std::nullopt,
         u"no language has the index or code 2; the monitor's "
         u"languages are 0 (CH), 1 (US)"},
        {false, u"0804", std::nullopt, u"no language has the index or code 0804"},
        {false, u"XX", std::nullopt, u"no language has the code XX"},
        {true, u"0409", 0, u"interface language 0 (0409)"},
        {true, u"0804", 1, u"interface language 1 (0804)"},
        {true, u"0404", 2, u"interface language 2 (0404)"},
        {true, u"ch", 3, u"interface language 3 (CH)"},
        {true, u"4", 4, u"interface language 4 (US)"},
        {true, u"9", std::nullopt,
         u"no language has the index or code 9; the monitor's languages "
         u"are 0 (0409), 1 (0804), 2 (0404), 3 (CH), 4 (US)"},
        {true, u"99999999999", std::nullopt, u"no language has the index or code 99999999999"},
        {true, u"x1", std::nullopt, u"no language has the code x1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.given.begin(), c.given.end()) +
                     (c.language_file ? " with ui.local" : ""));
        files_ = fake::MemoryFileSystem();
        if (c.language_file)
            PutLanguageFile();
        auto command = ParseStandInCommand(Args{u"set-language", c.given}).command;
        ASSERT_TRUE(command.has_value());
        const std::optional<std::u16string> problem = ResolveLanguage(*command, {locale_, files_});
        EXPECT_EQ(!problem.has_value(), c.index.has_value());
        if (c.index) {
            EXPECT_EQ(command->value, *c.index);
            EXPECT_EQ(DescribeStandInCommand(*command), c.said);
        } else if (problem) {
            EXPECT_EQ(problem->substr(0, c.said.size()), c.said);
        }
    }
}

TEST_F(StandInLanguageTest, OtherCommandsNeedNoLanguage) {
    auto command = ParseStandInCommand(Args{u"set-profile", u"2"}).command;
    ASSERT_TRUE(command.has_value());
    EXPECT_FALSE(ResolveLanguage(*command, {locale_, files_}).has_value());
    EXPECT_EQ(command->profile, 2);
}

// The stand-in and the monitor each have their own data module over the same registry: what
// the stand-in stores, the monitor's reload finds, and so does a monitor started afterwards.
class StandInTest : public ::testing::Test, protected fake::FakeDataModulePorts {
  protected:
    void TearDown() override { ResetLanguage(); }
    std::unique_ptr<TDM> Module() { return LoadDataModule(Ports()); }
    ReloadRequest Apply(StandInCommand command) {
        EXPECT_FALSE(ResolveLanguage(command, {locale, files}).has_value());
        return ApplyStandInCommand(command, *Module());
    }
    ReloadRequest Run(Args args) {
        auto command = ParseStandInCommand(args).command;
        EXPECT_TRUE(command.has_value());
        return command ? Apply(*command) : ReloadRequest{};
    }
    static void ReloadProfiles(TDM& monitor) {
        monitor.LoadProfileGroupSettingInfoFromRegistry();
        monitor.LoadAllProfileInfoFromRegistry();
        EXPECT_TRUE(monitor.LoadCurrentProfileInfoFromRegistry());
    }
};

// The fault of a first start: CurrentGame (read at the monitor's start-up) is 2 and group 0's
// entry (read by its reload) is 0. Whatever makes a profile current, and any command before a
// reload, leaves both naming the same profile, so that a monitor that reloads and one that
// starts afresh act by the same profile.
TEST_F(StandInTest, StartUpAndReloadAgreeOnTheCurrentProfile) {
    const struct {
        const char* what;
        std::optional<StandInCommand> command;
        std::int32_t current;
    } cases[] = {
        {"set-profile 3", ParseStandInCommand(Args{u"set-profile", u"3"}).command, 3},
        {"the mouse switched to 4", ProfileSwitchedCommand(4), 4},
        {"set-group 1: its profile", ParseStandInCommand(Args{u"set-group", u"1"}).command, 1},
        {"set-button: the group's profile",
         ParseStandInCommand(Args{u"set-button", u"0", u"4", u"mic-mute"}).command, 0},
        {"set-language: the group's profile",
         ParseStandInCommand(Args{u"set-language", u"1"}).command, 0},
        {"reload-profiles: the group's profile",
         ParseStandInCommand(Args{u"reload-profiles", u"9"}).command, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.command.has_value());
        fake::FakeDataModulePorts machine;  // a clean one for each case
        const auto running = LoadDataModule(machine.Ports());
        ASSERT_EQ(running->FProfileIndex, 2);  // the defaults disagree
        StandInCommand command = *c.command;
        ASSERT_FALSE(ResolveLanguage(command, {machine.locale, machine.files}).has_value());
        EXPECT_TRUE(ApplyStandInCommand(command, *LoadDataModule(machine.Ports())).stored);
        // As the monitor reloads: a profile never stored keeps its image in memory.
        running->LoadProfileGroupSettingInfoFromRegistry();
        running->LoadAllProfileInfoFromRegistry();
        static_cast<void>(running->LoadCurrentProfileInfoFromRegistry());
        EXPECT_EQ(running->FProfileIndex, c.current);
        const auto restarted = LoadDataModule(machine.Ports());
        EXPECT_EQ(restarted->FProfileIndex, c.current);
        EXPECT_EQ(restarted->FAllProfileSettingInfo.CurrentGame, c.current);
        EXPECT_EQ(restarted->FProfileSettingGroup
                      .ProfileIndexOfProfileGroup[restarted->FProfileGroupIndex],
                  c.current);
    }
}

// The road of the issue a user met: button 4 of the current profile set to the microphone mute
// works after the reload and still after the monitor restarts.
TEST_F(StandInTest, AButtonSetOnAFirstStartKeepsWorkingAfterARestart) {
    const auto monitor = Module();
    const ReloadRequest request = Run({u"set-button", u"0", u"4", u"mic-mute"});
    EXPECT_EQ(request.kind, ReloadRequest::Kind::ReloadProfiles);
    EXPECT_EQ(request.profile_id, 0);
    EXPECT_NE(monitor->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode, 28);
    ReloadProfiles(*monitor);
    const auto restarted = Module();
    for (const TDM* m : {monitor.get(), restarted.get()}) {
        const TBUTTONFUNCINFO& button = m->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4];
        EXPECT_EQ(button.FunctionCode, kFunctionCodeMicrophoneMute);
        EXPECT_EQ(button.DeviceCode, 14);
        EXPECT_EQ(button.FunctionID, 914);
    }
}

TEST_F(StandInTest, AProfileSwitchOutsideTheFiveProfilesIsNoCommand) {
    for (const std::int64_t slot : {-1LL, 5LL, 255LL, 1LL << 40})
        EXPECT_FALSE(ProfileSwitchedCommand(slot).has_value()) << slot;
    EXPECT_EQ(ProfileSwitchedCommand(0)->profile, 0);
}

TEST_F(StandInTest, SetProfileAndSetLanguage) {
    const auto monitor = Module();
    Run({u"set-button", u"4", u"1", u"28"});
    EXPECT_EQ(Run({u"set-profile", u"4"}).kind, ReloadRequest::Kind::ReloadProfiles);
    ReloadProfiles(*monitor);
    EXPECT_EQ(monitor->FProfileIndex, 4);
    EXPECT_EQ(monitor->FAllProfileSettingInfo.CurrentGame, 4);
    EXPECT_EQ(monitor->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[1].FunctionCode, 28);

    EXPECT_EQ(Run({u"set-language", u"1"}).kind, ReloadRequest::Kind::ReloadSettings);
    monitor->LoadAllProfileInfoFromRegistry();
    EXPECT_EQ(monitor->FAllProfileSettingInfo.CurrentLanguage, 1);
    EXPECT_EQ(monitor->FAllProfileSettingInfo.CurrentGame, 4);  // the language kept it
}

// A stored record the stand-in cannot write back (a full disk, a registry that refuses) is
// reported as not stored, so that the monitor is not asked to reload.
TEST_F(StandInTest, ARecordThatCannotBeWrittenIsReported) {
    const auto stored = Module();  // the defaults are stored
    registry.MakeUnavailable(StoreScope::User,
                             KeyPathFromText(stored->FOptionsFromConfigFile.ProfileRegFolder));
    EXPECT_FALSE(Run({u"set-button", u"0", u"4", u"28"}).stored);
    EXPECT_FALSE(Run({u"set-profile", u"3"}).stored);
}

// show lists what the monitor reads: each button's function by name, the current profile
// marked, and a damaged code named as one outside the table.
TEST_F(StandInTest, ShowListsEachButtonsFunction) {
    Run({u"set-button", u"0", u"4", u"mic-mute"});
    Run({u"set-button", u"3", u"11", u"alt-f4"});
    EXPECT_EQ(Run({u"show"}).kind, ReloadRequest::Kind::None);
    const std::string all = Narrow(ListButtons(*Module(), kAllProfiles));
    EXPECT_NE(all.find("profile 0 (current, group 0)\n"), std::string::npos) << all;
    EXPECT_NE(all.find("  button 4: mic-mute (28)\n"), std::string::npos) << all;
    EXPECT_NE(all.find("profile 3\n"), std::string::npos) << all;
    EXPECT_NE(all.find("  button 11: alt-f4 (16)"), std::string::npos) << all;
    EXPECT_EQ(std::ranges::count(all, '\n'), 5 * 13 - 1);

    const std::string one = Narrow(ListButtons(*Module(), 3));
    EXPECT_EQ(one.rfind("profile 3\n  button 0: ", 0), 0u) << one;
    EXPECT_EQ(std::ranges::count(one, '\n'), 12);

    const auto stand_in = Module();
    auto image = std::make_unique<TMouseProfileInfo>();
    ASSERT_TRUE(stand_in->ReadProfileInfo(*image, 2));
    image->ConfigInfo.ButtonFuncInfo[7].FunctionCode = 200;
    ASSERT_TRUE(stand_in->SaveBackToProfileInfo(*image, 2));
    ASSERT_TRUE(stand_in->SaveProfileInfoToRegistry(2));
    EXPECT_NE(Narrow(ListButtons(*Module(), 2)).find("  button 7: no function of the table (200)"),
              std::string::npos);
}

TEST(StandInFunctions, TheListNamesEveryCodeOnce) {
    const std::string list = Narrow(ListFunctions());
    EXPECT_EQ(std::ranges::count(list, '\n'), kFunctionCodeCount - 1);
    EXPECT_EQ(list.rfind("0 left-click\n", 0), 0u);
    EXPECT_NE(list.find("\n28 mic-mute\n"), std::string::npos);
}

// The one line of config.ini that the window's microphone-state box changes; the rest of the
// file stays as it was.
TEST(MicrophoneStateSetting, OnlyTheKeysLineChanges) {
    const struct {
        const char* what;
        std::string before;
        std::optional<std::string> after;
    } cases[] = {
        {"replaced", "[options]\r\nA=1\r\n[OtherConfig]\r\nX=2\r\nShowMicrophoneState=1\r\n",
         "[options]\r\nA=1\r\n[OtherConfig]\r\nX=2\r\nShowMicrophoneState=0\r\n"},
        {"names in another case, blanks", "[otherconfig]\n  showmicrophonestate = 1\n[x]\n",
         "[otherconfig]\nShowMicrophoneState=0\n[x]\n"},
        {"a comment is not the key", "[OtherConfig]\n;ShowMicrophoneState=1\n",
         "[OtherConfig]\nShowMicrophoneState=0\n;ShowMicrophoneState=1\n"},
        {"the key of another section is not it", "[options]\nShowMicrophoneState=1\n",
         "[options]\nShowMicrophoneState=1\n[OtherConfig]\nShowMicrophoneState=0\n"},
        {"the first section of the name is the one read",
         "[OtherConfig]\nA=1\n[OtherConfig]\nShowMicrophoneState=1\n",
         "[OtherConfig]\nShowMicrophoneState=0\nA=1\n[OtherConfig]\nShowMicrophoneState=1\n"},
        {"no file yet", "", "[OtherConfig]\r\nShowMicrophoneState=0\r\n"},
        {"a last line without its end", "[OtherConfig]\nShowMicrophoneState=1",
         "[OtherConfig]\nShowMicrophoneState=0\n"},
        {"a UTF-8 byte-order mark stays in front of the first section",
         "\xEF\xBB\xBF[OtherConfig]\r\nShowMicrophoneState=1\r\n",
         "\xEF\xBB\xBF[OtherConfig]\r\nShowMicrophoneState=0\r\n"},
        {"a byte-order mark alone", "\xEF\xBB\xBF",
         "\xEF\xBB\xBF[OtherConfig]\r\nShowMicrophoneState=0\r\n"},
        {"UTF-16 is not edited", std::string("\xFF\xFE[\0", 4), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WithSettingsValue(c.before, "OtherConfig", "ShowMicrophoneState", "0"), c.after);
    }
}

TEST(MicrophoneStateSetting, WrittenAndReadBackThroughTheFile) {
    fake::MemoryFileSystem files;
    fake::FakeLocale locale;
    const std::u16string path = files.ExecutableFolder() + u"config.ini";
    EXPECT_EQ(ReadMicrophoneStateShown(path, files, locale), true);  // no file: the default
    EXPECT_EQ(
        Narrow(WriteMicrophoneStateShown(path, files, false)),
        "ShowMicrophoneState=0: the tray icon will stay plain, from the monitor's next start");
    EXPECT_EQ(ReadMicrophoneStateShown(path, files, locale), false);
    // What the monitor reads from the same file.
    EXPECT_EQ(SettingsFile::Load(files, locale).ReadOtherConfig().ShowMicrophoneState, 0);
    EXPECT_EQ(ReadMicrophoneStateShown(path, files, locale), false);
    // A file that begins with a UTF-8 byte-order mark: what is written is what the monitor reads.
    const std::string marked = "\xEF\xBB\xBF[OtherConfig]\r\nShowMicrophoneState=1\r\n";
    files.Put(path, std::vector<std::uint8_t>(marked.begin(), marked.end()));
    EXPECT_EQ(ReadMicrophoneStateShown(path, files, locale), true);
    static_cast<void>(WriteMicrophoneStateShown(path, files, false));
    EXPECT_EQ(SettingsFile::Load(files, locale).ReadOtherConfig().ShowMicrophoneState, 0);
    EXPECT_EQ(ReadMicrophoneStateShown(path, files, locale), false);
    files.FailWrites(true);
    EXPECT_EQ(Narrow(WriteMicrophoneStateShown(path, files, true)),
              "the settings file cannot be written; ShowMicrophoneState is unchanged");
    EXPECT_EQ(ReadMicrophoneStateShown(path, files, locale), false);
    files.PutUnreadable(path);
    EXPECT_EQ(ReadMicrophoneStateShown(path, files, locale), std::nullopt);
}

}  // namespace
}  // namespace korv
