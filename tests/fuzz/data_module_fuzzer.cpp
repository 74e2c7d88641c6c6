// libFuzzer target for the stored record images: registry values of any kind and size and
// ".pfd" profile files of any size go through the monitor's start-up (the settings file, the
// data module, the monitor window's creation) and the two reloads the configuration program
// asks for, then every button and profile event is acted on. Beyond the sanitizers it checks
// that the active group and profile stay in range, and that nothing stored from outside is
// overwritten: binary values and files stay as they were put (see data_module_input.h).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>

#include "app/mouse_monitor.h"
#include "app/settings_file.h"
#include "base/ascii_text.h"
#include "base/key_path_text.h"
#include "lang/translation_engine.h"
#include "profile/default_profiles.h"
#include "profile/text_field.h"
#include "tests/core/fake_monitor_ports.h"
#include "tests/fuzz/data_module_input.h"

namespace korv {
namespace {

using fuzz::DataModuleCommand;
using fuzz::InputReader;
using fuzz::StoredValueName;
using Bytes = std::vector<std::uint8_t>;

constexpr std::u16string_view kFixedValueNames[] = {u"allsettings.pfd", u"ProfileSettingGroup.pfd",
                                                    u"RecordRPROFILE.pfd"};
// A reload costs a copy of a few records: a few dozen keep an input quick.
constexpr int kMaxCommands = 48;

// The monitor with every port faked, and what was stored into it from outside.
class MonitorRig : public fake::FakeMonitorPorts {
  public:
    explicit MonitorRig(std::span<const std::uint8_t> settings_file) {
        if (!settings_file.empty())
            PutFile(files.ExecutableFolder() + std::u16string(kSettingsFileName), settings_file);
        options_ = SettingsFile::Load(files, locale).ReadOptions();
    }
    ~MonitorRig() {
        if (monitor_)
            monitor_->FormDestroy();
        ResetLanguage();  // the translation engine is process-wide
    }

    void Run(InputReader& input);

  private:
    bool RunCommand(InputReader& input);
    void PutValue(std::uint8_t command, InputReader& input);
    void PutProfileFile(InputReader& input);
    TKORVANTH417MONMAIN& Monitor();
    void Start();
    void CheckState() const;
    void CheckNothingOverwritten() const;
    void PutFile(const std::u16string& path, std::span<const std::uint8_t> bytes);
    TProfileSettingGroup ProfileGroup() const;
    std::u16string ValueName(std::uint8_t which) const;

    TOptionsFromConfigFile options_;
    std::unique_ptr<TDM> dm_;
    std::unique_ptr<TKORVANTH417MONMAIN> monitor_;

    // What was put last under each value name (in lower case, as the registry ignores ASCII
    // case) and each file path.
    std::map<std::u16string, std::pair<std::u16string, Bytes>> binary_values_;
    std::map<std::u16string, Bytes> user_files_;
};

std::u16string Lower(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& c : lower)
        c = AsciiLower(c);
    return lower;
}

// The profile-group record as stored, or the default one that start-up builds without it: it
// names the game profiles' values and files.
TProfileSettingGroup MonitorRig::ProfileGroup() const {
    TProfileSettingGroup group{};
    const StoredValue* stored = registry.Find(
        StoreScope::User, KeyPathFromText(options_.ProfileRegFolder), kFixedValueNames[1]);
    if (stored != nullptr && stored->data.size() >= sizeof group) {
        std::memcpy(&group, stored->data.data(), sizeof group);
        return group;
    }
    const std::u16string documents =
        files.JoinWithSeparator(files.PathInFolder(shell.documents, options_.ProfileFolder), {});
    for (int i = 0; i < kProfileCount; ++i)
        ApplyProfileSettingDefault(group.ProfileSettingList[i], i, options_, documents, files);
    return group;
}

std::u16string MonitorRig::ValueName(std::uint8_t which) const {
    const int name = which % fuzz::kStoredValueNames;
    const int first_game = static_cast<int>(StoredValueName::FirstGame);
    if (name < first_game)
        return std::u16string(kFixedValueNames[name]);
    return GetTextField(ProfileGroup().ProfileSettingList[name - first_game].FileName);
}

void MonitorRig::PutFile(const std::u16string& path, std::span<const std::uint8_t> bytes) {
    files.Put(path, {bytes.begin(), bytes.end()});
    user_files_[path] = {bytes.begin(), bytes.end()};
}

void MonitorRig::Start() {
    dm_ = LoadDataModule(Ports());
    CheckState();
    monitor_ = std::make_unique<TKORVANTH417MONMAIN>(nullptr, monitor_ports, *dm_,
                                                     SettingsFile::Load(files, locale));
    monitor_->FormCreate();
}

void MonitorRig::CheckState() const {
    FUZZ_CHECK(TDM::IsProfileGroupIndexInRange(dm_->FProfileGroupIndex));
    FUZZ_CHECK(TDM::IsProfileIndexInRange(dm_->FProfileIndex));
}

// Stored data belongs to the configuration program and the user: the monitor replaces a value
// only when it is missing or of a kind no store writes, and writes a profile file only where
// none is.
void MonitorRig::CheckNothingOverwritten() const {
    for (const auto& [lower, value] : binary_values_) {
        if (lower == u"profileid")
            continue;  // the monitor's own value
        const StoredValue* now = registry.Find(
            StoreScope::User, KeyPathFromText(options_.ProfileRegFolder), value.first);
        FUZZ_CHECK(now != nullptr && now->data == value.second);
    }
    for (const auto& [path, bytes] : user_files_) {
        const auto now = files.Files().find(path);
        FUZZ_CHECK(now != files.Files().end() && now->second == bytes);
    }
}

void MonitorRig::PutValue(std::uint8_t command, InputReader& input) {
    const auto kind = static_cast<StoredValueKind>((command >> 2) % 4);
    const std::u16string name = ValueName(input.Byte());
    const std::span<const std::uint8_t> bytes = input.Piece();
    registry.Put(StoreScope::User, KeyPathFromText(options_.ProfileRegFolder), name, kind,
                 {bytes.begin(), bytes.end()});
    if (kind == StoredValueKind::Binary || kind == StoredValueKind::Other)
        binary_values_[Lower(name)] = {name, {bytes.begin(), bytes.end()}};
    else
        binary_values_.erase(Lower(name));
}

// A profile file where the profile-group record names it.
void MonitorRig::PutProfileFile(InputReader& input) {
    const TProfileSetting& entry = ProfileGroup().ProfileSettingList[input.Byte() % kProfileCount];
    PutFile(files.PathInFolder(GetTextField(entry.ProfilePath), GetTextField(entry.FileName)),
            input.Piece());
}

TKORVANTH417MONMAIN& MonitorRig::Monitor() {
    if (!monitor_)
        Start();
    return *monitor_;
}

// Returns whether the command was a reload.
bool MonitorRig::RunCommand(InputReader& input) {
    const std::uint8_t command = input.Byte();
    switch (static_cast<DataModuleCommand>(command % 4)) {
        case DataModuleCommand::Value:
            PutValue(command, input);
            return false;
        case DataModuleCommand::File:
            PutProfileFile(input);
            return false;
        case DataModuleCommand::ReloadProfiles:
            Monitor().WMReloadProfiles(static_cast<std::int8_t>(input.Byte()));
            return true;
        case DataModuleCommand::ReloadSettings:
            Monitor().WMReloadSettings();
            return true;
    }
    return false;
}

void MonitorRig::Run(InputReader& input) {
    bool reloaded = false;
    for (int n = 0; n < kMaxCommands && !input.AtEnd(); ++n) {
        reloaded = RunCommand(input) || reloaded;
        if (dm_)
            CheckState();
    }
    if (!reloaded) {
        Monitor().WMReloadProfiles(0);
        Monitor().WMReloadSettings();
        CheckState();
    }
    // Every button of the active profile and every profile slot, as the reports announce them.
    for (std::uintptr_t event = 0; event <= 25; ++event)
        Monitor().WMMonitorEvent(event, 1);
    loop.RunPending();  // the profile switch they fold into
    const std::vector<std::int32_t> macros = dm_->GetAllProfilesMacroIndexList();
    FUZZ_CHECK(std::set(macros.begin(), macros.end()).size() == macros.size());
    CheckNothingOverwritten();
}

}  // namespace
}  // namespace korv

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korv::fuzz::InputReader input({data, size});
    const std::span<const std::uint8_t> settings_file = input.Piece();
    korv::MonitorRig rig(
        settings_file.first(std::min(settings_file.size(), korv::fuzz::kLargestSettingsFile)));
    rig.Run(input);
    return 0;
}
