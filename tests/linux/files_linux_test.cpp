// Files and the keyed store on the real file system: reads bounded before anything is read,
// whole-file replacement that leaves nothing behind, paths with '/', and the store's files as
// the configuration program reads and writes them, byte for byte.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "base/key_path_text.h"
#include "platform/linux/linux_file_system.h"
#include "platform/linux/linux_keyed_store.h"
#include "tests/linux/temp_folder.h"

namespace korv::os_linux {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::TempFolder;

void WriteRaw(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void MakeSparse(const std::string& path, off_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// --- LinuxFileSystem ---------------------------------------------------------------------

// The size comes from the open file: a larger file is reported with its size and nothing of it;
// what is not a regular file is unreadable at once, a pipe included (it would block a read).
TEST(LinuxFileSystemReads, SizeIsAskedBeforeAnythingIsRead) {
    const TempFolder folder;
    constexpr std::uint64_t kLimit = 1000;
    auto file_of = [&](const std::string& name, std::size_t size) {
        WriteRaw(folder.Path() + "/" + name, Bytes(size, 0x42));
        return folder.Path() + "/" + name;
    };
    MakeSparse(folder.Path() + "/sparse.pfd", 50'000'000);
    ASSERT_EQ(mkfifo((folder.Path() + "/pipe").c_str(), 0600), 0);
    const struct {
        const char* what;
        std::u16string path;
        FileRead::Status status;
        std::uint64_t size;
    } cases[] = {
        {"empty", U16(file_of("empty.pfd", 0)), FileRead::Status::Read, 0},
        {"exactly the limit", U16(file_of("limit.pfd", kLimit)), FileRead::Status::Read, kLimit},
        {"one byte above", U16(file_of("above.pfd", kLimit + 1)), FileRead::Status::TooLarge,
         kLimit + 1},
        {"50 MB sparse", U16(folder.Path() + "/sparse.pfd"), FileRead::Status::TooLarge,
         50'000'000},
        {"missing file", U16(folder.Path() + "/none.pfd"), FileRead::Status::Missing, 0},
        {"missing folder", U16(folder.Path() + "/none/x.pfd"), FileRead::Status::Missing, 0},
        {"below a file", U16(folder.Path() + "/empty.pfd/x"), FileRead::Status::Missing, 0},
        {"a folder", U16(folder.Path()), FileRead::Status::Unreadable, 0},
        {"a pipe", U16(folder.Path() + "/pipe"), FileRead::Status::Unreadable, 0},
        {"a NUL inside", U16(folder.Path()) + std::u16string(1, u'\0') + u"/limit.pfd",
         FileRead::Status::Missing, 0},
        {"empty path", u"", FileRead::Status::Missing, 0},
    };
    const LinuxFileSystem files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FileRead read = files.ReadWholeFile(c.path, kLimit);
        EXPECT_EQ(read.status, c.status);
        EXPECT_EQ(read.size, c.size);
        EXPECT_EQ(read.bytes,
                  read.status == FileRead::Status::Read ? Bytes(c.size, 0x42) : Bytes{});
    }
}

TEST(LinuxFileSystemWrites, ReplaceWholeFilesLeavingNothingElseAndCreateOneFolderLevel) {
    const TempFolder temp;
    const LinuxFileSystem files;
    const std::u16string folder = temp.Path16() + u"/data";
    EXPECT_FALSE(files.CreateFolder(folder + u"/a/b"));
    ASSERT_TRUE(files.CreateFolder(folder));
    EXPECT_TRUE(files.CreateFolder(folder));  // already there
    EXPECT_TRUE(files.FolderExists(folder + u"/"));
    EXPECT_FALSE(files.FileExists(folder));

    const std::u16string path = folder + u"/p.pfd";
    ASSERT_TRUE(files.WriteWholeFile(path, Bytes(5000, 1)));
    ASSERT_TRUE(files.WriteWholeFile(path, Bytes(10, 2)));
    EXPECT_EQ(ReadRaw(temp.Path() + "/data/p.pfd"), Bytes(10, 2));
    EXPECT_TRUE(files.FileExists(path));
    EXPECT_FALSE(files.FolderExists(path));
    EXPECT_FALSE(files.WriteWholeFile(folder + u"/missing/q.pfd", Bytes(3, 3)));
    // A folder where the file should go is left alone, and so is everything else.
    ASSERT_TRUE(files.CreateFolder(folder + u"/taken"));
    EXPECT_FALSE(files.WriteWholeFile(folder + u"/taken", Bytes(3, 3)));
    EXPECT_TRUE(files.FolderExists(folder + u"/taken"));
    EXPECT_EQ(temp.Names("data"), (std::set<std::string>{"p.pfd", "taken"}));
}

// Names are UTF-8 on disk: the file a UTF-16 name makes is the one its UTF-8 spelling opens.
TEST(LinuxFileSystemWrites, NamesReachTheDiskAsUtf8) {
    const TempFolder temp;
    const LinuxFileSystem files;
    ASSERT_TRUE(files.WriteWholeFile(temp.Path16() + u"/\u914d\u7f6e \U0001F5B1.pfd", Bytes{7}));
    EXPECT_EQ(temp.Names(), std::set<std::string>{"\xe9\x85\x8d\xe7\xbd\xae \xf0\x9f\x96\xb1.pfd"});
}

TEST(LinuxFileSystemPaths, AreBuiltWithSlashes) {
    const LinuxFileSystem files;
    const std::tuple<std::u16string_view, std::u16string_view, std::u16string, std::u16string>
        joins[] = {
            // folder, name, PathInFolder, JoinWithSeparator
            {u"/a", u"b.pfd", u"/a/b.pfd", u"/a/b.pfd"},
            {u"/a/", u"b.pfd", u"/a/b.pfd", u"/a//b.pfd"},
            {u"", u"b", u"/b", u"/b"},
            {u"/a", u"", u"/a/", u"/a/"},
            {u"C:\\a", u"b", u"C:\\a/b", u"C:\\a/b"},
        };
    for (const auto& [folder, name, in_folder, joined] : joins) {
        EXPECT_EQ(files.PathInFolder(folder, name), in_folder);
        EXPECT_EQ(files.JoinWithSeparator(folder, name), joined);
    }
    using Split = std::pair<std::u16string, std::u16string>;
    EXPECT_EQ(files.SplitFolderAndName(u"/a/b.pfd"), Split(u"/a/", u"b.pfd"));
    EXPECT_EQ(files.SplitFolderAndName(u"a\\b.pfd"), Split(u"", u"a\\b.pfd"));
    EXPECT_EQ(files.SplitFolderAndName(u"b.pfd"), Split(u"", u"b.pfd"));
    for (std::u16string_view full : {u"/", u"/a", u"//a"})
        EXPECT_TRUE(files.IsFullPath(full));
    for (std::u16string_view relative : {u"a/b", u"./a", u"~/a", u"C:\\a", u""})
        EXPECT_FALSE(files.IsFullPath(relative));
}

// The executable's folder is this test program's; the installed data sits in share/ beside bin/.
TEST(LinuxFileSystemPaths, ExecutableAndDataFolders) {
    const LinuxFileSystem files;
    char target[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", target, sizeof target - 1), 0);
    const std::string exe(target);
    EXPECT_EQ(files.ExecutableFolder(), U16(exe.substr(0, exe.rfind('/') + 1)));
    EXPECT_EQ(files.DataFolder(), LinuxFileSystem::InstalledDataFolder(files.ExecutableFolder()));
    EXPECT_EQ(LinuxFileSystem(u"/opt/x/").DataFolder(), u"/opt/x/");
    const std::pair<std::u16string_view, std::u16string_view> installed[] = {
        {u"/usr/bin/", u"/usr/share/korvanth417/"},
        {u"/home/me/dist/linux/bin/", u"/home/me/dist/linux/share/korvanth417/"},
        {u"/opt/k//bin//", u"/opt/k//share/korvanth417/"},
        {u"/bin/", u"/share/korvanth417/"},
    };
    for (const auto& [exe_folder, data] : installed)
        EXPECT_EQ(LinuxFileSystem::InstalledDataFolder(exe_folder), data);
}

// --- LinuxKeyedStore ---------------------------------------------------------------------

class KeyedStoreFiles : public ::testing::Test {
  protected:
    std::string ValueFile(const std::string& name) const { return key_folder_ + "/" + name; }

    TempFolder temp_;
    const std::string user_root_ = temp_.Path() + "/user/korvanth417/store";
    const std::string machine_root_ = temp_.Path() + "/machine";
    LinuxKeyedStore store_{user_root_, machine_root_};
    const StoreKeyPath key_ = KeyPathFromText(u"software\\KORVANTH417GM\\");
    const std::string key_folder_ = user_root_ + "/software/KORVANTH417GM";
};

// The files are the contract: raw bytes for a binary value, four little-endian bytes in
// "<name>.dword" for a number, a folder per segment; files the other program writes read back.
TEST_F(KeyedStoreFiles, ValuesAreFilesByteForByte) {
    const Bytes image{0, 1, 2, 3, 250, 0};
    ASSERT_TRUE(store_.WriteBinaryValue(StoreScope::User, key_, u"allsettings.pfd", image));
    EXPECT_EQ(ReadRaw(ValueFile("allsettings.pfd")), image);
    ASSERT_TRUE(store_.WriteInteger32Value(StoreScope::User, key_, u"ProfileID", 0x12345678));
    EXPECT_EQ(ReadRaw(ValueFile("ProfileID.dword")), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(temp_.Names("user/korvanth417/store/software/KORVANTH417GM"),
              (std::set<std::string>{"allsettings.pfd", "ProfileID.dword"}));

    WriteRaw(ValueFile("written.pfd"), Bytes{9, 8, 7});
    WriteRaw(ValueFile("count.dword"), Bytes{1, 0, 0, 0x80});
    const StoredValue binary = store_.ReadValue(StoreScope::User, key_, u"written.pfd", 1024);
    EXPECT_EQ(binary.status, StoredValue::Status::Found);
    EXPECT_EQ(binary.kind, StoredValueKind::Binary);
    EXPECT_EQ(binary.data, (Bytes{9, 8, 7}));
    const StoredValue number = store_.ReadValue(StoreScope::User, key_, u"count", 1024);
    EXPECT_EQ(number.status, StoredValue::Status::Found);
    EXPECT_EQ(number.kind, StoredValueKind::Integer32);
    EXPECT_EQ(number.data, (Bytes{1, 0, 0, 0x80}));
    EXPECT_EQ(store_.ReadValue(StoreScope::User, key_, u"missing", 1024).status,
              StoredValue::Status::NoValue);
}

// Nothing of a value above the caller's limit is read, whichever its kind; a number's file of
// another length than four is no number.
TEST_F(KeyedStoreFiles, OversizedAndMisshapenValues) {
    ASSERT_TRUE(std::filesystem::create_directories(key_folder_));
    MakeSparse(ValueFile("big.pfd"), 50'000'000);
    WriteRaw(ValueFile("n.dword"), Bytes{1, 2, 3, 4});
    WriteRaw(ValueFile("short.dword"), Bytes{1, 2, 3});
    WriteRaw(ValueFile("empty.dword"), Bytes{});
    WriteRaw(ValueFile("long.dword"), Bytes{1, 2, 3, 4, 5});
    const struct {
        const char16_t* name;
        std::uint64_t limit;
        StoredValue::Status status;
        StoredValueKind kind;
        std::uint64_t size;
        Bytes data;
    } cases[] = {
        {u"big.pfd", 1000, StoredValue::Status::TooLarge, StoredValueKind::Binary, 50'000'000, {}},
        {u"n", 3, StoredValue::Status::TooLarge, StoredValueKind::Integer32, 4, {}},
        {u"n", 4, StoredValue::Status::Found, StoredValueKind::Integer32, 4, {1, 2, 3, 4}},
        {u"short", 1024, StoredValue::Status::Found, StoredValueKind::Other, 3, {1, 2, 3}},
        {u"empty", 1024, StoredValue::Status::Found, StoredValueKind::Other, 0, {}},
        {u"long", 1024, StoredValue::Status::Found, StoredValueKind::Other, 5, {1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        const StoredValue value = store_.ReadValue(StoreScope::User, key_, c.name, c.limit);
        EXPECT_EQ(value.status, c.status);
        EXPECT_EQ(value.kind, c.kind);
        EXPECT_EQ(value.size, c.size);
        EXPECT_EQ(value.data, c.data);
    }
    EXPECT_EQ(std::filesystem::file_size(ValueFile("big.pfd")), 50'000'000u);
}

// Each write replaces the file whole through a temporary that is gone afterwards; writing one
// kind of a name removes the other, so a name never has two values.
TEST_F(KeyedStoreFiles, ReplacementLeavesOneFilePerValue) {
    for (std::uint8_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(store_.WriteBinaryValue(StoreScope::User, key_, u"v", Bytes(100u - i, i)));
        ASSERT_TRUE(store_.WriteInteger32Value(StoreScope::User, key_, u"n", i));
    }
    EXPECT_EQ(ReadRaw(ValueFile("v")), Bytes(81, 19));
    EXPECT_EQ(temp_.Names("user/korvanth417/store/software/KORVANTH417GM"),
              (std::set<std::string>{"v", "n.dword"}));

    ASSERT_TRUE(store_.WriteInteger32Value(StoreScope::User, key_, u"v", 5));
    const StoredValue number = store_.ReadValue(StoreScope::User, key_, u"v", 1024);
    EXPECT_EQ(number.kind, StoredValueKind::Integer32);
    ASSERT_TRUE(store_.WriteBinaryValue(StoreScope::User, key_, u"v", Bytes{1}));
    EXPECT_EQ(store_.ReadValue(StoreScope::User, key_, u"v", 1024).kind, StoredValueKind::Binary);
    EXPECT_EQ(temp_.Names("user/korvanth417/store/software/KORVANTH417GM"),
              (std::set<std::string>{"v", "n.dword"}));
}

// Should both kinds of a name be there (a write that ended between putting its file in place and
// removing the other kind's), the newer file is the value, whichever kind it is.
TEST_F(KeyedStoreFiles, OfTwoKindsLeftBehindTheNewerIsTheValue) {
    ASSERT_TRUE(std::filesystem::create_directories(key_folder_));
    const auto older = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const bool number_is_newer : {true, false}) {
        SCOPED_TRACE(number_is_newer ? "the number is newer" : "the binary value is newer");
        WriteRaw(ValueFile("v"), Bytes{9, 9});
        WriteRaw(ValueFile("v.dword"), Bytes{7, 0, 0, 0});
        std::filesystem::last_write_time(ValueFile(number_is_newer ? "v" : "v.dword"), older);
        const StoredValue value = store_.ReadValue(StoreScope::User, key_, u"v", 1024);
        EXPECT_EQ(value.kind,
                  number_is_newer ? StoredValueKind::Integer32 : StoredValueKind::Binary);
        EXPECT_EQ(value.data, number_is_newer ? (Bytes{7, 0, 0, 0}) : (Bytes{9, 9}));
    }
}

// A read opens the key, creating it and the folders above; a number goes into an existing key
// only; a folder of a value's name is a key below, not the value.
TEST_F(KeyedStoreFiles, KeysAreCreatedWhereTheRegistryCreatesThem) {
    EXPECT_FALSE(store_.WriteInteger32Value(StoreScope::User, key_, u"ProfileID", 1));
    EXPECT_FALSE(std::filesystem::exists(key_folder_));
    EXPECT_EQ(store_.ReadValue(StoreScope::User, key_, u"x", 10).status,
              StoredValue::Status::NoValue);
    EXPECT_TRUE(std::filesystem::is_directory(key_folder_));
    EXPECT_TRUE(store_.WriteInteger32Value(StoreScope::User, key_, u"ProfileID", 1));

    ASSERT_TRUE(std::filesystem::create_directory(ValueFile("below")));
    EXPECT_EQ(store_.ReadValue(StoreScope::User, key_, u"below", 10).status,
              StoredValue::Status::NoValue);
    EXPECT_FALSE(store_.WriteBinaryValue(StoreScope::User, key_, u"below", Bytes{1}));
    EXPECT_TRUE(std::filesystem::is_directory(ValueFile("below")));
}

// A segment or name that cannot be one file name names nothing: every call fails and nothing is
// created anywhere under either root.
TEST_F(KeyedStoreFiles, NamesThatAreNoFileNameNameNothing) {
    const std::u16string with_nul(u"a\0b", 3);
    const StoreKeyPath refused[] = {
        {},       {u""},     {u"."},        {u".."},    {u"software", u""},
        {u"a/b"}, {u"a\\b"}, {u"a", u".."}, {with_nul}, {u"software", u"..", u"x"},
    };
    const Bytes image{1, 2, 3};
    for (const StoreKeyPath& path : refused) {
        SCOPED_TRACE(::testing::PrintToString(path.size()) + " segments");
        EXPECT_EQ(store_.ReadValue(StoreScope::User, path, u"v", 1024).status,
                  StoredValue::Status::KeyUnavailable);
        EXPECT_FALSE(store_.WriteBinaryValue(StoreScope::User, path, u"v", image));
        EXPECT_FALSE(store_.WriteInteger32Value(StoreScope::User, path, u"v", 1));
    }
    EXPECT_TRUE(temp_.Names().empty()) << "something was created";

    for (const std::u16string& name : {std::u16string(), std::u16string(u"."),
                                       std::u16string(u".."), std::u16string(u"x/y"), with_nul}) {
        EXPECT_EQ(store_.ReadValue(StoreScope::User, key_, name, 1024).status,
                  StoredValue::Status::NoValue);
        EXPECT_FALSE(store_.WriteBinaryValue(StoreScope::User, key_, name, image));
        EXPECT_FALSE(store_.WriteInteger32Value(StoreScope::User, key_, name, 1));
    }
    EXPECT_TRUE(temp_.Names("user/korvanth417/store/software/KORVANTH417GM").empty());
}

TEST_F(KeyedStoreFiles, TheMachineScopeHasARootOfItsOwn) {
    ASSERT_TRUE(store_.WriteBinaryValue(StoreScope::Machine, key_, u"b", Bytes{1}));
    EXPECT_EQ(ReadRaw(machine_root_ + "/software/KORVANTH417GM/b"), Bytes{1});
    EXPECT_EQ(store_.ReadValue(StoreScope::User, key_, u"b", 10).status,
              StoredValue::Status::NoValue);
    EXPECT_EQ(LinuxKeyedStore::DefaultMachineRoot(), "/etc/xdg/korvanth417/store");
}

}  // namespace
}  // namespace korv::os_linux
