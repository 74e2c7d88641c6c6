#include "profile/dm_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "app/settings_file.h"
#include "base/key_path_text.h"
#include "hid/usage_and_page.h"
#include "platform/fake/fake_data_module_ports.h"
#include "profile/default_profiles.h"
#include "profile/text_field.h"
#include "tests/core/profile_reference.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using test::Bytes;

constexpr std::u16string_view kRegFolder = test::kDefaultRegFolder;
const StoreKeyPath& kRegKey = test::kDefaultRegKey;
constexpr std::u16string_view kProfileFolder = u"C:\\users\\gamer\\Documents\\Profile\\";

template <typename Record>
Bytes ImageOf(const Record& record) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&record);
    return Bytes(p, p + sizeof(Record));
}

template <typename Record>
Bytes Prefix(const Record& record, std::size_t size) {
    Bytes image = ImageOf(record);
    image.resize(size);
    return image;
}

// The fakes of one run of the data module, with helpers to arrange its stored data.
class DataModuleWorld : public fake::FakeDataModulePorts {
  public:
    std::unique_ptr<TDM> Start() { return LoadDataModule(Ports()); }

    void PutValue(std::u16string_view name, Bytes data,
                  StoredValueKind kind = StoredValueKind::Binary) {
        registry.Put(StoreScope::User, kRegKey, name, kind, std::move(data));
    }
    const StoredValue* Value(std::u16string_view name) const {
        return registry.Find(StoreScope::User, kRegKey, name);
    }
    // A stored group record made from the default one by `edit`.
    Bytes GroupRecord(const std::function<void(TProfileSettingGroup&)>& edit) {
        auto group = std::make_unique<TProfileSettingGroup>();
        const Bytes image = reference::ProfileGroupDefault(kProfileFolder, kRegFolder);
        std::memcpy(group.get(), image.data(), image.size());
        edit(*group);
        return ImageOf(*group);
    }
};

class DataModuleTest : public ::testing::Test, public DataModuleWorld {};

// The fakes of one run on a file system whose separator is '/', with a home folder's documents
// folder named (it exists only where a test makes it).
struct SlashWorld {
    SlashWorld() { shell.documents = u"/home/gamer/Documents"; }
    DataModulePorts Ports() { return {registry, files, shell, locale, clock, debug}; }

    fake::MemoryKeyedStore registry;
    fake::MemoryFileSystem files{u"/opt/korv/", u'/'};
    fake::FakeShell shell;
    fake::FakeLocale locale;
    fake::FixedClock clock;
    fake::RecordingDebugOutput debug;
};

class DataModulePaths : public ::testing::Test, public SlashWorld {};

TEST_F(DataModuleTest, CleanStartStoresTheGroupAndAllSettingsDefaultsOnly) {
    const auto dm = Start();
    EXPECT_EQ(registry.ValueNames(StoreScope::User, kRegKey),
              (std::set<std::u16string>{u"profilesettinggroup.pfd", u"allsettings.pfd"}));
    EXPECT_EQ(Value(u"ProfileSettingGroup.pfd")->data,
              reference::ProfileGroupDefault(kProfileFolder, kRegFolder));
    EXPECT_EQ(Value(u"allsettings.pfd")->data, reference::AllSettingsDefault(0));
    EXPECT_TRUE(files.Files().empty());

    EXPECT_EQ(dm->FProfileGroupIndex, 0);
    EXPECT_EQ(dm->FProfileIndex, 2);
    EXPECT_EQ(ImageOf(dm->FCurrentProfileInfo), reference::GameDefault(2, clock.now));
    for (int game = 0; game < 5; ++game) {
        EXPECT_EQ(dm->GameStore(game).Stream(), reference::GameDefault(game, clock.now)) << game;
    }
    for (std::u16string folder :
         {u"Profile", u"Profile\\\\Profile1_Macros", u"Profile\\\\Profile5_Macros"}) {
        EXPECT_TRUE(files.FolderExists(shell.documents + u"\\" + folder)) << folder.size();
    }
    EXPECT_EQ(MouseUsageAndPage.Usage, 1);
    EXPECT_EQ(MouseUsageAndPage.UsagePage, 0xFFA0);
    EXPECT_TRUE(debug.lines.empty());
}

TEST_F(DataModuleTest, SecondStartLoadsWhatTheFirstStored) {
    Start();
    const int writes = registry.WriteCount();
    const auto dm = Start();
    EXPECT_EQ(registry.WriteCount(), writes);
    EXPECT_EQ(dm->FProfileIndex, 2);
}

TEST_F(DataModuleTest, CurrentLanguageFollowsTheSystemLanguage) {
    for (auto [id, expected] : {std::pair{0x0804, 1}, {0x0404, 2}, {0x0409, 0}, {0x0c04, 0}}) {
        fake::MemoryKeyedStore registry;
        fake::FakeLocale locale;
        locale.system_language_id = static_cast<std::uint16_t>(id);
        const auto dm = LoadDataModule({registry, files, shell, locale, clock, debug});
        EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentLanguage, expected) << std::hex << id;
    }
}

TEST_F(DataModuleTest, FileStoredProfileMissingIsWrittenExistingIsLoaded) {
    const std::u16string folder = std::u16string(kProfileFolder) + u"Files";
    PutValue(u"ProfileSettingGroup.pfd", GroupRecord([&](TProfileSettingGroup& g) {
                 for (int i : {1, 3}) {
                     g.ProfileSettingList[i].StorageType = kStorageTypeFile;
                     SetTextField(g.ProfileSettingList[i].ProfilePath, folder);
                 }
             }));
    const Bytes stored_profile2(113064, 0x5A);
    files.AddFolder(folder);
    files.Put(folder + u"\\Profile2.pfd", stored_profile2);

    const auto dm = Start();
    // The missing file of profile 4 now holds its default; the existing file of profile 2 was
    // loaded and left as it was.
    EXPECT_EQ(files.Files().at(folder + u"\\Profile4.pfd"), reference::GameDefault(3, clock.now));
    EXPECT_EQ(dm->GameStore(1).Stream(), stored_profile2);
    EXPECT_EQ(files.Files().at(folder + u"\\Profile2.pfd"), stored_profile2);
    EXPECT_EQ(files.Files().size(), 2u);
}

TEST_F(DataModuleTest, UnreadableProfileFileIsNotOverwrittenWithTheDefault) {
    const std::u16string folder = std::u16string(kProfileFolder) + u"Files";
    PutValue(u"ProfileSettingGroup.pfd", GroupRecord([&](TProfileSettingGroup& g) {
                 g.ProfileSettingList[0].StorageType = kStorageTypeFile;
                 SetTextField(g.ProfileSettingList[0].ProfilePath, folder);
             }));
    files.PutUnreadable(folder + u"\\Profile1.pfd");
    const auto dm = Start();
    EXPECT_EQ(files.WriteCount(), 0);
    EXPECT_EQ(dm->GameStore(0).Stream(), reference::GameDefault(0, clock.now));
    EXPECT_EQ(debug.lines.size(), 1u);
}

// Every fallback to something other than the stored data says so in one trace line, naming the
// value or file and what serves instead.
TEST_F(DataModuleTest, EachFallbackWritesOneTraceLine) {
    const std::u16string folder = std::u16string(kProfileFolder) + u"Files";
    const std::u16string config = files.ExecutableFolder() + u"config.ini";
    const Bytes oversized(kMaxProfileFileSize + 1, 0x5A);
    auto file_stored = [](std::u16string path) {
        return [path](DataModuleWorld& t) {
            t.files.AddFolder(std::u16string(kProfileFolder) + u"Files");
            t.PutValue(u"ProfileSettingGroup.pfd", t.GroupRecord([&](TProfileSettingGroup& g) {
                g.ProfileSettingList[0].StorageType = kStorageTypeFile;
                SetTextField(g.ProfileSettingList[0].ProfilePath, path);
            }));
        };
    };
    auto value = [](std::u16string_view name, StoredValueKind kind, Bytes data) {
        return [=](DataModuleWorld& t) { t.PutValue(name, data, kind); };
    };
    struct Case {
        const char* what;
        std::function<void(DataModuleWorld&)> arrange;       // before start-up
        std::function<void(DataModuleWorld&, TDM&)> reload;  // after it, when given
        std::u16string line;
    };
    const Case cases[] = {
        {"group record of 10 bytes",
         value(u"ProfileSettingGroup.pfd", StoredValueKind::Binary, Bytes(10, 0)), nullptr,
         u"Registry value ProfileSettingGroup.pfd holds 10 of the 30964 bytes of its record; the "
         u"rest keeps its previous content (zeros at start-up)"},
        {"group record as a string",
         value(u"ProfileSettingGroup.pfd", StoredValueKind::Text, {65, 0, 0, 0}), nullptr,
         u"Registry value ProfileSettingGroup.pfd is a string value, not binary data; its default "
         u"is used and stored"},
        {"all settings as a number",
         value(u"allsettings.pfd", StoredValueKind::Integer32, {2, 0, 0, 0}), nullptr,
         u"Registry value allsettings.pfd is a 32-bit number value, not binary data; its default "
         u"is used and stored"},
        {"profile as a string", value(u"Profile4.pfd", StoredValueKind::Text, {65, 0}), nullptr,
         u"Registry value Profile4.pfd is a string value, not binary data; its default is used"},
        {"profile of 4 bytes", value(u"Profile4.pfd", StoredValueKind::Binary, {3, 1, 0, 0}),
         nullptr,
         u"Registry value Profile4.pfd holds 4 of the 113064 bytes of its record; the rest keeps "
         u"its previous content (zeros at start-up)"},
        {"reloaded profile as a number", nullptr,
         [](DataModuleWorld& t, TDM& dm) {
             t.PutValue(u"Profile3.pfd", {7, 0, 0, 0}, StoredValueKind::Integer32);
             EXPECT_FALSE(dm.LoadCurrentProfileInfoFromRegistry());
         },
         u"Registry value Profile3.pfd is a 32-bit number value, not binary data; the profile in "
         u"memory is kept"},
        {"reloaded macro record as a string", nullptr,
         [](DataModuleWorld& t, TDM& dm) {
             t.PutValue(u"RecordRPROFILE.pfd", {65, 0}, StoredValueKind::Text);
             dm.LoadRecordMacroInfoFromRegistry();
         },
         u"Registry value RecordRPROFILE.pfd is a string value, not binary data; the record in "
         u"memory is kept"},
        {"oversized profile file",
         [&](DataModuleWorld& t) {
             file_stored(folder)(t);
             t.files.Put(folder + u"\\Profile1.pfd", oversized);
         },
         nullptr,
         u"Profile file " + folder +
             u"\\Profile1.pfd is 452257 bytes, above the limit of 452256; its default is used"},
        {"oversized profile file reloaded", nullptr,
         [&](DataModuleWorld& t, TDM& dm) {
             t.files.Put(u"C:\\Big.pfd", oversized);
             EXPECT_FALSE(dm.LoadCurrentProfileInfoFromFile(u"C:\\Big.pfd"));
         },
         u"Profile file C:\\Big.pfd is 452257 bytes, above the limit of 452256; the profile in "
         u"memory is kept"},
        {"oversized profile value",
         value(u"Profile4.pfd", StoredValueKind::Binary, Bytes(kMaxProfileFileSize + 1, 1)),
         nullptr,
         u"Registry value Profile4.pfd is 452257 bytes, above the limit of 452256; its default "
         u"is used"},
        {"oversized group value reloaded", nullptr,
         [](DataModuleWorld& t, TDM& dm) {
             t.PutValue(u"ProfileSettingGroup.pfd", Bytes(kMaxProfileFileSize + 1, 0),
                        StoredValueKind::Binary);
             dm.LoadProfileGroupSettingInfoFromRegistry();
             EXPECT_EQ(dm.FProfileGroupIndex, 0);
             ASSERT_NE(t.Value(u"ProfileSettingGroup.pfd"), nullptr);
             EXPECT_EQ(t.Value(u"ProfileSettingGroup.pfd")->data.size(), kMaxProfileFileSize + 1);
         },
         u"Registry value ProfileSettingGroup.pfd is 452257 bytes, above the limit of 452256; its "
         u"default is used and the stored value is left as it is"},
        {"default profile file in a named folder", file_stored(folder), nullptr,
         u"Profile file " + folder + u"\\Profile1.pfd is missing; its default was written there"},
        {"default profile file for an empty path", file_stored(u""), nullptr,
         u"Profile file \\Profile1.pfd is missing; its default was written there (a path "
         u"relative to the current drive or folder)"},
        {"unreadable config.ini", [&](DataModuleWorld& t) { t.files.PutUnreadable(config); },
         nullptr, u"Settings file " + config + u" cannot be read; every setting takes its default"},
        {"oversized config.ini",
         [&](DataModuleWorld& t) { t.files.Put(config, Bytes(kMaxSettingsFileSize + 1, 'x')); },
         nullptr,
         u"Settings file " + config +
             u" is 1048577 bytes, above the limit of 1048576; every setting takes its default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DataModuleWorld t;
        if (c.arrange)
            c.arrange(t);
        const auto dm = t.Start();
        if (c.reload)
            c.reload(t, *dm);
        EXPECT_EQ(t.debug.lines, std::vector<std::u16string>{c.line});
    }
}

// Five profiles on one file far above the limit: none reads it, each gets its default, and the
// file stays as it was.
TEST_F(DataModuleTest, OversizedProfileFileIsNeitherReadNorOverwritten) {
    const std::u16string folder = std::u16string(kProfileFolder) + u"Files";
    files.AddFolder(folder);
    PutValue(u"ProfileSettingGroup.pfd", GroupRecord([&](TProfileSettingGroup& g) {
                 for (TProfileSetting& entry : g.ProfileSettingList) {
                     entry.StorageType = kStorageTypeFile;
                     SetTextField(entry.ProfilePath, folder);
                     SetTextField(entry.FileName, u"Shared.pfd");
                 }
             }));
    const Bytes big(3'000'000, 0xA5);
    files.Put(folder + u"\\Shared.pfd", big);

    const auto dm = Start();
    EXPECT_EQ(files.BytesRead(), 0u);
    EXPECT_EQ(files.WriteCount(), 0);
    EXPECT_EQ(files.Files().at(folder + u"\\Shared.pfd"), big);
    for (int game = 0; game < 5; ++game)
        EXPECT_EQ(dm->GameStore(game).Stream(), reference::GameDefault(game, clock.now)) << game;
    EXPECT_EQ(ImageOf(dm->FCurrentProfileInfo), reference::GameDefault(2, clock.now));
    EXPECT_EQ(debug.lines.size(), 5u);
}

// Damaged stored values run through start-up and both reload sequences: the module keeps
// working with indexes in range, and the stored values stay as they were.
TEST_F(DataModuleTest, CorruptStoredValuesNeverEndTheModule) {
    struct Case {
        const char* what;
        std::u16string_view name;
        StoredValueKind kind;
        std::function<Bytes(DataModuleTest&)> data;
        std::int32_t expected_profile;
    };
    auto group = [](std::function<void(TProfileSettingGroup&)> edit) {
        return [edit](DataModuleTest& t) { return t.GroupRecord(edit); };
    };
    auto all_settings = [](std::uint16_t current_game) {
        return [current_game](DataModuleTest&) {
            Bytes image = reference::AllSettingsDefault(0);
            image[30950] = static_cast<std::uint8_t>(current_game);
            image[30951] = static_cast<std::uint8_t>(current_game >> 8);
            return image;
        };
    };
    auto bytes = [](Bytes b) { return [b](DataModuleTest&) { return b; }; };
    const Case cases[] = {
        {"group as a string", u"ProfileSettingGroup.pfd", StoredValueKind::Text,
         bytes({65, 0, 0, 0}), 2},
        {"group as a number", u"ProfileSettingGroup.pfd", StoredValueKind::Integer32,
         bytes({1, 0, 0, 0}), 2},
        {"empty group", u"ProfileSettingGroup.pfd", StoredValueKind::Binary, bytes({}), 2},
        {"short group", u"ProfileSettingGroup.pfd", StoredValueKind::Binary,
         bytes({1, 0, 0, 0, 9, 9}), 2},
        {"long group", u"ProfileSettingGroup.pfd", StoredValueKind::Binary,
         bytes(Bytes(70000, 0xFF)), 2},
        {"group index 7", u"ProfileSettingGroup.pfd", StoredValueKind::Binary,
         group([](auto& g) { g.CurrentProfileGroup = 7; }), 2},
        {"negative group index", u"ProfileSettingGroup.pfd", StoredValueKind::Binary,
         group([](auto& g) { g.CurrentProfileGroup = -1; }), 2},
        {"profile indexes 9 and -1", u"ProfileSettingGroup.pfd", StoredValueKind::Binary,
         group([](auto& g) {
             g.ProfileIndexOfProfileGroup[0] = 9, g.ProfileIndexOfProfileGroup[1] = -1;
         }),
         2},
        {"storage type 5", u"ProfileSettingGroup.pfd", StoredValueKind::Binary,
         group([](auto& g) { g.ProfileSettingList[2].StorageType = 5; }), 2},
        {"file name without terminator", u"ProfileSettingGroup.pfd", StoredValueKind::Binary,
         group([](auto& g) {
             std::fill(std::begin(g.ProfileSettingList[0].FileName),
                       std::end(g.ProfileSettingList[0].FileName), u'x');
         }),
         2},
        {"current game 9", u"allsettings.pfd", StoredValueKind::Binary, all_settings(9), 0},
        {"current game 65535", u"allsettings.pfd", StoredValueKind::Binary, all_settings(0xFFFF),
         0},
        {"all settings as a number", u"allsettings.pfd", StoredValueKind::Integer32,
         bytes({2, 0, 0, 0}), 2},
        {"short all settings", u"allsettings.pfd", StoredValueKind::Binary, bytes({1}), 0},
        {"short profile", u"Profile3.pfd", StoredValueKind::Binary, bytes({3, 1, 0, 0}), 2},
        {"profile of another kind", u"Profile3.pfd", StoredValueKind::Other,
         bytes(Bytes(200000, 7)), 2},
        {"profile with ButtonCount 1000", u"Profile3.pfd", StoredValueKind::Binary,
         [](DataModuleTest&) {
             Bytes image = reference::GameDefault(2, 1.0);
             image[872 + 77128] = 0xE8, image[872 + 77129] = 0x03;
             return image;
         },
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::MemoryKeyedStore registry;
        const Bytes data = c.data(*this);
        registry.Put(StoreScope::User, kRegKey, c.name, c.kind, data);
        const auto dm = LoadDataModule({registry, files, shell, locale, clock, debug});
        EXPECT_EQ(dm->FProfileIndex, c.expected_profile);
        EXPECT_TRUE(TDM::IsProfileGroupIndexInRange(dm->FProfileGroupIndex));

        dm->LoadAllProfileInfoFromRegistry();
        dm->LoadProfileGroupSettingInfoFromRegistry();
        dm->LoadAllProfileInfoFromRegistry();
        static_cast<void>(dm->LoadCurrentProfileInfoFromRegistry());  // may find no usable value
        EXPECT_TRUE(TDM::IsProfileIndexInRange(dm->FProfileIndex));
        EXPECT_TRUE(TDM::IsProfileGroupIndexInRange(dm->FProfileGroupIndex));
        EXPECT_LE(dm->GetAllProfilesMacroIndexList().size(), 5u * 12u);
        EXPECT_TRUE(dm->SwitchToProfileGroup(1));
        EXPECT_TRUE(TDM::IsProfileIndexInRange(dm->FProfileIndex));
        EXPECT_TRUE(dm->RestoreProfileGroupToDefault(0));
        dm->RestoreAllProfileInfoToDefault();

        const StoredValue* after = registry.Find(StoreScope::User, kRegKey, c.name);
        ASSERT_NE(after, nullptr);
        if (c.kind != StoredValueKind::Text && c.kind != StoredValueKind::Integer32) {
            EXPECT_EQ(after->data, data);  // a damaged record is left to its owner
        }
    }
}

TEST_F(DataModuleTest, SavesReportWhetherTheRegistryTookTheRecord) {
    const auto dm = Start();
    EXPECT_TRUE(dm->SaveProfileInfoToRegistry(1));
    EXPECT_TRUE(dm->SaveBackAllProfileInfo());
    registry.MakeUnavailable(StoreScope::User, kRegKey);
    EXPECT_FALSE(dm->SaveProfileInfoToRegistry(1));
    EXPECT_FALSE(dm->SaveCurrentProfileInfoToRegistry());
    EXPECT_FALSE(dm->SaveBackAllProfileInfo());
    EXPECT_FALSE(dm->SaveBackAllProfileSettingInfo());
    EXPECT_FALSE(dm->SaveProfileInfoToRegistry(5));  // out of range, as before
}

TEST_F(DataModuleTest, OutOfRangeStoredIndexesAreTraced) {
    PutValue(u"ProfileSettingGroup.pfd", GroupRecord([](auto& g) { g.CurrentProfileGroup = 3; }));
    const auto dm = Start();
    ASSERT_EQ(debug.lines.size(), 1u);
    EXPECT_NE(debug.lines[0].find(u"CurrentProfileGroup 3"), std::u16string::npos);
}

TEST_F(DataModuleTest, Switching) {
    const auto dm = Start();
    const Bytes before = ImageOf(dm->FCurrentProfileInfo);
    for (int bad : {5, -1}) {
        EXPECT_FALSE(dm->SwitchToProfile(bad));
        EXPECT_FALSE(dm->SwitchToProfileGroup(bad + 1 == 0 ? -1 : 2));
    }
    EXPECT_EQ(dm->FProfileIndex, 2);
    EXPECT_EQ(ImageOf(dm->FCurrentProfileInfo), before);

    EXPECT_TRUE(dm->SwitchToProfileGroup(1));
    EXPECT_EQ(dm->FProfileIndex, 1);
    EXPECT_EQ(dm->FAllProfileSettingInfo.CurrentGame, 1);
    EXPECT_EQ(ImageOf(dm->FCurrentProfileInfo), reference::GameDefault(1, clock.now));
    EXPECT_TRUE(dm->SaveBackAllProfileSettingInfo());
    EXPECT_EQ(Value(u"allsettings.pfd")->data[30950], 1);
}

TEST_F(DataModuleTest, RestoringTheActiveProfileShowsAfterReadCurrentProfileInfo) {
    const auto dm = Start();
    dm->FCurrentProfileInfo.ConfigInfo.ReportRate = 1000;
    dm->SaveBackToCurrentProfileInfo();
    EXPECT_TRUE(dm->IsProfileChanged(2));
    EXPECT_TRUE(dm->RestoreProfileInfoToDefault(2));
    EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.ReportRate, 1000);
    EXPECT_TRUE(dm->ReadCurrentProfileInfo());
    EXPECT_EQ(dm->FCurrentProfileInfo.ConfigInfo.ReportRate, 500);
    EXPECT_FALSE(dm->RestoreProfileInfoToDefault(5));
    EXPECT_FALSE(dm->IsProfileChanged(7));
}

TEST_F(DataModuleTest, MacroIndexListIsDistinctInFirstMetOrder) {
    const auto dm = Start();
    auto set_macro = [&](int profile, int button, int macro) {
        TMouseProfileInfo& p = dm->FCurrentProfileInfo;
        EXPECT_TRUE(dm->ReadProfileInfo(p, profile));
        p.ConfigInfo.ButtonFuncInfo[button].FunctionType = kFunctionTypeMacro;
        p.ConfigInfo.ButtonFuncInfo[button].MacroIndex = static_cast<std::uint16_t>(macro);
        EXPECT_TRUE(dm->SaveBackToProfileInfo(p, profile));
    };
    set_macro(0, 4, 3);
    set_macro(0, 7, 1);
    set_macro(2, 3, 3);
    set_macro(4, 11, 2);
    EXPECT_EQ(dm->GetAllProfilesMacroIndexList(), (std::vector<std::int32_t>{3, 1, 2}));

    // A ButtonCount above 12 reads 12 buttons and says so.
    TMouseProfileInfo& p = dm->FCurrentProfileInfo;
    EXPECT_TRUE(dm->ReadProfileInfo(p, 1));
    p.ConfigInfo.ButtonCount = 40;
    EXPECT_TRUE(dm->SaveBackToProfileInfo(p, 1));
    EXPECT_EQ(dm->GetAllProfilesMacroIndexList(), (std::vector<std::int32_t>{3, 1, 2}));
    EXPECT_EQ(debug.lines.size(), 1u);
}

TEST_F(DataModuleTest, GameDefaultIsAnOverlayTestDefaultClearsEverything) {
    const auto dm = Start();
    auto profile = std::make_unique<TMouseProfileInfo>();
    std::memset(profile.get(), 0x77, sizeof *profile);
    EXPECT_TRUE(dm->SaveBackToProfileInfo(*profile, 0));
    EXPECT_TRUE(dm->RestoreProfileInfoToDefault(0));
    EXPECT_TRUE(dm->ReadProfileInfo(*profile, 0));
    EXPECT_EQ(ImageOf(profile->MacroKeyInfoList), Bytes(sizeof(TMACROKEYINFOLIST), 0x77));
    EXPECT_EQ(profile->ConfigInfo.ButtonFuncInfo[11].FunctionCode, 0x7777);  // left as it was
    EXPECT_EQ(profile->ConfigInfo.ButtonFuncInfo[11].DeviceCode, 13);

    dm->InitTestDefaultValue();
    EXPECT_EQ(ImageOf(dm->FTestProfileInfo), reference::TestDefault(clock.now));
    EXPECT_EQ(ImageOf(dm->FDefaultProfileInfo), reference::GameDefault(0, clock.now));
}

TEST_F(DataModuleTest, RestoresADayApartDifferOnlyInTheStamp) {
    const auto dm = Start();
    EXPECT_TRUE(dm->RestoreProfileInfoToDefault(3));
    const Bytes first = dm->GameStore(3).Stream();
    clock.now += 1.0 / 86400;
    EXPECT_TRUE(dm->RestoreProfileInfoToDefault(3));
    const Bytes second = dm->GameStore(3).Stream();
    EXPECT_NE(first, second);
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + 64, second.begin()));
    EXPECT_TRUE(std::equal(first.begin() + 72, first.end(), second.begin() + 72));
}

TEST_F(DataModuleTest, RestoringIntoAShortStreamGivesItTheFullRecord) {
    PutValue(u"Profile2.pfd", {1, 2, 3});
    const auto dm = Start();
    EXPECT_EQ(dm->GameStore(1).Stream().size(), 3u);
    EXPECT_TRUE(dm->RestoreProfileInfoToDefault(1));
    Bytes expected = reference::GameDefault(1, clock.now);
    std::copy_n(Bytes{1, 2, 3}.begin(), 3, expected.begin());
    expected[0] = 0x03, expected[1] = 0x01, expected[2] = 0x00;  // FFileVersion 259 written over
    EXPECT_EQ(dm->GameStore(1).Stream(), expected);
}

TEST_F(DataModuleTest, LongPrefixAndPathsAreCutInsideTheirFields) {
    files.Put(files.ExecutableFolder() + u"config.ini", [] {
        std::string ini = "[options]\nprofilePrefix=" + std::string(40, 'P') + "\n";
        return Bytes(ini.begin(), ini.end());
    }());
    shell.documents = u"C:\\" + std::u16string(1100, u'd');
    files.AddFolder(shell.documents);
    const auto dm = Start();
    const TProfileSetting& entry = dm->FProfileSettingGroup.ProfileSettingList[0];
    EXPECT_EQ(GetTextField(entry.FileName), std::u16string(20, u'P'));
    EXPECT_EQ(GetTextField(entry.ProfilePath).size(), 1023u);
    EXPECT_EQ(entry.FileName[20], u'\0');
}

TEST_F(DataModuleTest, DocumentPaths) {
    const auto dm = Start();
    EXPECT_EQ(dm->GetPersonalDocumentProfilePath(), kProfileFolder);
    EXPECT_EQ(dm->GetPersonalDocumentMacroDatabasePath(),
              std::u16string(kProfileFolder) + u"MacroDB\\MacroSet.MSDB");
    EXPECT_TRUE(files.FolderExists(std::u16string(kProfileFolder) + u"MacroDB"));
}

// A Linux account may have no documents folder yet: the data module makes it, then the profile
// and macro folders in it. Where it cannot (no home), it says so once per folder and goes on.
TEST(DataModuleDocuments, AMissingDocumentsFolderIsMadeWhereItsParentExists) {
    struct Case {
        const char* name;
        std::u16string existing;
        bool made;
    };
    for (const Case& c :
         {Case{"documents there", u"/home/gamer/Documents", true},
          Case{"documents missing", u"/home/gamer", true}, Case{"home missing", u"/home", false}}) {
        SCOPED_TRACE(c.name);
        SlashWorld world;
        world.files.AddFolder(c.existing);
        const auto dm = LoadDataModule(world.Ports());

        EXPECT_EQ(world.files.FolderExists(u"/home/gamer/Documents/Profile//Profile5_Macros"),
                  c.made);
        EXPECT_EQ(dm->GetPersonalDocumentProfilePath(), u"/home/gamer/Documents/Profile/");
        const auto& lines = world.debug.lines;
        const bool traced = std::any_of(lines.begin(), lines.end(), [](const auto& line) {
            return line.find(u"cannot be created") != std::u16string::npos;
        });
        EXPECT_EQ(traced, !c.made);
    }
}

TEST_F(DataModuleTest, InMemoryResetsOfTheActiveProfile) {
    const auto dm = Start();
    dm->RestoreToDefaultCPISetting();
    const TMOUSECONFIGINFO& c = dm->FCurrentProfileInfo.ConfigInfo;
    EXPECT_EQ(c.CPIState[3].CPIX, 8200);
    EXPECT_EQ(c.CPIState[4].Enabled, 0);
    EXPECT_EQ(c.CurrentCPIIndex, 1);
    EXPECT_EQ(c.UseDiffentXY[3], 0);
    EXPECT_EQ(c.UseDiffentXY[4], 1);
    dm->RestoreToDefaultLightAndReportAdvancedSetting();
    EXPECT_EQ(c.ReportRate, 125);
    EXPECT_EQ(c.LEDConfig.R + c.LEDConfig.G + c.LEDConfig.B, 255);
    EXPECT_EQ(c.LEDConfig.BREATH_SPEED, 3);
}

}  // namespace
}  // namespace korv

namespace korv {
namespace {

TEST(KeyPathFromText, ReadsTheTextAsTheRegistryDoes) {
    const std::pair<std::u16string_view, StoreKeyPath> cases[] = {
        {u"software\\Korv", {u"software", u"Korv"}},
        {u"software\\Korv\\", {u"software", u"Korv"}},      // a trailing backslash ends the path
        {u"software\\\\Korv\\\\", {u"software", u"Korv"}},  // doubled ones separate once
        {u"software", {u"software"}},
        {u"software\\ Korv. /x", {u"software", u" Korv. /x"}},  // anything else is a name
        {u"\\software\\Korv", {}},  // refused by the registry: names no key
        {u"\\", {}},
        {u"", {}},  // would name the top of the scope itself
    };
    for (const auto& [text, path] : cases)
        EXPECT_EQ(KeyPathFromText(text), path) << std::string(text.begin(), text.end());
}

// The settings file's folder text is the configuration program's contract: the stores use the
// key it names, and the profile-group record keeps the text as it is.
TEST(DataModuleKeyPath, TheStoresUseTheKeyTheSettingsFolderNames) {
    const std::pair<std::string, StoreKeyPath> cases[] = {
        {"Korv", {u"software", u"korv"}},
        {"Korv\\", {u"software", u"korv"}},
        {"\\Korv\\\\Data", {u"software", u"korv", u"data"}},
        {"", {u"software"}},
    };
    for (const auto& [folder, key] : cases) {
        SCOPED_TRACE(folder);
        fake::FakeDataModulePorts world;
        const std::string ini = "[options]\nProfileRegFolder=" + folder + "\n";
        world.files.Put(world.files.ExecutableFolder() + u"config.ini",
                        Bytes(ini.begin(), ini.end()));
        const auto dm = LoadDataModule(world.Ports());
        EXPECT_EQ(world.registry.Keys(), (std::set{std::pair{StoreScope::User, key}}));
        EXPECT_EQ(world.registry.ValueNames(StoreScope::User, key),
                  (std::set<std::u16string>{u"profilesettinggroup.pfd", u"allsettings.pfd"}));
        const std::u16string text = u"software\\" + std::u16string(folder.begin(), folder.end());
        EXPECT_EQ(GetTextField(dm->FProfileSettingGroup.ProfileSettingList[0].RegKeyPath), text);
    }
}

// The core builds no path itself: on a file system whose separator is '/', every file and
// folder the data module names is built with '/', and the stored paths keep the same shape as
// on Windows (the doubled separator before a macro folder included).
TEST_F(DataModulePaths, EveryPathIsBuiltWithTheFileSystemsSeparator) {
    files.AddFolder(shell.documents);
    const std::string ini = "[options]\nprofileFolder=Mine\n";
    files.Put(u"/opt/korv/config.ini", Bytes(ini.begin(), ini.end()));
    // Profile 2 is stored in a file below a full path, profile 4 below a relative one.
    {
        auto group = std::make_unique<TProfileSettingGroup>();
        const auto dm = LoadDataModule({registry, files, shell, locale, clock, debug});
        *group = dm->FProfileSettingGroup;
        group->ProfileSettingList[1].StorageType = kStorageTypeFile;
        SetTextField(group->ProfileSettingList[1].ProfilePath, u"/home/gamer/Documents/Mine");
        group->ProfileSettingList[3].StorageType = kStorageTypeFile;
        SetTextField(group->ProfileSettingList[3].ProfilePath, u"Mine");
        files.AddFolder(u"Mine");
        registry.Put(StoreScope::User, test::kDefaultRegKey, u"ProfileSettingGroup.pfd",
                     StoredValueKind::Binary, ImageOf(*group));
    }
    debug.lines.clear();
    const auto dm = LoadDataModule({registry, files, shell, locale, clock, debug});

    EXPECT_EQ(dm->GetPersonalDocumentProfilePath(), u"/home/gamer/Documents/Mine/");
    EXPECT_EQ(dm->GetPersonalDocumentMacroDatabasePath(),
              u"/home/gamer/Documents/Mine/MacroDB/MacroSet.MSDB");
    const TProfileSetting& entry = dm->FProfileSettingGroup.ProfileSettingList[0];
    EXPECT_EQ(GetTextField(entry.ProfilePath), u"/home/gamer/Documents/Mine/");
    EXPECT_EQ(GetTextField(entry.MacroPath), u"/home/gamer/Documents/Mine//Profile1_Macros");
    EXPECT_TRUE(files.FolderExists(u"/home/gamer/Documents/Mine//Profile1_Macros"));
    std::vector<std::u16string> written;
    for (const auto& [path, bytes] : files.Files()) {
        written.push_back(path);
        EXPECT_EQ(path.find(u'\\'), std::u16string::npos) << written.size();
    }
    EXPECT_EQ(written,
              (std::vector<std::u16string>{u"/home/gamer/Documents/Mine/Profile2.pfd",
                                           u"/opt/korv/config.ini", u"Mine/Profile4.pfd"}));
    // Only the relative folder is traced as one.
    ASSERT_EQ(debug.lines.size(), 2u);
    EXPECT_EQ(debug.lines[0].find(u"relative"), std::u16string::npos);
    EXPECT_NE(debug.lines[1].find(u"relative"), std::u16string::npos);
}

}  // namespace
}  // namespace korv
