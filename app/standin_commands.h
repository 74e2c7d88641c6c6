#pragma once
// The command line of the stand-in configuration program: edits of the stored records the
// monitor acts on, each followed by the reload request the configuration program sends.
//
//   set-button PROFILE BUTTON CODE   give button BUTTON (0-11) of profile PROFILE (1-5) the
//                                    function CODE (0-47; 28 is the microphone mute)
//   set-profile PROFILE              make profile PROFILE (1-5) the current one
//   set-language INDEX|CODE          store the interface language, by its index or its code
//                                    ("US"), as the monitor's language list counts them
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
    std::int32_t value = 0;        // function code, language index or profile identifier
    std::u16string language_code;  // set-language by code: resolved into `value` before use
};

// The request the monitor gets afterwards: message number and lParam.
struct ReloadRequest {
    std::uint32_t message;
    std::intptr_t lparam;
    bool stored = true;  // false when an edited record could not be written
};

// Nothing when the arguments are not a valid command.
std::optional<StandInCommand> ParseStandInCommand(std::span<const std::u16string> args);

// Turns a set-language code into its index in the monitor's language list (the languages of
// "ui.local" beside the executable, then the built-in ones); false when no language has it.
[[nodiscard]] bool ResolveLanguageCode(StandInCommand& command, const LanguagePorts& ports);

// Edits the stored records as the configuration program does and returns the request to send.
[[nodiscard]] ReloadRequest ApplyStandInCommand(const StandInCommand& command, TDM& data_module);

// What a command does, in words, for its user: "button 4 of profile 1: function 28 (microphone
// mute)".
std::u16string DescribeStandInCommand(const StandInCommand& command);

extern const char16_t kStandInUsage[];

}  // namespace korv
