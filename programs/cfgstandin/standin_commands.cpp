#include "programs/cfgstandin/standin_commands.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "app/settings_file.h"
#include "base/decimal_text.h"
#include "lang/component.h"
#include "lang/ui_language.h"
#include "profile/dm_unit.h"
#include "profile/function_codes.h"
#include "programs/cfgstandin/function_names.h"

namespace korv {

namespace {

using Kind = StandInCommand::Kind;

// Letters and digits, as language codes ("US", "0804") and indexes are.
bool IsLanguageText(std::u16string_view text) {
    return !text.empty() && text.size() <= 16 && std::ranges::all_of(text, [](char16_t c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
    });
}

bool IsPlainNumber(std::u16string_view text) {
    return std::ranges::all_of(text, [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

std::u16string Join(std::span<const std::u16string> args) {
    std::u16string line;
    for (const std::u16string& arg : args)
        line += (line.empty() ? u"" : u" ") + arg;
    return line;
}

// The arguments of one command and the first thing wrong with them.
class Arguments {
  public:
    explicit Arguments(std::span<const std::u16string> args) : args_(args) {}

    // Whether the command has exactly the arguments `names` says ("PROFILE BUTTON FUNCTION").
    bool Count(std::size_t count, std::u16string_view names) {
        if (args_.size() == count + 1)
            return true;
        Fail(args_[0] + (count == 0 ? u" takes no argument" : u" takes " + std::u16string(names)));
        return false;
    }
    // Argument `index` as a number low-high, called `what` in the refusal.
    std::int32_t Number(std::size_t index, std::u16string_view what, std::int32_t low,
                        std::int32_t high) {
        const std::optional<std::int32_t> value = ParseSettingsInteger(args_[index]);
        if (value && *value >= low && *value <= high)
            return *value;
        Fail(std::u16string(what) + u" " + args_[index] + u" is not " + DecimalText(low) + u"-" +
             DecimalText(high));
        return 0;
    }
    std::int32_t Function(std::size_t index) {
        if (const std::optional<std::int32_t> code = FindFunction(args_[index]))
            return *code;
        Fail(u"function " + args_[index] + u" is neither a function's name nor a code 0-" +
             DecimalText(kFunctionCodeCount - 1) + u" (the command functions lists them)");
        return 0;
    }
    const std::u16string& operator[](std::size_t index) const { return args_[index]; }
    std::size_t Size() const { return args_.size(); }
    void Fail(std::u16string problem) {
        if (problem_.empty())
            problem_ = std::move(problem);
    }
    ParsedStandInCommand Result(StandInCommand command) const {
        if (!problem_.empty())
            return {std::nullopt, problem_};
        return {std::move(command), {}};
    }

  private:
    std::span<const std::u16string> args_;
    std::u16string problem_;
};

constexpr std::int32_t kLastProfile = kProfileCount - 1;

ParsedStandInCommand ParseSetButton(Arguments& a) {
    if (!a.Count(3, u"PROFILE BUTTON FUNCTION"))
        return a.Result({});
    const std::int32_t profile = a.Number(1, u"profile", 0, kLastProfile);
    const std::int32_t button = a.Number(2, u"button", 0, kMaxProfileButtons - 1);
    const std::int32_t code = a.Function(3);
    return a.Result({Kind::SetButton, profile, button, code, {}});
}

ParsedStandInCommand ParseShow(Arguments& a) {
    if (a.Size() == 1)
        return a.Result({Kind::Show, kAllProfiles, 0, 0, {}});
    if (!a.Count(1, u"at most a PROFILE"))
        return a.Result({});
    return a.Result({Kind::Show, a.Number(1, u"profile", 0, kLastProfile), 0, 0, {}});
}

ParsedStandInCommand ParseSetLanguage(Arguments& a) {
    if (!a.Count(1, u"a language's CODE or INDEX"))
        return a.Result({});
    if (!IsLanguageText(a[1]))
        a.Fail(u"language " + a[1] + u" is neither a code nor an index");
    return a.Result({Kind::SetLanguage, 0, 0, 0, a[1]});
}

ParsedStandInCommand ParseReloadProfiles(Arguments& a) {
    if (!a.Count(1, u"a profile IDENTIFIER"))
        return a.Result({});
    const std::optional<std::int32_t> id = ParseSettingsInteger(a[1]);
    if (!id)
        a.Fail(u"profile identifier " + a[1] + u" is not a number");
    return a.Result({Kind::ReloadProfiles, 0, 0, id.value_or(0), {}});
}

}  // namespace

ParsedStandInCommand ParseStandInCommand(std::span<const std::u16string> args) {
    if (args.empty())
        return {std::nullopt, u"no command given", true};
    Arguments a(args);
    const std::u16string& verb = args[0];
    if (verb == u"set-button")
        return ParseSetButton(a);
    if (verb == u"set-profile") {
        if (!a.Count(1, u"a PROFILE"))
            return a.Result({});
        return a.Result({Kind::SetProfile, a.Number(1, u"profile", 0, kLastProfile), 0, 0, {}});
    }
    if (verb == u"set-group") {
        if (!a.Count(1, u"a GROUP"))
            return a.Result({});
        const std::int32_t group = a.Number(1, u"group", 0, kProfileGroupCount - 1);
        return a.Result({Kind::SetGroup, 0, 0, group, {}});
    }
    if (verb == u"set-language")
        return ParseSetLanguage(a);
    if (verb == u"reload-profiles")
        return ParseReloadProfiles(a);
    if (verb == u"reload-settings") {
        a.Count(0, {});
        return a.Result({Kind::ReloadSettings, 0, 0, 0, {}});
    }
    if (verb == u"show")
        return ParseShow(a);
    if (verb == u"functions") {
        a.Count(0, {});
        return a.Result({Kind::ListFunctions, 0, 0, 0, {}});
    }
    return {std::nullopt, u"not a command of the stand-in: " + Join(args), true};
}

std::optional<StandInCommand> ProfileSwitchedCommand(std::int64_t slot) {
    if (slot < 0 || slot > kLastProfile)
        return std::nullopt;
    return StandInCommand{Kind::SetProfile, static_cast<std::int32_t>(slot), 0, 0, {}};
}

namespace {

// The codes of the languages a language component offers, by index.
std::vector<std::u16string> CodesOf(const TuiLanguage& languages) {
    std::vector<std::u16string> codes;
    for (std::int32_t i = 0;; ++i) {
        std::u16string code = languages.GetLanguageShortIDByIndex(i);
        if (code.empty())
            return codes;
        codes.push_back(std::move(code));
    }
}

// "0 (0409), 1 (0804), ..." for a message.
std::u16string ListLanguages(const TuiLanguage& languages) {
    const std::vector<std::u16string> codes = CodesOf(languages);
    std::u16string list;
    for (std::size_t i = 0; i < codes.size(); ++i)
        list += (i == 0 ? u"" : u", ") + DecimalText(static_cast<std::int64_t>(i)) + u" (" +
                codes[i] + u")";
    return list;
}

}  // namespace

std::vector<std::u16string> LanguageCodes(const LanguagePorts& ports) {
    Component root(nullptr, u"StandIn", u"TStandIn", ComponentKind::kWindow);
    return CodesOf(CreateLanguageComponent(root, ports));
}

std::optional<std::u16string> ResolveLanguage(StandInCommand& command, const LanguagePorts& ports) {
    if (command.kind != Kind::SetLanguage)
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

// The current profile is written to both records that name it: the current group's entry, which
// the monitor's reload reads, and CurrentGame, which its start-up reads.
bool MakeProfileCurrent(TDM& dm, std::int32_t profile) {
    dm.FProfileSettingGroup.ProfileIndexOfProfileGroup[dm.FProfileGroupIndex] = profile;
    const bool group_stored = dm.SaveProfileGroupSettingInfoToRegistry();
    return dm.SwitchToProfile(profile) && dm.SaveBackAllProfileSettingInfo() && group_stored;
}

// Where the two records differ (as the defaults of a first start do: CurrentGame 2, group 0's
// entry 0), the group's profile is written to both: it is the one the reload that follows any
// command makes current.
bool KeepCurrentProfileInStep(TDM& dm) {
    const CurrentProfile current = FindCurrentProfile(dm);
    const std::int32_t stored_entry =
        dm.FProfileSettingGroup.ProfileIndexOfProfileGroup[current.group];
    if (dm.FAllProfileSettingInfo.CurrentGame == current.profile && stored_entry == current.profile)
        return true;
    return MakeProfileCurrent(dm, current.profile);
}

bool SetGroup(TDM& dm, std::int32_t group) {
    if (!dm.SwitchToProfileGroup(group))
        return false;
    return MakeProfileCurrent(dm, dm.FProfileIndex);
}

}  // namespace

CurrentProfile FindCurrentProfile(TDM& dm) {
    dm.LoadProfileGroupSettingInfoFromRegistry();
    return {dm.FProfileGroupIndex, dm.FProfileIndex};
}

std::u16string DescribeStandInCommand(const StandInCommand& command) {
    switch (command.kind) {
        case Kind::SetButton:
            return u"button " + DecimalText(command.button) + u" of profile " +
                   DecimalText(command.profile) + u": " +
                   std::u16string(FunctionName(command.value)) + u" (function " +
                   DecimalText(command.value) + u")";
        case Kind::SetProfile:
            return u"profile " + DecimalText(command.profile) + u" is the current one";
        case Kind::SetGroup:
            return u"profile group " + DecimalText(command.value) + u" is the current one";
        case Kind::SetLanguage:
            return u"interface language " + DecimalText(command.value) + u" (" + command.language +
                   u")";
        case Kind::ReloadProfiles:
            return u"profiles to be reloaded, recording profile identifier " +
                   DecimalText(command.value);
        case Kind::Show:
            return command.profile == kAllProfiles
                       ? u"the buttons of every profile"
                       : u"the buttons of profile " + DecimalText(command.profile);
        case Kind::ListFunctions:
            return u"the functions a button can have";
        case Kind::ReloadSettings:
            break;
    }
    return u"settings to be reloaded";
}

ReloadRequest ApplyStandInCommand(const StandInCommand& command, TDM& dm) {
    constexpr auto kReloadProfiles = ReloadRequest::Kind::ReloadProfiles;
    constexpr auto kReloadSettings = ReloadRequest::Kind::ReloadSettings;
    if (command.kind == Kind::Show || command.kind == Kind::ListFunctions)
        return {ReloadRequest::Kind::None};
    const bool in_step = KeepCurrentProfileInStep(dm);
    const auto request = [in_step](ReloadRequest::Kind kind, std::int32_t id, bool stored) {
        return ReloadRequest{kind, id, stored && in_step};
    };
    switch (command.kind) {
        case Kind::SetButton:
            return request(kReloadProfiles, command.profile,
                           SetButton(dm, command.profile, command.button, command.value));
        case Kind::SetProfile:
            return request(kReloadProfiles, command.profile,
                           MakeProfileCurrent(dm, command.profile));
        case Kind::SetGroup: {
            const bool stored = SetGroup(dm, command.value);
            return request(kReloadProfiles, dm.FProfileIndex, stored);
        }
        case Kind::SetLanguage:
            dm.FAllProfileSettingInfo.CurrentLanguage = static_cast<std::uint8_t>(command.value);
            return request(kReloadSettings, 0, dm.SaveBackAllProfileSettingInfo());
        case Kind::ReloadProfiles:
            return request(kReloadProfiles, command.value, true);
        default:
            break;
    }
    return request(kReloadSettings, 0, true);
}

std::vector<std::int32_t> ButtonFunctions(TDM& dm, std::int32_t profile) {
    auto image = std::make_unique<TMouseProfileInfo>();
    if (!dm.ReadProfileInfo(*image, profile))
        return {};
    std::vector<std::int32_t> codes;
    for (int button = 0; button < kMaxProfileButtons; ++button)
        codes.push_back(image->ConfigInfo.ButtonFuncInfo[button].FunctionCode);
    return codes;
}

namespace {

std::u16string FunctionText(std::int32_t code) {
    const std::u16string_view name = FunctionName(code);
    return (name.empty() ? u"no function of the table" : std::u16string(name)) + u" (" +
           DecimalText(code) + u")";
}

}  // namespace

std::u16string ListButtons(TDM& dm, std::int32_t profile) {
    const CurrentProfile current = FindCurrentProfile(dm);
    std::u16string text;
    for (std::int32_t p = 0; p < kProfileCount; ++p) {
        if (profile != kAllProfiles && p != profile)
            continue;
        text += u"profile " + DecimalText(p) +
                (p == current.profile ? u" (current, group " + DecimalText(current.group) + u")"
                                      : u"") +
                u"\n";
        const std::vector<std::int32_t> codes = ButtonFunctions(dm, p);
        for (std::size_t button = 0; button < codes.size(); ++button)
            text += u"  button " + DecimalText(static_cast<std::int64_t>(button)) + u": " +
                    FunctionText(codes[button]) + u"\n";
    }
    if (!text.empty())
        text.pop_back();  // the last line's end: the caller ends lines as its output does
    return text;
}

std::u16string ListFunctions() {
    std::u16string text;
    for (std::int32_t code = 0; code < kFunctionCodeCount; ++code)
        text += DecimalText(code) + u" " + std::u16string(FunctionName(code)) + u"\n";
    text.pop_back();
    return text;
}

std::u16string StandInUsage(std::u16string_view program, std::u16string_view options,
                            std::u16string_view without_command) {
    const std::pair<std::u16string_view, std::u16string_view> lines[] = {
        {options, without_command},
        {u"set-button PROFILE BUTTON FUNCTION", u"FUNCTION: a name (mic-mute) or a code 0-47"},
        {u"set-profile PROFILE", u""},
        {u"set-group GROUP", u"its profile becomes the current one"},
        {u"set-language CODE|INDEX", u"code or index, e.g. 0804, US or 1"},
        {u"show [PROFILE]", u"each button's function, of one profile or all"},
        {u"functions", u"the functions' names and codes"},
        {u"reload-profiles ID", u""},
        {u"reload-settings", u""},
    };
    constexpr std::size_t kColumn = 36;  // the longest synopsis and two blanks
    std::u16string usage;
    for (const auto& [synopsis, what] : lines) {
        std::u16string line = std::u16string(program) + u" " + std::u16string(synopsis);
        if (!what.empty())
            line += std::u16string(std::max<std::size_t>(kColumn - synopsis.size(), 2), u' ') +
                    std::u16string(what);
        usage += line + u"\n";
    }
    return usage +
           u"Profiles are counted 0-4, groups 0-1 and buttons 0-11, as the simulated mouse counts "
           u"them\n(its \"profile 2\" and the monitor's \"7040 ... wParam=2\" name profile 2 "
           u"here).\n";
}

}  // namespace korv
