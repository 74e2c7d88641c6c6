#include "programs/cfgstandin/standin_commands.h"

#include <algorithm>
#include <memory>

#include "app/settings_file.h"
#include "base/decimal_text.h"
#include "lang/component.h"
#include "lang/ui_language.h"
#include "profile/dm_unit.h"
#include "profile/function_codes.h"

namespace korv {

const char16_t kStandInUsage[] =
    u"KORVANTH417.EXE [/log FILE] [/hide]    run the window that shows what the monitor sends\n"
    u"KORVANTH417.EXE set-button PROFILE BUTTON CODE    profile 1-5, button 0-11, code 0-47\n"
    u"KORVANTH417.EXE set-profile PROFILE               profile 1-5\n"
    u"KORVANTH417.EXE set-language CODE|INDEX           code or index, e.g. 0804, US or 1\n"
    u"KORVANTH417.EXE reload-profiles ID\n"
    u"KORVANTH417.EXE reload-settings\n";

namespace {

std::optional<std::int32_t> Number(const std::u16string& text, std::int32_t low,
                                   std::int32_t high) {
    const std::optional<std::int32_t> value = ParseSettingsInteger(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return value;
}

// Letters and digits, as language codes ("US", "0804") and indexes are.
bool IsLanguageText(std::u16string_view text) {
    return !text.empty() && text.size() <= 16 && std::ranges::all_of(text, [](char16_t c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
    });
}

bool IsPlainNumber(std::u16string_view text) {
    return std::ranges::all_of(text, [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// "0 (0409), 1 (0804), ..." for a message.
std::u16string ListLanguages(const TuiLanguage& languages) {
    std::u16string list;
    for (std::int32_t i = 0;; ++i) {
        const std::u16string code = languages.GetLanguageShortIDByIndex(i);
        if (code.empty())
            return list;
        list += (i == 0 ? u"" : u", ") + DecimalText(i) + u" (" + code + u")";
    }
}

}  // namespace

std::optional<std::u16string> ResolveLanguage(StandInCommand& command, const LanguagePorts& ports) {
    if (command.kind != StandInCommand::Kind::SetLanguage)
        return std::nullopt;
    Component root(nullptr, u"StandIn", u"TStandIn", ComponentKind::kWindow);
    const TuiLanguage& languages = CreateLanguageComponent(root, ports);
    std::int32_t index = languages.GetLanguageIndexByShortID(command.language);
    if (index < 0 && IsPlainNumber(command.language)) {
        const std::optional<std::int32_t> number = ParseSettingsInteger(command.language);
        if (number && !languages.GetLanguageShortIDByIndex(*number).empty())
            index = *number;
    }
    if (index < 0) {
        return u"no language has the " +
               std::u16string(IsPlainNumber(command.language) ? u"index or code " : u"code ") +
               command.language + u"; the monitor's languages are " + ListLanguages(languages);
    }
    command.value = index;
    command.language = languages.GetLanguageShortIDByIndex(index);
    return std::nullopt;
}

std::optional<StandInCommand> ParseStandInCommand(std::span<const std::u16string> args) {
    if (args.empty())
        return std::nullopt;
    const std::u16string& verb = args[0];
    using Kind = StandInCommand::Kind;
    if (verb == u"set-button" && args.size() == 4) {
        const auto profile = Number(args[1], 1, 5);
        const auto button = Number(args[2], 0, kMaxProfileButtons - 1);
        const auto code = Number(args[3], 0, kFunctionCodeCount - 1);
        if (!profile || !button || !code)
            return std::nullopt;
        return StandInCommand{Kind::SetButton, *profile - 1, *button, *code, {}};
    }
    if (verb == u"set-profile" && args.size() == 2) {
        const auto profile = Number(args[1], 1, 5);
        if (!profile)
            return std::nullopt;
        return StandInCommand{Kind::SetProfile, *profile - 1, 0, 0, {}};
    }
    if (verb == u"set-language" && args.size() == 2) {
        if (!IsLanguageText(args[1]))
            return std::nullopt;
        return StandInCommand{Kind::SetLanguage, 0, 0, 0, args[1]};
    }
    if (verb == u"reload-profiles" && args.size() == 2) {
        const auto id = ParseSettingsInteger(args[1]);
        if (!id)
            return std::nullopt;
        return StandInCommand{Kind::ReloadProfiles, 0, 0, *id, {}};
    }
    if (verb == u"reload-settings" && args.size() == 1) {
        return StandInCommand{Kind::ReloadSettings, 0, 0, 0, {}};
    }
    return std::nullopt;
}

namespace {

// The button takes the three values of the code's row, as the configuration program writes a
// function; the profile goes to the registry, where the monitor reloads it from.
bool SetButton(TDM& dm, std::int32_t profile, std::int32_t button, std::int32_t code) {
    auto image = std::make_unique<TMouseProfileInfo>();
    if (!dm.ReadProfileInfo(*image, profile))
        return false;
    TBUTTONFUNCINFO& entry = image->ConfigInfo.ButtonFuncInfo[button];
    const TFunctionCodeRow row = FunctionCodeTable[static_cast<std::size_t>(code)];
    entry.ButtonIndex = static_cast<std::uint16_t>(button);
    entry.FunctionCode = static_cast<std::uint16_t>(code);
    entry.DeviceCode = row.DeviceCode;
    entry.FunctionID = row.FunctionID;
    return dm.SaveBackToProfileInfo(*image, profile) && dm.SaveProfileInfoToRegistry(profile);
}

// The current profile is the one the current group selects, and CurrentGame.
bool SetProfile(TDM& dm, std::int32_t profile) {
    dm.FProfileSettingGroup.ProfileIndexOfProfileGroup[dm.FProfileGroupIndex] = profile;
    const bool group_stored = dm.SaveProfileGroupSettingInfoToRegistry();
    return dm.SwitchToProfile(profile) && dm.SaveBackAllProfileSettingInfo() && group_stored;
}

}  // namespace

std::u16string DescribeStandInCommand(const StandInCommand& command) {
    using Kind = StandInCommand::Kind;
    switch (command.kind) {
        case Kind::SetButton:
            return u"button " + DecimalText(command.button) + u" of profile " +
                   DecimalText(command.profile + 1) + u": function " + DecimalText(command.value) +
                   (command.value == kFunctionCodeMicrophoneMute ? u" (microphone mute)" : u"");
        case Kind::SetProfile:
            return u"profile " + DecimalText(command.profile + 1) + u" is the current one";
        case Kind::SetLanguage:
            return u"interface language " + DecimalText(command.value) + u" (" + command.language +
                   u")";
        case Kind::ReloadProfiles:
            return u"profiles to be reloaded, recording profile identifier " +
                   DecimalText(command.value);
        case Kind::ReloadSettings:
            break;
    }
    return u"settings to be reloaded";
}

ReloadRequest ApplyStandInCommand(const StandInCommand& command, TDM& dm) {
    using Kind = StandInCommand::Kind;
    constexpr auto kReloadProfiles = ReloadRequest::Kind::ReloadProfiles;
    constexpr auto kReloadSettings = ReloadRequest::Kind::ReloadSettings;
    switch (command.kind) {
        case Kind::SetButton:
            return {kReloadProfiles, command.profile,
                    SetButton(dm, command.profile, command.button, command.value)};
        case Kind::SetProfile:
            return {kReloadProfiles, command.profile, SetProfile(dm, command.profile)};
        case Kind::SetLanguage:
            dm.FAllProfileSettingInfo.CurrentLanguage = static_cast<std::uint8_t>(command.value);
            return {kReloadSettings, 0, dm.SaveBackAllProfileSettingInfo()};
        case Kind::ReloadProfiles:
            return {kReloadProfiles, command.value};
        case Kind::ReloadSettings:
            break;
    }
    return {kReloadSettings, 0};
}

}  // namespace korv
