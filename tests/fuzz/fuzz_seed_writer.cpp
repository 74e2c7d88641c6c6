// Writes the seed corpus of one fuzz target: valid inputs of its format, built from the shipped
// settings file and from the images the data module itself stores.
//
//   fuzz_seed_writer TARGET FOLDER CONFIG_INI

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/report_dispatch.h"
#include "app/settings_file.h"
#include "hid/report_descriptor.h"
#include "platform/fake/fake_data_module_ports.h"
#include "profile/text_field.h"
#include "tests/core/report_descriptor_samples.h"
#include "tests/fuzz/data_module_input.h"
#include "tests/fuzz/dispatch_rig.h"

namespace korv::fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Seeds = std::map<std::string, Bytes>;

Bytes ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string Replaced(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, from.size(), to), at += to.size();
    return text;
}

// ---- Settings file ----------------------------------------------------------------------

// The shipped file with every section in use.
std::string FullSettings(const Bytes& shipped) {
    std::string text(shipped.begin(), shipped.end());
    text = Replaced(text, ";[SimulatedHIDDeviceList]", "[SimulatedHIDDeviceList]");
    text = Replaced(text, ";sim1=", "sim1=");
    text =
        Replaced(text, "[HelpFiles]\n", "[HelpFiles]\n0409=help\\en.chm\n0804=\"help\\zh.chm\"\n");
    text = Replaced(text, "[IncludeHIDDeviceList]\n",
                    "[IncludeHIDDeviceList]\nid1=HID\\VID_FFA0&Col01\nid2=HID\\VID_FFA0&Col02\n");
    return text + "sim2=KORVANTH417-SIM-2, HID\\SIM&Col02, 65440, 1, 0x41, 65, 0\n";
}

Bytes Utf16LeWithMark(std::string_view text) {
    Bytes bytes{0xFF, 0xFE};
    for (const char c : text)
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
    return bytes;
}

Seeds SettingsSeeds(const Bytes& shipped) {
    const std::string full = FullSettings(shipped);
    return {{"shipped.ini", shipped},
            {"full.ini", Bytes(full.begin(), full.end())},
            {"full-utf16.ini", Utf16LeWithMark(full)},
            {"full-utf8.ini", [&] {
                 Bytes bytes{0xEF, 0xBB, 0xBF};
                 bytes.insert(bytes.end(), full.begin(), full.end());
                 return bytes;
             }()}};
}

// ---- Data module ------------------------------------------------------------------------

// The images a first start with the shipped settings stores or holds.
struct Images {
    Bytes all_settings;
    Bytes profile_group;
    Bytes record_macro;
    std::vector<Bytes> games;
    std::u16string profile_folder;
};

Images FirstStartImages(const Bytes& settings_file) {
    fake::FakeDataModulePorts ports;
    ports.files.Put(ports.files.ExecutableFolder() + std::u16string(kSettingsFileName),
                    settings_file);
    const std::unique_ptr<TDM> dm = LoadDataModule(ports.Ports());
    Images images;
    images.all_settings = dm->uiProfileAllSettingInfo.Stream();
    images.profile_group = dm->uiProfileSettingGroup.Stream();
    images.record_macro = dm->uiProfileRecordMacroInfo.Stream();
    for (int game = 0; game < kProfileCount; ++game)
        images.games.push_back(dm->GameStore(game).Stream());
    images.profile_folder = dm->GetPersonalDocumentProfilePath();
    return images;
}

// The group record with every profile kept in a file of the profile folder.
Bytes GroupWithFiles(const Images& images) {
    TProfileSettingGroup group;
    std::memcpy(&group, images.profile_group.data(), sizeof group);
    for (TProfileSetting& entry : group.ProfileSettingList) {
        entry.StorageType = kStorageTypeFile;
        SetTextField(entry.ProfilePath, images.profile_folder);
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&group);
    return Bytes(bytes, bytes + sizeof group);
}

void WriteStoredValues(InputWriter& input, const Images& images, StoredValueKind kind) {
    WriteValue(input, StoredValueName::ProfileGroup, 0, kind, images.profile_group);
    WriteValue(input, StoredValueName::AllSettings, 0, kind, images.all_settings);
    WriteValue(input, StoredValueName::RecordMacro, 0, kind, images.record_macro);
    for (int game = 0; game < kProfileCount; ++game)
        WriteValue(input, StoredValueName::FirstGame, game, kind, images.games[game]);
}

Seeds DataModuleSeeds(const Bytes& shipped) {
    const Images images = FirstStartImages(shipped);
    Seeds seeds;
    const auto seed = [&](const char* name, const Bytes& settings,
                          const std::function<void(InputWriter&)>& commands) {
        InputWriter input;
        input.Piece(settings);
        commands(input);
        seeds[name] = input.Result();
    };
    seed("first-start", shipped, [](InputWriter&) {});
    seed("stored", shipped, [&](InputWriter& input) {
        WriteStoredValues(input, images, StoredValueKind::Binary);
        WriteReloadProfiles(input, 1);
        WriteValue(input, StoredValueName::FirstGame, 2, StoredValueKind::Binary, images.games[2]);
        WriteReloadSettings(input);
    });
    seed("files", shipped, [&](InputWriter& input) {
        WriteValue(input, StoredValueName::ProfileGroup, 0, StoredValueKind::Binary,
                   GroupWithFiles(images));
        WriteValue(input, StoredValueName::AllSettings, 0, StoredValueKind::Binary,
                   images.all_settings);
        for (int game = 0; game < kProfileCount; ++game)
            WriteFile(input, game, images.games[game]);
        WriteReloadProfiles(input, 0);
    });
    seed("other-kinds", shipped, [&](InputWriter& input) {
        WriteStoredValues(input, images, StoredValueKind::Other);
        WriteValue(input, StoredValueName::AllSettings, 0, StoredValueKind::Text,
                   images.all_settings);
        WriteValue(input, StoredValueName::FirstGame, 0, StoredValueKind::Integer32,
                   Bytes{1, 0, 0, 0});
        WriteReloadSettings(input);
    });
    seed("no-settings-file", {}, [&](InputWriter& input) {
        WriteStoredValues(input, FirstStartImages({}), StoredValueKind::Binary);
        WriteReloadProfiles(input, -1);
    });
    return seeds;
}

// ---- Input reports ----------------------------------------------------------------------

constexpr DispatchSetup kEverything{true, true, true, 0x0108};  // buttons 3 and 8 mute

Bytes KeyReport(std::size_t row) {
    const auto& key = KeyReportTable[row];
    return {key[1], key[2], key[3], 0, 0, 0, 0};
}

Bytes DeviceEvent(std::uint8_t kind, std::uint8_t value) {
    return {kind, value, 0, 0, 0, 0, 0};
}

Seeds ReportSeeds() {
    const auto report = [](InputWriter& input, std::uint8_t id, const Bytes& data) {
        input.Byte(id).Byte(static_cast<std::uint8_t>(data.size())).Bytes(data);
    };
    InputWriter keys;
    kEverything.Write(keys);
    for (std::size_t row = 0; row < KeyReportTable.size(); ++row)
        report(keys, kKeyReportId, KeyReport(row));
    InputWriter events;
    kEverything.Write(events);
    for (std::uint8_t value = 0; value <= 5; ++value)
        report(events, kDeviceEventReportId, DeviceEvent(1, value));
    report(events, kDeviceEventReportId, DeviceEvent(2, 9));
    report(events, kDeviceEventReportId, DeviceEvent(6, 3));
    InputWriter odd;
    DispatchSetup{false, false, false, 0xFFFF}.Write(odd);
    report(odd, kKeyReportId, KeyReport(3));
    report(odd, kKeyReportId, Bytes(8, 0x08));
    report(odd, kDeviceEventReportId, Bytes{1, 2});
    report(odd, 0, Bytes(64, 0));
    return {{"keys", keys.Result()}, {"device-events", events.Result()}, {"odd", odd.Result()}};
}

// ---- HID reader -------------------------------------------------------------------------

// Read kinds as the reader target's input format has them.
constexpr std::uint8_t kRead = 0, kSizeDiffers = 4, kLongCount = 8, kWithUsages = 16;

void ScriptReport(InputWriter& input, std::uint8_t id, const Bytes& data,
                  const std::vector<std::uint16_t>& usages) {
    input.Byte(kRead | kWithUsages).Byte(static_cast<std::uint8_t>(data.size() + 1)).Byte(id);
    input.Bytes(data).Byte(static_cast<std::uint8_t>(usages.size()));
    for (const std::uint16_t usage : usages)
        input.Uint16(usage);
}

Seeds HidReaderSeeds() {
    const auto start = [](std::uint16_t length) {
        InputWriter input;
        kEverything.Write(input);
        input.Uint16(length).Byte(4);
        return input;
    };
    InputWriter reports = start(8);
    ScriptReport(reports, kKeyReportId, KeyReport(3), {1, 2});
    ScriptReport(reports, kKeyReportId, KeyReport(8), {2});
    ScriptReport(reports, kDeviceEventReportId, DeviceEvent(1, 2), {});
    reports.Byte(kRead).Byte(0);                                             // a report of size 0
    reports.Byte(static_cast<std::uint8_t>(HidReadResult::Status::Failed));  // no known reason
    reports.Byte(kRead | kLongCount).Uint16(20).Bytes(Bytes(20, 0x07));  // longer than the buffer
    reports.Byte(kRead | kSizeDiffers).Byte(2).Bytes(Bytes{7, 1}).Uint16(300);
    InputWriter refused = start(8);
    ScriptReport(refused, kKeyReportId, KeyReport(0), {5});
    refused.Byte(static_cast<std::uint8_t>(HidReadResult::Status::Refused));
    InputWriter cancelled = start(64);
    ScriptReport(cancelled, kDeviceEventReportId, DeviceEvent(2, 1), {});
    cancelled.Byte(static_cast<std::uint8_t>(HidReadResult::Status::Cancelled));
    InputWriter no_buffer = start(0);
    ScriptReport(no_buffer, kKeyReportId, KeyReport(1), {});
    return {{"reports", reports.Result()},
            {"refused", refused.Result()},
            {"cancelled", cancelled.Result()},
            {"no-buffer", no_buffer.Result()}};
}

// ---- Report descriptors -------------------------------------------------------------------

// Each sample descriptor with, for every collection and identifier, a report of its full input
// length with every bit set and one with none.
Seeds ReportDescriptorSeeds() {
    Seeds seeds;
    int number = 0;
    for (const std::string_view sample : testing_descriptors::kAllSamples) {
        const Bytes descriptor = testing_descriptors::Hex(sample);
        const auto layouts = ParseReportDescriptor(descriptor);
        if (!layouts)
            return {};
        InputWriter input;
        input.Piece(descriptor);
        for (std::size_t i = 0; i < layouts->size(); ++i) {
            const HidCollectionLayout& layout = (*layouts)[i];
            const std::size_t ids = std::max<std::size_t>(layout.report_ids.size(), 1);
            const std::uint16_t length = layout.capabilities.input_report_length;
            for (std::size_t id = 0; id < ids; ++id) {
                for (const std::uint8_t fill : {0xFF, 0x00}) {
                    input.Byte(static_cast<std::uint8_t>(i)).Byte(static_cast<std::uint8_t>(id));
                    input.Uint16(length).Bytes(Bytes(length, fill));
                }
            }
        }
        seeds["descriptor-" + std::to_string(++number)] = input.Result();
    }
    return seeds;
}

}  // namespace
}  // namespace korv::fuzz

int main(int argc, char** argv) {
    using namespace korv::fuzz;
    if (argc != 4) {
        std::fprintf(stderr, "usage: fuzz_seed_writer TARGET FOLDER CONFIG_INI\n");
        return 2;
    }
    const std::string_view target = argv[1];
    const Bytes shipped = ReadFile(argv[3]);
    Seeds seeds;
    if (target == "settings_file")
        seeds = SettingsSeeds(shipped);
    else if (target == "data_module")
        seeds = DataModuleSeeds(shipped);
    else if (target == "report_dispatch")
        seeds = ReportSeeds();
    else if (target == "hid_reader")
        seeds = HidReaderSeeds();
    else if (target == "report_descriptor")
        seeds = ReportDescriptorSeeds();
    if (seeds.empty() || shipped.empty()) {
        std::fprintf(stderr, "fuzz_seed_writer: no seeds for %s\n", argv[1]);
        return 1;
    }
    for (const auto& [name, bytes] : seeds) {
        std::ofstream out(std::string(argv[2]) + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "fuzz_seed_writer: cannot write %s\n", name.c_str());
            return 1;
        }
    }
    return 0;
}
