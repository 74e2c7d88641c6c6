#pragma once
// The command line of the stand-in configuration program, and the edits its window makes: each
// edits the stored records the monitor acts on and is followed by the reload request the
// configuration program sends. Profiles are counted 0-4, groups 0-1 and buttons 0-11, as the
// records, the monitor's messages and the simulated mouse count them. See StandInUsage.
//
// Threads: the thread that owns the data module given (the stand-in's main thread).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

class TDM;
struct LanguagePorts;

// `show` without a profile lists them all.
inline constexpr std::int32_t kAllProfiles = -1;

struct StandInCommand {
    enum class Kind {
        SetButton,
        SetProfile,
        SetGroup,
        SetLanguage,
        ReloadProfiles,
        ReloadSettings,
        Show,
        ListFunctions,
    };
    Kind kind;
    std::int32_t profile = 0;  // 0-4, or kAllProfiles for show
    std::int32_t button = 0;
    std::int32_t value = 0;   // function code, group, language index or profile identifier
    std::u16string language;  // set-language: the code or index given, until ResolveLanguage
                              // sets `value` and puts the language's own code here
};

// The request the monitor gets afterwards: reload the profiles (recording `profile_id`) or the
// settings; nothing for a command that only reads.
struct ReloadRequest {
    enum class Kind : std::uint8_t { None, ReloadProfiles, ReloadSettings };
    Kind kind;
    std::int32_t profile_id = 0;
    bool stored = true;  // false when an edited record could not be written
};

// A command, or what is wrong with the arguments, naming the wrong one ("profile 7 is not
// 0-4"); `unknown` when the first argument is no command at all.
struct ParsedStandInCommand {
    std::optional<StandInCommand> command;
    std::u16string problem;
    bool unknown = false;
};
[[nodiscard]] ParsedStandInCommand ParseStandInCommand(std::span<const std::u16string> args);

// What the configuration program does when the mouse reports a switch to profile `slot`: makes
// that profile the current one. Nothing for a slot outside 0-4.
[[nodiscard]] std::optional<StandInCommand> ProfileSwitchedCommand(std::int64_t slot);

// Finds the language of a set-language command in the monitor's language list (the languages of
// "ui.local" beside the executable, then the built-in ones): the text is looked up as a code
// first, since the codes of "ui.local" are digits ("0409"), then a plain number is taken as an
// index. Nothing when the language was found (other commands need nothing); otherwise what is
// wrong, naming the languages there are, for the user.
[[nodiscard]] std::optional<std::u16string> ResolveLanguage(StandInCommand& command,
                                                            const LanguagePorts& ports);

// The codes of the monitor's languages, by index ("0409", ..., "CH", "US").
[[nodiscard]] std::vector<std::u16string> LanguageCodes(const LanguagePorts& ports);

// Edits the stored records as the configuration program does and returns the request to send.
// Before any command that reaches the monitor, the current profile is written to both records
// that name it (CurrentGame of the all-profiles settings and the current group's entry), where
// they differ, as the one a reload makes current: so the monitor's start-up and its reload
// agree. A set-language command must have been resolved.
[[nodiscard]] ReloadRequest ApplyStandInCommand(const StandInCommand& command, TDM& data_module);

// What a command does, in words, for its user: "button 4 of profile 0: mic-mute (function 28)".
std::u16string DescribeStandInCommand(const StandInCommand& command);

// The current group and its profile as the monitor's reload takes them from the records.
struct CurrentProfile {
    std::int32_t group = 0;
    std::int32_t profile = 0;
};
[[nodiscard]] CurrentProfile FindCurrentProfile(TDM& data_module);

// The function code of each button of a stored profile (0-4), as the monitor reads them.
[[nodiscard]] std::vector<std::int32_t> ButtonFunctions(TDM& data_module, std::int32_t profile);

// The answer of show (each button's function of one profile, or of all) and of functions.
[[nodiscard]] std::u16string ListButtons(TDM& data_module, std::int32_t profile);
[[nodiscard]] std::u16string ListFunctions();

// The usage, with the program's name as the user starts it, its options and what it does
// without a command.
[[nodiscard]] std::u16string StandInUsage(std::u16string_view program, std::u16string_view options,
                                          std::u16string_view without_command);

}  // namespace korv
