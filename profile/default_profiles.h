#pragma once
// The default records: what a new user's mouse does out of the box. A game default is an
// overlay that writes only its own fields and keeps every other byte of the image (macros,
// function lists, wheel entries ...); the test default clears the whole image first.

#include <cstdint>
#include <string_view>

#include "profile/options.h"
#include "profile/records.h"

namespace korv {

class FileSystem;

inline constexpr int kGameProfileCount = 5;

// Game default 0 to 4 (game 0 also serves the default-game store). `now` stamps FProfileUID.
void ApplyGameDefault(TMouseProfileInfo& profile, int game, double now);
void ApplyTestDefault(TMouseProfileInfo& profile, double now);

// CurrentLanguage follows the system's default language: Simplified Chinese (0x0804) gives 1,
// Traditional Chinese (0x0404) 2, any other 0.
void ApplyAllSettingsDefault(TALLGAMESINFO& settings, std::uint16_t system_language_id);

// Fills entry `index` of the profile-group default: profile `index + 1` stored in the registry,
// its file name, key path, folder and macro folder (a path joined by `files`). Texts too long
// for their fields are cut.
void ApplyProfileSettingDefault(TProfileSetting& entry, int index,
                                const TOptionsFromConfigFile& options,
                                std::u16string_view document_profile_path, const FileSystem& files);
// The group part of the profile-group default: group 0 selects profile 0, group 1 profile 1.
void ApplyProfileGroupSelectionDefault(TProfileSettingGroup& group);

// In-memory resets of the active profile.
void RestoreToDefaultCPISetting(TMouseProfileInfo& profile);
void RestoreToDefaultLightAndReportAdvancedSetting(TMouseProfileInfo& profile);

// "0804" style: four upper-case hex digits.
std::u16string LanguageIdText(std::uint16_t language_id);

}  // namespace korv
