// In-memory option blocks filled from the settings file. They are never stored as images: a
// stored profile only carries a meaningless 28-byte slot where the other-settings block would be
// (TMouseProfileInfo::OtherConfig).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korv {

// Further settings from the settings file.
struct TOtherConfig {
    std::int32_t ShowNumLock = 0;
    std::int32_t ShowCapsLock = 0;
    std::int32_t ShowScrollLock = 0;
    std::int32_t ShowLockStatePop = 0;
    std::vector<std::u16string> HelpFile;  // help-file entries, one "name=value" line each
    std::int32_t Nologo = 0;
    std::u16string OfficialWebsite;
    // Whether the tray shows the microphone's mute state (icon and hint); on unless turned off.
    std::int32_t ShowMicrophoneState = 1;
};

// Where the profile data lives.
struct TOptionsFromConfigFile {
    std::u16string ProfileRegFolder;    // registry key path under the current user's hive
    std::u16string ProfileFolder;       // profile folder inside the user's documents folder
    std::u16string ProfileNamePrefix;   // prefix of the per-profile file and value names
    std::u16string ProfileMacroFolder;  // macro folder inside the profile folder
};

// What the data module takes from the settings file.
struct DataModuleSettings {
    TOptionsFromConfigFile options;
    TOtherConfig other;
};

}  // namespace korv
