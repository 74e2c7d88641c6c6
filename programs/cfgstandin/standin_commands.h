#pragma once
// The command line of the stand-in configuration program: edits of the stored records the
// monitor acts on, each followed by the reload request the configuration program sends.
//
//   set-button PROFILE BUTTON CODE   give button BUTTON (0-11) of profile PROFILE (1-5) the
//                                    function CODE (0-47; 28 is the microphone mute)
//   set-profile PROFILE              make profile PROFILE (1-5) the current one
//   set-language CODE|INDEX          store the interface language, by its code ("0804", "US")
//                                    or its index in the monitor's language list
//   reload-profiles ID               only ask the monitor to reload its profiles, recording ID
//   reload-settings                  only ask the monitor to reload its settings

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korv {

class TDM;
struct LanguagePorts;

struct StandInCommand {
    enum class Kind { SetButton, SetProfile, SetLanguage, ReloadProfiles, ReloadSettings };
    Kind kind;
    std::int32_t profile = 0;  // 0-based
    std::int32_t button = 0;
    std::int32_t value = 0;   // function code, language index or profile identifier
    std::u16string language;  // set-language: the code or index given, until ResolveLanguage
                              // sets `value` and puts the language's own code here
};

// The request the monitor gets afterwards: reload the profiles (recording `profile_id`) or the
// settings.
struct ReloadRequest {
    enum class Kind : std::uint8_t { ReloadProfiles, ReloadSettings };
    Kind kind;
    std::int32_t profile_id = 0;
    bool stored = true;  // false when an edited record could not be written
};

// Nothing when the arguments are not a valid command.
std::optional<StandInCommand> ParseStandInCommand(std::span<const std::u16string> args);

// Finds the language of a set-language command in the monitor's language list (the languages of
// "ui.local" beside the executable, then the built-in ones): the text is looked up as a code
// first, since the codes of "ui.local" are digits ("0409"), then a plain number is taken as an
// index. Nothing when the language was found (other commands need nothing); otherwise what is
// wrong, naming the languages there are, for the user.
[[nodiscard]] std::optional<std::u16string> ResolveLanguage(StandInCommand& command,
                                                            const LanguagePorts& ports);

// Edits the stored records as the configuration program does and returns the request to send.
// A set-language command must have been resolved.
[[nodiscard]] ReloadRequest ApplyStandInCommand(const StandInCommand& command, TDM& data_module);

// What a command does, in words, for its user: "button 4 of profile 1: function 28 (microphone
// mute)".
std::u16string DescribeStandInCommand(const StandInCommand& command);

extern const char16_t kStandInUsage[];

}  // namespace korv
