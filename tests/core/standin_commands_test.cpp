#include "app/standin_commands.h"

#include <gtest/gtest.h>

#include "app/messages.h"
#include "app/settings_file.h"
#include "base/decimal_text.h"
#include "lang/component.h"
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
        {{u"set-language", u"1"}, Kind::SetLanguage},
        {{u"set-language", u"x1"}, std::nullopt},
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
        {{u"set-language", u"1"}, u"interface language 1"},
        {{u"reload-profiles", u"7"}, u"profiles to be reloaded, recording profile identifier 7"},
        {{u"reload-settings"}, u"settings to be reloaded"},
    };
    for (const auto& c : cases) {
        const auto command = ParseStandInCommand(c.args);
        ASSERT_TRUE(command.has_value());
        EXPECT_EQ(DescribeStandInCommand(*command), c.said);
    }
}

TEST(StandInCommandLine, ALanguageCodeResolvesToItsIndexInTheMonitorsList) {
    fake::FakeLocale locale;
    fake::MemoryFileSystem files;  // no ui.local: the built-in languages only
    auto command = ParseStandInCommand(Args{u"set-language", u"us"});
    ASSERT_TRUE(command.has_value());
    ASSERT_TRUE(ResolveLanguageCode(*command, {locale, files}));
    Component root(nullptr, u"Test", u"TTest", ComponentKind::kWindow);
    EXPECT_EQ(command->value,
              CreateLanguageComponent(root, {locale, files}).GetLanguageIndexByShortID(u"US"));
    EXPECT_EQ(DescribeStandInCommand(*command),
              u"interface language " + DecimalText(command->value) + u" (us)");
    auto unknown = ParseStandInCommand(Args{u"set-language", u"XX"});
    ASSERT_TRUE(unknown.has_value());
    EXPECT_FALSE(ResolveLanguageCode(*unknown, {locale, files}));
    EXPECT_FALSE(ParseStandInCommand(Args{u"set-language", u"U5"}).has_value());
}

// The stand-in and the monitor each have their own data module over the same registry: what
// the stand-in stores, the monitor's reload finds.
class StandInTest : public ::testing::Test, protected fake::FakeDataModulePorts {
  protected:
    std::unique_ptr<TDM> Module() { return LoadDataModule(Ports()); }
    ReloadRequest Run(Args args) {
        const auto command = ParseStandInCommand(args);
        EXPECT_TRUE(command.has_value());
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
    EXPECT_EQ(request.message, UM_RELOAD_PROFILES);
    EXPECT_EQ(request.lparam, 0);
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
    EXPECT_EQ(Run({u"set-profile", u"5"}).message, UM_RELOAD_PROFILES);
    ReloadProfiles(*monitor);
    EXPECT_EQ(monitor->FProfileIndex, 4);
    EXPECT_EQ(monitor->FAllProfileSettingInfo.CurrentGame, 4);
    EXPECT_EQ(monitor->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[1].FunctionCode, 28);

    EXPECT_EQ(Run({u"set-language", u"1"}).message, UM_RELOAD_SETTINGS);
    monitor->LoadAllProfileInfoFromRegistry();
    EXPECT_EQ(monitor->FAllProfileSettingInfo.CurrentLanguage, 1);
}

}  // namespace
}  // namespace korv
