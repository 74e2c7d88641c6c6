#include "programs/cfgstandin/standin_commands.h"

#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "lang/table_format.h"
#include "lang/translation_engine.h"
#include "lang/ui_language.h"
#include "platform/fake/fake_data_module_ports.h"
#include "profile/dm_unit.h"
#include "profile/function_codes.h"

namespace korv {
namespace {

using Args = std::vector<std::u16string>;

TEST(StandInCommandLine, ParsesValidCommandsOnly) {
    using Kind = StandInCommand::Kind;
    const struct {
        Args args;
        std::optional<Kind> kind;
    } cases[] = {
        {{u"set-button", u"2", u"4", u"28"}, Kind::SetButton},
        {{u"set-button", u"6", u"4", u"28"}, std::nullopt},
        {{u"set-button", u"1", u"12", u"28"}, std::nullopt},
        {{u"set-button", u"1", u"0", u"48"}, std::nullopt},
        {{u"set-button", u"1", u"0"}, std::nullopt},
        {{u"set-profile", u"5"}, Kind::SetProfile},
        {{u"set-profile", u"0"}, std::nullopt},
        // A code or an index, found in the language list only when the command runs.
        {{u"set-language", u"1"}, Kind::SetLanguage},
        {{u"set-language", u"0804"}, Kind::SetLanguage},
        {{u"set-language", u"us"}, Kind::SetLanguage},
        {{u"set-language", u"-1"}, std::nullopt},
        {{u"set-language", u"U S"}, std::nullopt},
        {{u"set-language", u""}, std::nullopt},
        {{u"set-language"}, std::nullopt},
        {{u"reload-profiles", u"3"}, Kind::ReloadProfiles},
        {{u"reload-settings"}, Kind::ReloadSettings},
        {{u"reload-settings", u"1"}, std::nullopt},
        {{u"frobnicate"}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : std::string(c.args[0].begin(), c.args[0].end()));
        const auto command = ParseStandInCommand(c.args);
        EXPECT_EQ(command.has_value(), c.kind.has_value());
        if (command && c.kind) {
            EXPECT_EQ(command->kind, *c.kind);
        }
    }
}

TEST(StandInCommandLine, SaysWhatEachCommandDoes) {
    const struct {
        Args args;
        std::u16string said;
    } cases[] = {
        {{u"set-button", u"1", u"4", u"28"},
         u"button 4 of profile 1: function 28 (microphone mute)"},
        {{u"set-button", u"5", u"0", u"3"}, u"button 0 of profile 5: function 3"},
        {{u"set-profile", u"2"}, u"profile 2 is the current one"},
        {{u"reload-profiles", u"7"}, u"profiles to be reloaded, recording profile identifier 7"},
        {{u"reload-settings"}, u"settings to be reloaded"},
    };
    for (const auto& c : cases) {
        const auto command = ParseStandInCommand(c.args);
        ASSERT_TRUE(command.has_value());
        EXPECT_EQ(DescribeStandInCommand(*command), c.said);
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
        auto command = ParseStandInCommand(Args{u"set-language", c.given});
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
    auto command = ParseStandInCommand(Args{u"set-profile", u"2"});
    ASSERT_TRUE(command.has_value());
    EXPECT_FALSE(ResolveLanguage(*command, {locale_, files_}).has_value());
    EXPECT_EQ(command->profile, 1);
}

// The stand-in and the monitor each have their own data module over the same registry: what
// the stand-in stores, the monitor's reload finds.
class StandInTest : public ::testing::Test, protected fake::FakeDataModulePorts {
  protected:
    void TearDown() override { ResetLanguage(); }
    std::unique_ptr<TDM> Module() { return LoadDataModule(Ports()); }
    ReloadRequest Run(Args args) {
        auto command = ParseStandInCommand(args);
        EXPECT_TRUE(command.has_value());
        EXPECT_FALSE(ResolveLanguage(*command, {locale, files}).has_value());
        return ApplyStandInCommand(*command, *Module());
    }
    static void ReloadProfiles(TDM& monitor) {
        monitor.LoadProfileGroupSettingInfoFromRegistry();
        monitor.LoadAllProfileInfoFromRegistry();
        EXPECT_TRUE(monitor.LoadCurrentProfileInfoFromRegistry());
    }
};

// On a first start the third profile is active (the all-settings default), so the edited
// profile is made the current one first, as a user of the configuration program does.
TEST_F(StandInTest, AMonitorStartedAfterwardsHasTheEditedButton) {
    EXPECT_TRUE(Run({u"set-profile", u"1"}).stored);
    EXPECT_TRUE(Run({u"set-button", u"1", u"4", u"28"}).stored);
    const auto monitor = Module();
    EXPECT_EQ(monitor->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode,
              kFunctionCodeMicrophoneMute);
}

TEST_F(StandInTest, SetButtonReachesTheMonitorThroughTheRegistry) {
    const auto monitor = Module();
    // A reload makes the profile of the current group (group 0: profile 1) the active one.
    const ReloadRequest request = Run({u"set-button", u"1", u"4", u"28"});
    EXPECT_EQ(request.kind, ReloadRequest::Kind::ReloadProfiles);
    EXPECT_EQ(request.profile_id, 0);
    EXPECT_NE(monitor->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4].FunctionCode, 28);
    ReloadProfiles(*monitor);
    const TBUTTONFUNCINFO& button = monitor->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[4];
    EXPECT_EQ(button.FunctionCode, 28);
    EXPECT_EQ(button.DeviceCode, 14);
    EXPECT_EQ(button.FunctionID, 914);
}

TEST_F(StandInTest, SetProfileAndSetLanguage) {
    const auto monitor = Module();
    Run({u"set-button", u"5", u"1", u"28"});
    EXPECT_EQ(Run({u"set-profile", u"5"}).kind, ReloadRequest::Kind::ReloadProfiles);
    ReloadProfiles(*monitor);
    EXPECT_EQ(monitor->FProfileIndex, 4);
    EXPECT_EQ(monitor->FAllProfileSettingInfo.CurrentGame, 4);
    EXPECT_EQ(monitor->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[1].FunctionCode, 28);

    EXPECT_EQ(Run({u"set-language", u"1"}).kind, ReloadRequest::Kind::ReloadSettings);
    monitor->LoadAllProfileInfoFromRegistry();
    EXPECT_EQ(monitor->FAllProfileSettingInfo.CurrentLanguage, 1);
}

}  // namespace
}  // namespace korv
