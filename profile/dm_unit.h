// The data module: owner of all profile data of the monitor.
#pragma once

#include <cstdint>

#include "profile/options.h"
#include "profile/records.h"

namespace korv {

// Holds the working copies of the stored records and of the settings-file options. Everything is
// zero (or empty) when the module is created, whatever memory it is created in.
//
// The three profile copies alone take 3 x 113064 bytes, so a TDM is far too large for a stack:
// its owner allocates it on the heap. Copying is disabled for the same reason, so that a stray
// by-value use cannot copy a third of a megabyte.
class TDM {
  public:
    TDM() = default;
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    TALLGAMESINFO FAllProfileSettingInfo{};         // working copy of the all-settings record
    TProfileSettingGroup FProfileSettingGroup{};    // working copy of the profile-group record
    std::int32_t FProfileGroupIndex = 0;            // active group (0 or 1)
    std::int32_t FProfileIndex = 0;                 // active profile (0 to 4)
    TMouseProfileInfo FCurrentProfileInfo{};        // working copy of the active profile
    TOtherConfig FOtherConfig;                      // other settings from the settings file
    TMouseProfileInfo FDefaultProfileInfo{};        // default-game profile
    TMouseProfileInfo FTestProfileInfo{};           // test profile
    TMACROKEYINFO FRecordMacroInfo{};               // recorded macro
    TOptionsFromConfigFile FOptionsFromConfigFile;  // options from the settings file
};

}  // namespace korv
