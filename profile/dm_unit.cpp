#include "profile/dm_unit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/decimal_text.h"
#include "base/key_path_text.h"
#include "hid/usage_and_page.h"
#include "ports/clock.h"
#include "ports/debug_output.h"
#include "ports/file_system.h"
#include "ports/locale.h"
#include "ports/shell.h"
#include "profile/default_profiles.h"
#include "profile/text_field.h"

namespace korv {
namespace {

constexpr std::u16string_view kAllSettingsName = u"allsettings.pfd";
constexpr std::u16string_view kProfileGroupName = u"ProfileSettingGroup.pfd";
constexpr std::u16string_view kRecordMacroName = u"RecordRPROFILE.pfd";
constexpr std::u16string_view kTestProfileName = u"Q5310ProfileTest.pfd";
constexpr std::u16string_view kDefaultGameName = u"Q5310ProfileDef.pfd";
constexpr std::u16string_view kMacroDatabaseName = u"MacroSet.MSDB";

// What serves when a reload finds no usable profile image.
constexpr std::u16string_view kProfileInMemoryKept = u"the profile in memory is kept";

// Stores are primed with an all-zero image of their record before the first load or restore.
std::int32_t PrimeWithZeros(TuiProfile& store, std::size_t record_size) {
    return store.WriteZeros(static_cast<std::int32_t>(record_size));
}

// Applies a default to the record image at the start of a stream. A stream shorter than the
// record (left by a short stored value) first gets the record's full size; a longer one keeps
// its tail.
template <typename Record, typename Apply>
void ApplyToStream(ProfileStream& stream, Apply&& apply) {
    if (stream.size() < sizeof(Record))
        stream.resize(sizeof(Record));
    const std::unique_ptr<Record> record(new Record);
    std::memcpy(record.get(), stream.data(), sizeof(Record));
    apply(*record);
    std::memcpy(stream.data(), record.get(), sizeof(Record));
}

// A file larger than this is no profile image: it stays where it is, unread.
static_assert(kMaxProfileFileSize == 4 * sizeof(TMouseProfileInfo));

std::u16string_view KindName(StoredValueKind kind) {
    switch (kind) {
        case StoredValueKind::Text:
            return u"string";
        case StoredValueKind::Integer32:
            return u"32-bit number";
        case StoredValueKind::Binary:
        case StoredValueKind::Other:
            break;
    }
    return u"binary";
}

std::u16string RegistryValueName(const TuiProfile& store) {
    return u"Registry value " + store.FileName();
}

// Reads one field of a record image in a stream; false when the stream ends before it.
template <typename T>
bool ReadStreamField(const ProfileStream& stream, std::size_t offset, T& value) {
    if (offset + sizeof(T) > stream.size())
        return false;
    std::memcpy(&value, stream.data() + offset, sizeof(T));
    return true;
}

constexpr std::u16string_view kDefaultUsedAndStored = u"its default is used and stored";
constexpr std::u16string_view kDefaultUsedValueKept =
    u"its default is used and the stored value is left as it is";

// " is N bytes, above the limit of M; " for a stored image that is not read.
std::u16string AboveTheLimit(std::uint64_t size) {
    return u" is " + DecimalText(static_cast<std::int64_t>(size)) + u" bytes, above the limit of " +
           DecimalText(static_cast<std::int64_t>(kMaxProfileFileSize)) + u"; ";
}

}  // namespace

TDM::TDM(const DataModulePorts& ports, DataModuleSettings settings)
    : ports_(ports),
      settings_(std::move(settings)),
      uiProfileAllSettingInfo(ports.registry, ports.files),
      uiProfileGame1(ports.registry, ports.files),
      uiProfileGame2(ports.registry, ports.files),
      uiProfileGame3(ports.registry, ports.files),
      uiProfileGame4(ports.registry, ports.files),
      uiProfileGame5(ports.registry, ports.files),
      uiProfileSettingGroup(ports.registry, ports.files),
      uiProfileDefaultGame(ports.registry, ports.files),
      uiProfileTest(ports.registry, ports.files),
      uiProfileRecordMacroInfo(ports.registry, ports.files) {
    FProfileGroup = {&uiProfileGame1, &uiProfileGame2, &uiProfileGame3,
                     &uiProfileGame4, &uiProfileGame5, nullptr};
    const auto handler = [this](void (TDM::*method)(ProfileStream&)) {
        return [this, method](ProfileStream& stream) { (this->*method)(stream); };
    };
    uiProfileAllSettingInfo.OnRestoreToDefault =
        handler(&TDM::uiProfileAllSettingInfoRestoreToDefault);
    uiProfileSettingGroup.OnRestoreToDefault = handler(&TDM::uiProfileSettingGroupRestoreToDefault);
    uiProfileTest.OnRestoreToDefault = handler(&TDM::uiProfileTestRestoreToDefault);
    for (int game = 0; game < kProfileCount; ++game) {
        GameStore(game).OnRestoreToDefault = [this, game](ProfileStream& stream) {
            GameDefault(stream, game);
        };
    }
    // The default game store restores as the first game profile does.
    uiProfileDefaultGame.OnRestoreToDefault = uiProfileGame1.OnRestoreToDefault;
}

std::unique_ptr<TDM> CreateDataModule(const DataModulePorts& ports, DataModuleSettings settings) {
    auto module = std::make_unique<TDM>(ports, std::move(settings));
    module->DataModuleCreate();
    return module;
}

void TDM::Trace(std::u16string_view line) const {
    ports_.debug.Trace(line);
}

// An image shorter than its record is read as far as it goes: the rest of the working copy keeps
// what it held (zeros at start-up).
void TDM::TraceShortImage(const TuiProfile& store, std::u16string_view what,
                          std::size_t record_size) const {
    const StoreLoad& load = store.LastLoad();
    if (load.outcome != StoreLoad::Outcome::Loaded || load.size >= record_size)
        return;
    Trace(std::u16string(what) + u" holds " + DecimalText(static_cast<std::int64_t>(load.size)) +
          u" of the " + DecimalText(static_cast<std::int64_t>(record_size)) +
          u" bytes of its record; the rest keeps its previous content (zeros at start-up)");
}

// Loads a store from the registry. A string or 32-bit value is refused by the store, and a value
// above the size limit is not read; both are traced with what serves `instead`. A short image is
// traced as it is read.
bool TDM::LoadFromRegistry(TuiProfile& store, std::size_t record_size,
                           std::u16string_view instead) {
    const bool loaded = store.LoadStreamFromRegistry();
    const StoreLoad& load = store.LastLoad();
    if (load.outcome == StoreLoad::Outcome::RefusedKind) {
        Trace(RegistryValueName(store) + u" is a " + std::u16string(KindName(load.kind)) +
              u" value, not binary data; " + std::u16string(instead));
    } else if (load.outcome == StoreLoad::Outcome::TooLarge) {
        Trace(RegistryValueName(store) + AboveTheLimit(load.size) +
              (instead == kDefaultUsedAndStored ? std::u16string(kDefaultUsedValueKept)
                                                : std::u16string(instead)));
    }
    TraceShortImage(store, RegistryValueName(store), record_size);
    return loaded;
}

// Loads a store from a file. A file that cannot be read or is above the size limit is traced
// with what serves `instead`; a missing file is the caller's business.
bool TDM::LoadFromFile(TuiProfile& store, std::u16string_view path, std::u16string_view instead) {
    const bool loaded = store.LoadStreamFromFile(path);
    const StoreLoad& load = store.LastLoad();
    const std::u16string what = u"Profile file " + std::u16string(path);
    if (load.outcome == StoreLoad::Outcome::TooLarge) {
        Trace(what + AboveTheLimit(load.size) + std::u16string(instead));
    } else if (load.outcome == StoreLoad::Outcome::Unreadable) {
        Trace(what + u" cannot be read; " + std::u16string(instead));
    }
    TraceShortImage(store, what, sizeof(TMouseProfileInfo));
    return loaded;
}

// A default built because nothing usable was stored is written back so that the configuration
// program finds it; when that fails the default still serves in memory and the next start
// builds it again.
void TDM::WriteBackDefault(TuiProfile& store) {
    if (!store.SaveStreamToRegistry())
        Trace(u"Default " + std::u16string(store.FileName()) +
              u" cannot be stored in the registry");
}

// Loads a record whose default is stored when nothing usable is. A value above the size limit is
// the user's whatever it holds: the default serves in memory and the value is left as it is.
void TDM::LoadOrStoreDefault(TuiProfile& store, std::size_t record_size) {
    if (LoadFromRegistry(store, record_size, kDefaultUsedAndStored))
        return;
    store.RestoreToDefault();
    if (store.LastLoad().outcome != StoreLoad::Outcome::TooLarge)
        WriteBackDefault(store);
}

// ---- Start-up -------------------------------------------------------------------------------

void TDM::InitDataModule() {
    FOptionsFromConfigFile = settings_.options;
    FOtherConfig = settings_.other;
    MouseUsageAndPage = kMouseVendorCollection;
    FProfileGroupIndex = 0;
    InitProfileSettingGroup();
    InitAllSettingInfo();
    InitGameProfiles();
    std::int32_t current = FAllProfileSettingInfo.CurrentGame;
    if (!IsProfileIndexInRange(current)) {
        Trace(u"Stored CurrentGame " + DecimalText(current) +
              u" is out of range; profile 0 is active");
        current = 0;
    }
    static_cast<void>(SwitchToProfile(current));  // in range: checked above
}

void TDM::SetUpStore(TuiProfile& store, std::u16string_view file_name) {
    owner_.Check();
    store.SetRootKey(StoreScope::User);
    store.SetKeyPath(KeyPathFromText(FOptionsFromConfigFile.ProfileRegFolder));
    store.SetFileName(file_name);
}

void TDM::InitProfileSettingGroup() {
    SetUpStore(uiProfileSettingGroup, kProfileGroupName);
    PrimeWithZeros(uiProfileSettingGroup, sizeof(TProfileSettingGroup));
    LoadProfileGroupSettingInfoFromRegistry();
}

void TDM::InitAllSettingInfo() {
    SetUpStore(uiProfileAllSettingInfo, kAllSettingsName);
    uiProfileAllSettingInfo.WriteRecord(FAllProfileSettingInfo);
    LoadAllProfileInfoFromRegistry();
    SetUpStore(uiProfileRecordMacroInfo, kRecordMacroName);
    uiProfileRecordMacroInfo.WriteRecord(FRecordMacroInfo);
}

void TDM::InitGameProfiles() {
    for (std::int32_t i = 0; i < kProfileCount; ++i)
        InitGameProfile(i);
}

void TDM::InitGameProfile(std::int32_t index) {
    const TProfileSetting& entry = FProfileSettingGroup.ProfileSettingList[index];
    TuiProfile& store = GameStore(index);
    store.SetRootKey(StoreScope::User);
    store.SetFileName(GetTextField(entry.FileName));
    store.SetFilePath(GetTextField(entry.ProfilePath));
    store.SetKeyPath(KeyPathFromText(FOptionsFromConfigFile.ProfileRegFolder));
    PrimeWithZeros(store, sizeof(TMouseProfileInfo));
    if (entry.StorageType == kStorageTypeFile) {
        LoadGameProfileFromFile(store, entry);
        return;
    }
    // An unknown storage type is read as the registry, so that the profile still gets its
    // stored content or its default rather than an empty image.
    if (entry.StorageType != kStorageTypeRegistry) {
        Trace(u"Stored StorageType " + DecimalText(entry.StorageType) + u" of profile " +
              DecimalText(index) + u" is unknown; the registry is used");
    }
    if (!LoadFromRegistry(store, sizeof(TMouseProfileInfo), u"its default is used"))
        store.RestoreToDefault();
}

// The file a group entry names is the configuration program's choice and is used as it is, even
// a folder that is not a full path; each default written there is traced with its path.
void TDM::LoadGameProfileFromFile(TuiProfile& store, const TProfileSetting& entry) {
    const std::u16string full_name =
        ports_.files.PathInFolder(GetTextField(entry.ProfilePath), GetTextField(entry.FileName));
    if (!ports_.files.FileExists(full_name)) {
        store.RestoreToDefault();
        if (!store.SaveStreamToFile(full_name)) {
            Trace(u"Default profile file " + full_name +
                  u" cannot be written; it serves in memory");
        } else {
            Trace(u"Profile file " + full_name + u" is missing; its default was written there" +
                  (ports_.files.IsFullPath(full_name)
                       ? u""
                       : u" (a path relative to the current drive or folder)"));
        }
        return;
    }
    // A file that exists but cannot be read now (locked, no access, above the size limit): the
    // default serves in memory, and the user's file is not overwritten with it.
    if (!LoadFromFile(store, full_name, u"its default is used"))
        store.RestoreToDefault();
}

// ---- Loading --------------------------------------------------------------------------------

std::int32_t TDM::StoredProfileIndex(std::int32_t group) {
    const std::int32_t index = FProfileSettingGroup.ProfileIndexOfProfileGroup[group];
    if (IsProfileIndexInRange(index))
        return index;
    Trace(u"Stored profile index " + DecimalText(index) + u" of group " + DecimalText(group) +
          u" is out of range; profile 0 is used");
    return 0;
}

void TDM::LoadProfileGroupSettingInfoFromRegistry() {
    owner_.Check();
    LoadOrStoreDefault(uiProfileSettingGroup, sizeof(TProfileSettingGroup));
    uiProfileSettingGroup.ReadRecord(FProfileSettingGroup);
    FProfileGroupIndex = FProfileSettingGroup.CurrentProfileGroup;
    if (!IsProfileGroupIndexInRange(FProfileGroupIndex)) {
        Trace(u"Stored CurrentProfileGroup " + DecimalText(FProfileGroupIndex) +
              u" is out of range; group 0 is used");
        FProfileGroupIndex = 0;
    }
    FProfileIndex = StoredProfileIndex(FProfileGroupIndex);
}

void TDM::LoadAllProfileInfoFromRegistry() {
    owner_.Check();
    LoadOrStoreDefault(uiProfileAllSettingInfo, sizeof(TALLGAMESINFO));
    uiProfileAllSettingInfo.ReadRecord(FAllProfileSettingInfo);
}

bool TDM::LoadCurrentProfileInfoFromRegistry() {
    const bool loaded =
        LoadFromRegistry(CurrentStore(), sizeof(TMouseProfileInfo), kProfileInMemoryKept);
    CurrentStore().ReadRecord(FCurrentProfileInfo);
    return loaded;
}

bool TDM::LoadCurrentProfileInfoFromFile(std::u16string_view AFile) {
    const bool loaded = LoadFromFile(CurrentStore(), AFile, kProfileInMemoryKept);
    CurrentStore().ReadRecord(FCurrentProfileInfo);
    return loaded;
}

bool TDM::LoadProfileInfoFromRegistry(std::int32_t AProfileIndex) {
    return IsProfileIndexInRange(AProfileIndex) &&
           LoadFromRegistry(GameStore(AProfileIndex), sizeof(TMouseProfileInfo),
                            kProfileInMemoryKept);
}

void TDM::LoadRecordMacroInfoFromRegistry() {
    owner_.Check();
    // Nothing stored leaves the zeroed record, which is what an empty macro record is.
    static_cast<void>(LoadFromRegistry(uiProfileRecordMacroInfo, sizeof(TMACROKEYINFO),
                                       u"the record in memory is kept"));
    uiProfileRecordMacroInfo.ReadRecord(FRecordMacroInfo);
}

void TDM::InitTestDefaultValue() {
    SetUpStore(uiProfileTest, kTestProfileName);
    uiProfileTest.WriteRecord(FTestProfileInfo);
    uiProfileTest.RestoreToDefault();
    uiProfileTest.ReadRecord(FTestProfileInfo);
    SetUpStore(uiProfileDefaultGame, kDefaultGameName);
    uiProfileDefaultGame.WriteRecord(FDefaultProfileInfo);
    uiProfileDefaultGame.RestoreToDefault();
    uiProfileDefaultGame.ReadRecord(FDefaultProfileInfo);
}

// ---- Switching ------------------------------------------------------------------------------

bool TDM::IsProfileIndexInRange(std::int32_t AProfileIndex) {
    return AProfileIndex >= 0 && AProfileIndex < kProfileCount;
}

bool TDM::IsProfileGroupIndexInRange(std::int32_t AProfileGroupIndex) {
    return AProfileGroupIndex >= 0 && AProfileGroupIndex < kProfileGroupCount;
}

bool TDM::SwitchToProfile(std::int32_t AProfileIndex) {
    if (!IsProfileIndexInRange(AProfileIndex))
        return false;
    FProfileIndex = AProfileIndex;
    CurrentStore().ReadRecord(FCurrentProfileInfo);
    FAllProfileSettingInfo.CurrentGame = static_cast<std::uint16_t>(AProfileIndex);
    return true;
}

bool TDM::SwitchToProfileGroup(std::int32_t AProfileGroupIndex) {
    if (!IsProfileGroupIndexInRange(AProfileGroupIndex))
        return false;
    FProfileSettingGroup.CurrentProfileGroup = AProfileGroupIndex;
    FProfileGroupIndex = AProfileGroupIndex;
    FProfileIndex = StoredProfileIndex(AProfileGroupIndex);
    static_cast<void>(SwitchToProfile(FProfileIndex));  // StoredProfileIndex is in range
    return true;
}

// ---- Working copies -------------------------------------------------------------------------

bool TDM::ReadCurrentProfileInfo() {
    CurrentStore().ReadRecord(FCurrentProfileInfo);
    return true;
}

bool TDM::ReadProfileInfo(TMouseProfileInfo& AProfileInfo, std::int32_t AProfileIndex) {
    if (!IsProfileIndexInRange(AProfileIndex))
        return false;
    GameStore(AProfileIndex).ReadRecord(AProfileInfo);
    return true;
}

void TDM::SaveBackToCurrentProfileInfo() {
    CurrentStore().WriteRecord(FCurrentProfileInfo);
    SetProfileChanged(FProfileIndex, true);
}

bool TDM::SaveBackToProfileInfo(const TMouseProfileInfo& AProfileInfo, std::int32_t AProfileIndex) {
    if (!IsProfileIndexInRange(AProfileIndex))
        return false;
    GameStore(AProfileIndex).WriteRecord(AProfileInfo);
    return true;
}

void TDM::SaveBackToProfileGroupSettingInfo() {
    owner_.Check();
    uiProfileSettingGroup.WriteRecord(FProfileSettingGroup);
}

// ---- Persisting -----------------------------------------------------------------------------

bool TDM::SaveCurrentProfileInfoToRegistry() {
    SaveBackToCurrentProfileInfo();
    return CurrentStore().SaveStreamToRegistry();
}

// The store's own result: a registry write that failed is reported, not taken as saved.
bool TDM::SaveProfileInfoToRegistry(std::int32_t AProfileIndex) {
    return IsProfileIndexInRange(AProfileIndex) && GameStore(AProfileIndex).SaveStreamToRegistry();
}

// Every profile is tried, also after a failure; true when all five were written.
bool TDM::SaveBackAllProfileInfo() {
    bool all_saved = true;
    for (std::int32_t i = 0; i < kProfileCount; ++i)
        all_saved = GameStore(i).SaveStreamToRegistry() && all_saved;
    return all_saved;
}

bool TDM::SaveBackAllProfileInfoToFile() {
    bool all_saved = true;
    for (std::int32_t i = 0; i < kProfileCount; ++i)
        all_saved = GameStore(i).SaveStreamToFile() && all_saved;
    return all_saved;
}

bool TDM::SaveCurrentProfileInfoToFile(std::u16string_view AFile) {
    return CurrentStore().SaveStreamToFile(AFile);
}

bool TDM::SaveCurrentProfileInfoToFile() {
    return CurrentStore().SaveStreamToFile();
}

bool TDM::SaveBackAllProfileSettingInfo() {
    owner_.Check();
    FAllProfileSettingInfo.CurrentGame = static_cast<std::uint16_t>(FProfileIndex);
    uiProfileAllSettingInfo.WriteRecord(FAllProfileSettingInfo);
    return uiProfileAllSettingInfo.SaveStreamToRegistry();
}

bool TDM::SaveProfileGroupSettingInfoToRegistry() {
    owner_.Check();
    uiProfileSettingGroup.WriteRecord(FProfileSettingGroup);
    return uiProfileSettingGroup.SaveStreamToRegistry();
}

bool TDM::SaveBackRecordMacroInfoToRegistry(const TMACROKEYINFO& ARecordMacroInfo) {
    uiProfileRecordMacroInfo.WriteRecord(ARecordMacroInfo);
    return uiProfileRecordMacroInfo.SaveStreamToRegistry();
}

// True when the name and the folder fit their fields whole (longer texts are cut).
bool TDM::ChangeCurrentProfileFileNameAndPath(std::u16string_view AProfileFilePath) {
    const auto [folder, name] = ports_.files.SplitFolderAndName(AProfileFilePath);
    CurrentStore().SetFileName(name);
    CurrentStore().SetFilePath(folder);
    TProfileSetting& entry = FProfileSettingGroup.ProfileSettingList[FProfileIndex];
    const bool name_fits = SetTextField(entry.FileName, name);
    const bool folder_fits = SetTextField(entry.ProfilePath, folder);
    return name_fits && folder_fits;
}

// ---- Restoring defaults ---------------------------------------------------------------------

void TDM::RestoreCurrentProfileInfoToDefault() {
    CurrentStore().RestoreToDefault();
    CurrentStore().ReadRecord(FCurrentProfileInfo);
    SetProfileChanged(FProfileIndex, true);
}

void TDM::RestoreAllProfileInfoToDefault() {
    for (std::int32_t i = 0; i < kProfileCount; ++i) {
        GameStore(i).RestoreToDefault();
        SetProfileChanged(i, true);
    }
    CurrentStore().ReadRecord(FCurrentProfileInfo);
}

bool TDM::RestoreProfileInfoToDefault(std::int32_t AProfileIndex) {
    if (!IsProfileIndexInRange(AProfileIndex))
        return false;
    GameStore(AProfileIndex).RestoreToDefault();
    SetProfileChanged(AProfileIndex, true);
    return true;
}

bool TDM::RestoreProfileGroupToDefault(std::int32_t AProfileGroupIndex) {
    if (!IsProfileGroupIndexInRange(AProfileGroupIndex))
        return false;
    const std::int32_t profile = StoredProfileIndex(AProfileGroupIndex);
    if (profile == FProfileIndex) {
        RestoreCurrentProfileInfoToDefault();
    } else {
        GameStore(profile).RestoreToDefault();
    }
    return true;
}

bool TDM::RestoreProfileSettingGroupToDefault() {
    uiProfileSettingGroup.RestoreToDefault();
    return uiProfileSettingGroup.SaveStreamToRegistry();
}

void TDM::RestoreToDefaultCPISetting() {
    korv::RestoreToDefaultCPISetting(FCurrentProfileInfo);
}

void TDM::RestoreToDefaultLightAndReportAdvancedSetting() {
    korv::RestoreToDefaultLightAndReportAdvancedSetting(FCurrentProfileInfo);
}

// ---- Change flags ---------------------------------------------------------------------------

void TDM::SetProfileChanged(std::int32_t AIndex, bool AIsChanged) {
    owner_.Check();
    if (IsProfileIndexInRange(AIndex))
        FProfileChanged[static_cast<std::size_t>(AIndex)] = AIsChanged;
}

bool TDM::IsProfileChanged(std::int32_t AIndex) const {
    owner_.Check();
    return IsProfileIndexInRange(AIndex) && FProfileChanged[static_cast<std::size_t>(AIndex)];
}

// ---- Paths and lists ------------------------------------------------------------------------

std::u16string TDM::GetPersonalDocumentProfilePath() {
    owner_.Check();
    // A separator follows the folder's name even when it ends with one: the path goes into the
    // stored records as the configuration program builds it.
    const std::u16string documents = ports_.shell.DocumentsFolder();
    const std::u16string path = ports_.files.JoinWithSeparator(
        ports_.files.PathInFolder(documents, FOptionsFromConfigFile.ProfileFolder), {});
    if (ports_.files.FolderExists(path))
        return path;
    // A new account on a Linux desktop may have no documents folder yet (xdg-user-dirs makes it
    // at the first graphical login, some desktops never do): it is made here, else no profile
    // file and no macro could ever be stored.
    if (!documents.empty() && !ports_.files.FolderExists(documents))
        static_cast<void>(ports_.files.CreateFolder(documents));
    if (!ports_.files.CreateFolder(path))
        Trace(u"The profile folder " + path + u" cannot be created");
    return path;
}

std::u16string TDM::GetPersonalDocumentMacroDatabasePath() {
    owner_.Check();
    const std::u16string folder =
        GetPersonalDocumentProfilePath() + FOptionsFromConfigFile.ProfileMacroFolder;
    if (!ports_.files.FolderExists(folder) && !ports_.files.CreateFolder(folder)) {
        Trace(u"The macro folder " + folder + u" cannot be created");
    }
    return ports_.files.JoinWithSeparator(folder, kMacroDatabaseName);
}

// Reads the fields straight from the stores' images, so that nothing is copied and a short
// image yields only the buttons it holds.
std::vector<std::int32_t> TDM::GetAllProfilesMacroIndexList() const {
    owner_.Check();
    constexpr std::size_t kConfig = offsetof(TMouseProfileInfo, ConfigInfo);
    constexpr std::size_t kButtons = kConfig + offsetof(TMOUSECONFIGINFO, ButtonFuncInfo);
    std::vector<std::int32_t> list;
    for (std::int32_t i = 0; i < kProfileCount; ++i) {
        const ProfileStream& image = FProfileGroup[static_cast<std::size_t>(i)]->Stream();
        std::int32_t count = 0;
        ReadStreamField(image, kConfig + offsetof(TMOUSECONFIGINFO, ButtonCount), count);
        if (count > kMaxProfileButtons) {
            Trace(u"Stored ButtonCount " + DecimalText(count) + u" of profile " + DecimalText(i) +
                  u" is above 12; 12 buttons are read");
            count = kMaxProfileButtons;
        }
        for (std::int32_t n = 0; n < count; ++n) {
            const std::size_t button =
                kButtons + sizeof(TBUTTONFUNCINFO) * static_cast<std::size_t>(n);
            std::uint8_t type = 0;
            std::uint16_t macro = 0;
            if (!ReadStreamField(image, button + offsetof(TBUTTONFUNCINFO, FunctionType), type) ||
                !ReadStreamField(image, button + offsetof(TBUTTONFUNCINFO, MacroIndex), macro)) {
                break;
            }
            if (type == kFunctionTypeMacro && std::ranges::find(list, macro) == list.end()) {
                list.push_back(macro);
            }
        }
    }
    return list;
}

// ---- Default handlers -----------------------------------------------------------------------

void TDM::GameDefault(ProfileStream& stream, int game) {
    const double now = ports_.clock.LocalDateTimeNow();
    ApplyToStream<TMouseProfileInfo>(stream,
                                     [&](TMouseProfileInfo& p) { ApplyGameDefault(p, game, now); });
}

void TDM::uiProfileTestRestoreToDefault(ProfileStream& stream) {
    if (stream.empty())
        return;
    const double now = ports_.clock.LocalDateTimeNow();
    ApplyToStream<TMouseProfileInfo>(stream,
                                     [&](TMouseProfileInfo& p) { ApplyTestDefault(p, now); });
}

void TDM::uiProfileAllSettingInfoRestoreToDefault(ProfileStream& stream) {
    const std::uint16_t language = ports_.locale.SystemDefaultLanguageId();
    ApplyToStream<TALLGAMESINFO>(stream,
                                 [&](TALLGAMESINFO& a) { ApplyAllSettingsDefault(a, language); });
}

void TDM::uiProfileSettingGroupRestoreToDefault(ProfileStream& stream) {
    const std::u16string documents = GetPersonalDocumentProfilePath();
    ApplyToStream<TProfileSettingGroup>(stream, [&](TProfileSettingGroup& group) {
        for (int i = 0; i < kProfileCount; ++i) {
            TProfileSetting& entry = group.ProfileSettingList[i];
            ApplyProfileSettingDefault(entry, i, FOptionsFromConfigFile, documents, ports_.files);
            for (const std::u16string& folder :
                 {GetTextField(entry.ProfilePath), GetTextField(entry.MacroPath)}) {
                if (!ports_.files.FolderExists(folder) && !ports_.files.CreateFolder(folder)) {
                    Trace(u"The folder " + folder + u" cannot be created");
                }
            }
        }
        ApplyProfileGroupSelectionDefault(group);
    });
}

}  // namespace korv
