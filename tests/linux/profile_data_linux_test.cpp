// The data module on the Linux backends, as a new user's session meets it: config.ini from the
// installed data folder, the store's files under the XDG configuration folder, the profile
// folders in the XDG documents folder. Bad stored files get what they get on Windows: a trace
// line, the default in memory, and a file above the limit left as it is.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "app/settings_file.h"
#include "platform/fake/fake_system.h"
#include "platform/linux/linux_file_system.h"
#include "platform/linux/linux_keyed_store.h"
#include "platform/linux/linux_system.h"
#include "profile/dm_unit.h"
#include "profile/text_field.h"
#include "tests/core/profile_reference.h"
#include "tests/linux/temp_folder.h"

namespace korv::os_linux {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::TempFolder;

Bytes ReadRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteRaw(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class ProfileDataOnLinux : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(temp_.Path() + "/share/korvanth417");
        std::filesystem::create_directories(temp_.Path() + "/home/Dokumente");
        std::filesystem::create_directories(temp_.Path() + "/config");
        std::ofstream(temp_.Path() + "/share/korvanth417/config.ini")
            << "[options]\nProfileRegFolder=KORVTEST\nprofileFolder=KorvProfiles\n";
        std::ofstream(temp_.Path() + "/config/user-dirs.dirs")
            << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    }

    std::unique_ptr<TDM> Start() {
        const SettingsFile settings = SettingsFile::LoadFile(
            SettingsFilePath(files_, temp_.Path() + "/config"), files_, locale_, debug_);
        return LoadDataModule({store_, files_, shell_, locale_, clock_, debug_}, settings);
    }
    std::string StoreFile(const std::string& name) const { return store_folder_ + "/" + name; }
    bool Traced(std::u16string_view part) const {
        return std::ranges::any_of(debug_.lines, [&](const std::u16string& line) {
            return line.find(part) != std::u16string::npos;
        });
    }

    TempFolder temp_;
    const std::string store_root_ = temp_.Path() + "/config/korvanth417/store";
    const std::string store_folder_ = store_root_ + "/software/KORVTEST";
    LinuxKeyedStore store_{store_root_, temp_.Path() + "/machine"};
    LinuxFileSystem files_{temp_.Path16() + u"/share/korvanth417/"};
    LinuxShell shell_{temp_.Path() + "/config", temp_.Path() + "/home"};
    LinuxLocale locale_{"zh_CN.UTF-8"};
    LinuxClock clock_;
    fake::RecordingDebugOutput debug_;
};

// The two default records land as files in the store, the group record names the documents
// folder with '/' and the registry key as the configuration program reads it, and the profile
// and macro folders exist.
TEST_F(ProfileDataOnLinux, CleanStartWritesTheDefaultRecordsAsStoreFiles) {
    const auto dm = Start();
    EXPECT_EQ(TempFolder::NamesIn(store_folder_),
              (std::set<std::string>{"ProfileSettingGroup.pfd", "allsettings.pfd"}));
    EXPECT_EQ(ReadRaw(StoreFile("allsettings.pfd")), reference::AllSettingsDefault(1))
        << "a Simplified Chinese system selects the language at index 1";

    const Bytes group = ReadRaw(StoreFile("ProfileSettingGroup.pfd"));
    ASSERT_EQ(group.size(), sizeof(TProfileSettingGroup));
    auto record = std::make_unique<TProfileSettingGroup>();
    std::memcpy(record.get(), group.data(), sizeof *record);
    const std::u16string documents = temp_.Path16() + u"/home/Dokumente/KorvProfiles/";
    const TProfileSetting& first = record->ProfileSettingList[0];
    EXPECT_EQ(GetTextField(first.ProfilePath), documents);
    EXPECT_EQ(GetTextField(first.MacroPath), documents + u"/Profile1_Macros");
    EXPECT_EQ(GetTextField(first.RegKeyPath), u"software\\KORVTEST");
    EXPECT_EQ(GetTextField(first.FileName), u"Profile1.pfd");
    for (char n = '1'; n <= '5'; ++n) {
        EXPECT_TRUE(std::filesystem::is_directory(temp_.Path() + "/home/Dokumente/KorvProfiles/" +
                                                  "Profile" + n + "_Macros"));
    }
    EXPECT_EQ(dm->FProfileIndex, 2);
}

// A user's own config.ini in the XDG configuration folder wins over the installed one.
TEST_F(ProfileDataOnLinux, TheUsersOwnSettingsFileIsReadFirst) {
    std::filesystem::create_directories(temp_.Path() + "/config/korvanth417");
    std::ofstream(temp_.Path() + "/config/korvanth417/config.ini")
        << "[options]\nProfileRegFolder=OWN\nprofileFolder=KorvProfiles\n";
    Start();
    EXPECT_TRUE(std::filesystem::exists(store_root_ + "/software/OWN/allsettings.pfd"));
    EXPECT_FALSE(std::filesystem::exists(store_folder_));
}

// A 50 MB store file is not read: its default serves in memory and the file stays as it was.
TEST_F(ProfileDataOnLinux, AnOversizedStoreFileIsNeitherReadNorOverwritten) {
    std::filesystem::create_directories(store_folder_);
    const std::string big = StoreFile("allsettings.pfd");
    {
        const int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 50 * 1024 * 1024), 0);
        close(fd);
    }
    struct stat before {};
    ASSERT_EQ(stat(big.c_str(), &before), 0);
    const auto dm = Start();
    const Bytes image(reinterpret_cast<const std::uint8_t*>(&dm->FAllProfileSettingInfo),
                      reinterpret_cast<const std::uint8_t*>(&dm->FAllProfileSettingInfo + 1));
    EXPECT_EQ(image, reference::AllSettingsDefault(1));
    struct stat after {};
    ASSERT_EQ(stat(big.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_TRUE(Traced(u"above the limit"));
}

// A number where a record belongs is refused, traced, and replaced by the stored default: the
// name then has its binary value only. A short record is loaded as far as it goes and traced.
TEST_F(ProfileDataOnLinux, NumbersAndShortFilesWhereRecordsBelong) {
    std::filesystem::create_directories(store_folder_);
    WriteRaw(StoreFile("allsettings.pfd.dword"), Bytes{1, 0, 0, 0});
    WriteRaw(StoreFile("ProfileSettingGroup.pfd"), Bytes(10, 0));
    Start();
    EXPECT_TRUE(Traced(u"allsettings.pfd is a"));
    EXPECT_TRUE(Traced(u"holds 10 of the"));
    EXPECT_EQ(ReadRaw(StoreFile("allsettings.pfd")), reference::AllSettingsDefault(1));
    EXPECT_FALSE(std::filesystem::exists(StoreFile("allsettings.pfd.dword")));
    EXPECT_EQ(ReadRaw(StoreFile("ProfileSettingGroup.pfd")), Bytes(10, 0))
        << "a short record is the user's: it is not overwritten";
}

}  // namespace
}  // namespace korv::os_linux
