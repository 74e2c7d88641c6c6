#pragma once
// TDM, the data module: owner of all profile data of the monitor. On creation it takes the
// settings read from the settings file, sets up its ten stores and loads the profile-group record,
// the all-settings record and the five game profiles, falling back to defaults where nothing is
// stored. Then it serves the active profile, the language and the reloads the configuration program
// asks for.
//
// Stored data belongs to the configuration program too and may be damaged: stored indexes out
// of range, short or long values, values of the wrong type. The module never reads or writes
// outside a record for them; it takes a safe choice in memory (group 0, profile 0, at most 12
// buttons), leaves the stored record as it is and writes a trace line. Every other fallback is
// traced too, one line each: a value of a kind no store writes, an image shorter than its
// record, a profile file that cannot be read or is above kMaxProfileFileSize (left unread and
// never overwritten), and a default profile file written where a group entry points.
//
// Threads: the module belongs to the thread that creates it (the main thread); nothing is locked.
// Debug builds stop at a call from another thread.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/thread_affinity.h"
#include "profile/options.h"
#include "profile/records.h"
#include "profile/ui_profile.h"

namespace korv {

class Clock;
class DebugOutput;
class FileSystem;
class KeyedStore;
class Locale;
class Shell;

// The platform services the data module works through.
struct DataModulePorts {
    KeyedStore& registry;
    const FileSystem& files;
    const Shell& shell;
    const Locale& locale;
    const Clock& clock;
    const DebugOutput& debug;
};

inline constexpr int kProfileCount = 5;
inline constexpr int kProfileGroupCount = 2;
inline constexpr int kMaxProfileButtons = 12;

// The three profile copies alone take 3 x 113064 bytes, so a TDM lives on the heap
// (CreateDataModule); copying is disabled so that a stray by-value use cannot copy it.
class TDM {
  public:
    TDM(const DataModulePorts& ports, DataModuleSettings settings);
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    void DataModuleCreate() { InitDataModule(); }
    void DataModuleDestroy() {}
    void InitDataModule();

    // Set-up and loading.
    void LoadProfileGroupSettingInfoFromRegistry();
    void LoadAllProfileInfoFromRegistry();
    [[nodiscard]] bool LoadCurrentProfileInfoFromRegistry();
    [[nodiscard]] bool LoadCurrentProfileInfoFromFile(std::u16string_view AFile);
    [[nodiscard]] bool LoadProfileInfoFromRegistry(std::int32_t AProfileIndex);
    void LoadRecordMacroInfoFromRegistry();
    void InitTestDefaultValue();

    // Switching.
    [[nodiscard]] bool SwitchToProfile(std::int32_t AProfileIndex);
    [[nodiscard]] bool SwitchToProfileGroup(std::int32_t AProfileGroupIndex);
    [[nodiscard]] static bool IsProfileIndexInRange(std::int32_t AProfileIndex);
    [[nodiscard]] static bool IsProfileGroupIndexInRange(std::int32_t AProfileGroupIndex);

    // Reading and writing working copies.
    [[nodiscard]] bool ReadCurrentProfileInfo();
    [[nodiscard]] bool ReadProfileInfo(TMouseProfileInfo& AProfileInfo, std::int32_t AProfileIndex);
    void SaveBackToCurrentProfileInfo();
    [[nodiscard]] bool SaveBackToProfileInfo(const TMouseProfileInfo& AProfileInfo,
                                             std::int32_t AProfileIndex);
    void SaveBackToProfileGroupSettingInfo();

    // Persisting.
    [[nodiscard]] bool SaveCurrentProfileInfoToRegistry();
    [[nodiscard]] bool SaveProfileInfoToRegistry(std::int32_t AProfileIndex);
    [[nodiscard]] bool SaveBackAllProfileInfo();
    [[nodiscard]] bool SaveBackAllProfileInfoToRegistry() { return SaveBackAllProfileInfo(); }
    [[nodiscard]] bool SaveBackAllProfileInfoToFile();
    [[nodiscard]] bool SaveCurrentProfileInfoToFile(std::u16string_view AFile);
    [[nodiscard]] bool SaveCurrentProfileInfoToFile();
    [[nodiscard]] bool SaveBackAllProfileSettingInfo();
    [[nodiscard]] bool SaveProfileGroupSettingInfoToRegistry();
    [[nodiscard]] bool SaveBackRecordMacroInfoToRegistry(const TMACROKEYINFO& ARecordMacroInfo);
    [[nodiscard]] bool ChangeCurrentProfileFileNameAndPath(std::u16string_view AProfileFilePath);

    // Restoring defaults.
    void RestoreCurrentProfileInfoToDefault();
    void RestoreAllProfileInfoToDefault();
    [[nodiscard]] bool RestoreProfileInfoToDefault(std::int32_t AProfileIndex);
    [[nodiscard]] bool RestoreProfileGroupToDefault(std::int32_t AProfileGroupIndex);
    [[nodiscard]] bool RestoreProfileSettingGroupToDefault();
    void RestoreToDefaultCPISetting();
    void RestoreToDefaultLightAndReportAdvancedSetting();

    // Change flags; indexes outside 0 to 4 are ignored (and read as unchanged).
    void SetProfileChanged(std::int32_t AIndex, bool AIsChanged);
    [[nodiscard]] bool IsProfileChanged(std::int32_t AIndex) const;

    // Paths and lists.
    std::u16string GetPersonalDocumentProfilePath();
    std::u16string GetPersonalDocumentMacroDatabasePath();
    std::vector<std::int32_t> GetAllProfilesMacroIndexList() const;

    // Default handlers of the stores.
    // (The five game stores restore through GameDefault with their index.)
    void uiProfileTestRestoreToDefault(ProfileStream& stream);
    void uiProfileAllSettingInfoRestoreToDefault(ProfileStream& stream);
    void uiProfileSettingGroupRestoreToDefault(ProfileStream& stream);

    // The store of a game profile, 0 to 4.
    TuiProfile& GameStore(std::int32_t index) {
        owner_.Check();
        return *FProfileGroup[static_cast<std::size_t>(index)];
    }

  private:
    void SetUpStore(TuiProfile& store, std::u16string_view file_name);
    void InitProfileSettingGroup();
    void InitAllSettingInfo();
    void InitGameProfiles();
    void InitGameProfile(std::int32_t index);
    void LoadGameProfileFromFile(TuiProfile& store, const TProfileSetting& entry);
    void GameDefault(ProfileStream& stream, int game);
    TuiProfile& CurrentStore() { return GameStore(FProfileIndex); }
    std::int32_t StoredProfileIndex(std::int32_t group);
    void Trace(std::u16string_view line) const;
    void TraceShortImage(const TuiProfile& store, std::u16string_view what,
                         std::size_t record_size) const;
    [[nodiscard]] bool LoadFromRegistry(TuiProfile& store, std::size_t record_size,
                                        std::u16string_view instead);
    [[nodiscard]] bool LoadFromFile(TuiProfile& store, std::u16string_view path,
                                    std::u16string_view instead);
    void WriteBackDefault(TuiProfile& store);
    void LoadOrStoreDefault(TuiProfile& store, std::size_t record_size);

    DataModulePorts ports_;
    DataModuleSettings settings_;
    ThreadAffinity owner_;

  public:
    // The stores, in declaration order.
    TuiProfile uiProfileAllSettingInfo;
    TuiProfile uiProfileGame1;
    TuiProfile uiProfileGame2;
    TuiProfile uiProfileGame3;
    TuiProfile uiProfileGame4;
    TuiProfile uiProfileGame5;
    TuiProfile uiProfileSettingGroup;
    TuiProfile uiProfileDefaultGame;
    TuiProfile uiProfileTest;
    TuiProfile uiProfileRecordMacroInfo;

    // Working copies and state; everything is zero when the module is created.
    TALLGAMESINFO FAllProfileSettingInfo{};
    // Slots 0 to 4 are the game stores, from creation on; slot 5 is never filled.
    std::array<TuiProfile*, 6> FProfileGroup{};
    std::array<bool, kProfileCount> FProfileChanged{};
    TProfileSettingGroup FProfileSettingGroup{};
    std::int32_t FProfileGroupIndex = 0;
    std::int32_t FProfileIndex = 0;
    TMouseProfileInfo FCurrentProfileInfo{};
    TOtherConfig FOtherConfig;
    TMouseProfileInfo FDefaultProfileInfo{};
    TMouseProfileInfo FTestProfileInfo{};
    TMACROKEYINFO FRecordMacroInfo{};
    TOptionsFromConfigFile FOptionsFromConfigFile;
};

// Creates the data module and runs its start-up (InitDataModule).
std::unique_ptr<TDM> CreateDataModule(const DataModulePorts& ports, DataModuleSettings settings);

}  // namespace korv
