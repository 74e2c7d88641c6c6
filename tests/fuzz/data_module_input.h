#pragma once
// The input format of the data module's fuzz target, shared with its seed writer.
//
// An input is the settings file (a piece; empty means no file, and only its first 4 KiB are used,
// as large files are the settings file target's), then commands until the input ends. Each command
// starts with a byte whose low two bits say what it is:
//   0  a registry value: a byte naming it (StoredValueName), a piece with its bytes; bits 2-3 of
//      the command byte give its kind (StoredValueKind)
//   1  a ".pfd" file: a byte naming the profile (0 to 4, modulo), a piece with its bytes
//   2  the reload of the profiles (7035), a byte with its lParam (signed)
//   3  the reload of the settings (7037)
// The monitor starts at the first reload, or at the end of the input when there is none.

#include <cstdint>

#include "ports/keyed_store.h"
#include "tests/fuzz/fuzz_support.h"

namespace korv::fuzz {

inline constexpr std::size_t kLargestSettingsFile = 4096;

enum class DataModuleCommand : std::uint8_t { Value, File, ReloadProfiles, ReloadSettings };

// The values of the registry folder a command can store: the three fixed records, then the five
// game profiles under the value names the profile-group record gives them.
enum class StoredValueName : std::uint8_t { AllSettings, ProfileGroup, RecordMacro, FirstGame };
inline constexpr int kStoredValueNames = 3 + 5;

inline InputWriter& WriteValue(InputWriter& input, StoredValueName name, int game,
                               StoredValueKind kind, std::span<const std::uint8_t> bytes) {
    return input
        .Byte(static_cast<std::uint8_t>(static_cast<int>(DataModuleCommand::Value) |
                                        (static_cast<int>(kind) << 2)))
        .Byte(static_cast<std::uint8_t>(static_cast<int>(name) + game))
        .Piece(bytes);
}

inline InputWriter& WriteFile(InputWriter& input, int game, std::span<const std::uint8_t> bytes) {
    return input.Byte(static_cast<std::uint8_t>(DataModuleCommand::File))
        .Byte(static_cast<std::uint8_t>(game))
        .Piece(bytes);
}

inline InputWriter& WriteReloadProfiles(InputWriter& input, std::int8_t lparam) {
    return input.Byte(static_cast<std::uint8_t>(DataModuleCommand::ReloadProfiles))
        .Byte(static_cast<std::uint8_t>(lparam));
}

inline InputWriter& WriteReloadSettings(InputWriter& input) {
    return input.Byte(static_cast<std::uint8_t>(DataModuleCommand::ReloadSettings));
}

}  // namespace korv::fuzz
