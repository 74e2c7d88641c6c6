// The profile stores and the data module on the real registry and file system, as Wine
// implements them.

#include <windows.h>

#include <psapi.h>
#include <shellapi.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "app/settings_file.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_keyed_store.h"
#include "platform/win32/win32_locale.h"
#include "platform/win32/win32_system.h"
#include "profile/dm_unit.h"
#include "profile/text_field.h"
#include "tests/core/profile_reference.h"

namespace korv::win32 {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The real file system, but with the settings file read from a folder of the test's own.
class FileSystemWithSettingsFolder : public Win32FileSystem {
  public:
    explicit FileSystemWithSettingsFolder(std::u16string folder) : folder_(std::move(folder)) {}
    std::u16string ExecutableFolder() const override { return folder_; }

  private:
    std::u16string folder_;
};

std::wstring TempFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

void WriteFile(const std::wstring& path, std::string_view text) {
    ASSERT_TRUE(Win32FileSystem().WriteWholeFile(FromWide(path), Bytes(text.begin(), text.end())))
        << "cannot write the test's file";
}

std::set<std::u16string> ValueNames(const std::wstring& key_path) {
    std::set<std::u16string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.insert(FromWide(name));
    }
    RegCloseKey(key);
    return names;
}

Bytes ReadValue(const std::wstring& key_path, const wchar_t* name) {
    DWORD size = 0;
    RegGetValueW(HKEY_CURRENT_USER, key_path.c_str(), name, RRF_RT_REG_BINARY, nullptr, nullptr,
                 &size);
    Bytes data(size);
    RegGetValueW(HKEY_CURRENT_USER, key_path.c_str(), name, RRF_RT_REG_BINARY, nullptr, data.data(),
                 &size);
    return data;
}

// A file of `size` bytes that takes no disk space: its length is set, nothing is written.
bool MakeSparseFile(const std::wstring& path, std::int64_t size) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = size;
    const bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return sized;
}

struct FileStamp {
    std::int64_t size = -1;
    std::uint64_t written = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOfFile(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return {};
    return {(std::int64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
            (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                data.ftLastWriteTime.dwLowDateTime};
}

std::int64_t WorkingSetBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<std::int64_t>(counters.WorkingSetSize);
}

double StampOf(const Bytes& image) {
    double stamp = 0;
    std::memcpy(&stamp, image.data() + 64, 8);
    return stamp;
}

// A registry folder, a settings folder and a profile folder of this test run, removed again
// at the end.
class ProfileDataOnWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::wstring id = L"KorvTest" + std::to_wstring(GetCurrentProcessId());
        reg_folder_ = L"software\\" + id;
        settings_folder_ = TempFolder(id + L"\\");
        CreateDirectoryW(settings_folder_.c_str(), nullptr);
        WriteFile(settings_folder_ + L"config.ini", "[options]\nProfileRegFolder=" + Narrow(id) +
                                                        "\nprofileFolder=" + Narrow(id) + "\n");
        documents_ = Win32Shell().DocumentsFolder();
        profile_folder_ = documents_ + u"\\" + FromWide(id) + u"\\";
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, reg_folder_.c_str());
        RemoveTree(ToWide(profile_folder_));
        RemoveTree(settings_folder_);
    }

    static std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

    static void RemoveTree(const std::wstring& folder) {
        std::wstring from = folder;
        while (!from.empty() && from.back() == L'\\')
            from.pop_back();
        from.push_back(L'\0');  // the shell wants a double-zero-terminated list
        SHFILEOPSTRUCTW op{};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NO_UI;
        SHFileOperationW(&op);
    }

    std::unique_ptr<TDM> Start() {
        return LoadDataModule({registry_, files_, shell_, locale_, clock_, debug_});
    }
    // Edits the stored group record so that profile `index` lives in a file in `folder`.
    void StoreProfileInFolder(int index, const std::u16string& folder) {
        Bytes group = ReadValue(reg_folder_, L"ProfileSettingGroup.pfd");
        auto record = std::make_unique<TProfileSettingGroup>();
        std::memcpy(record.get(), group.data(), sizeof *record);
        record->ProfileSettingList[index].StorageType = kStorageTypeFile;
        SetTextField(record->ProfileSettingList[index].ProfilePath, folder);
        RegSetKeyValueW(HKEY_CURRENT_USER, reg_folder_.c_str(), L"ProfileSettingGroup.pfd",
                        REG_BINARY, record.get(), sizeof *record);
    }

    std::wstring reg_folder_;
    std::wstring settings_folder_;
    std::u16string documents_;
    std::u16string profile_folder_;
    Win32KeyedStore registry_;
    FileSystemWithSettingsFolder files_{
        FromWide(TempFolder(L"KorvTest" + std::to_wstring(GetCurrentProcessId()) + L"\\"))};
    Win32Shell shell_;
    Win32Locale locale_;
    Win32Clock clock_;
    Win32DebugOutput debug_;
};

TEST_F(ProfileDataOnWindows, CleanStartWritesTheTwoDefaultRecords) {
    const auto dm = Start();
    EXPECT_EQ(ValueNames(reg_folder_),
              (std::set<std::u16string>{u"ProfileSettingGroup.pfd", u"allsettings.pfd"}));
    EXPECT_EQ(ReadValue(reg_folder_, L"ProfileSettingGroup.pfd"),
              reference::ProfileGroupDefault(profile_folder_, FromWide(reg_folder_)));
    EXPECT_EQ(ReadValue(reg_folder_, L"allsettings.pfd"), reference::AllSettingsDefault(0));
    EXPECT_EQ(dm->FProfileIndex, 2);

    const Bytes current(reinterpret_cast<const std::uint8_t*>(&dm->FCurrentProfileInfo),
                        reinterpret_cast<const std::uint8_t*>(&dm->FCurrentProfileInfo + 1));
    EXPECT_EQ(current, reference::GameDefault(2, StampOf(current)));
    EXPECT_NEAR(StampOf(current), clock_.LocalDateTimeNow(), 1.0 / 24 / 60);

    const Win32FileSystem files;
    EXPECT_TRUE(files.FolderExists(profile_folder_));
    for (char16_t n : u"12345") {
        if (n == 0)
            break;
        EXPECT_TRUE(files.FolderExists(profile_folder_ + u"\\Profile" + n + u"_Macros"));
    }
}

TEST_F(ProfileDataOnWindows, FileStoredProfileIsWrittenWhenMissingAndLoadedWhenPresent) {
    Start();  // a clean start writes the group record
    const std::u16string folder = profile_folder_ + u"Files";
    StoreProfileInFolder(3, folder);

    Start();
    const Bytes written =
        Win32FileSystem().ReadWholeFile(folder + u"\\Profile4.pfd", kMaxProfileFileSize).bytes;
    ASSERT_EQ(written.size(), 113064u);
    EXPECT_EQ(written, reference::GameDefault(3, StampOf(written)));

    // The file is now loaded as it stands, whatever it holds.
    const Bytes edited(113064, 0x3C);
    ASSERT_TRUE(Win32FileSystem().WriteWholeFile(folder + u"\\Profile4.pfd", edited));
    const auto dm = Start();
    EXPECT_EQ(dm->GameStore(3).Stream(), edited);
}

// A 50 MB profile file (sparse: it costs no disk) is not read: its default serves, the file
// stays as it was, and the process does not grow by anything like the file's size.
TEST_F(ProfileDataOnWindows, OversizedProfileFileIsNeitherReadNorOverwritten) {
    Start();  // a clean start writes the group record
    const std::u16string folder = profile_folder_ + u"Files";
    ASSERT_TRUE(CreateDirectoryW(ToWide(folder).c_str(), nullptr));
    StoreProfileInFolder(0, folder);
    const std::wstring big = ToWide(folder + u"\\Profile1.pfd");
    constexpr std::int64_t kFileSize = 50 * 1024 * 1024;
    ASSERT_TRUE(MakeSparseFile(big, kFileSize));
    const FileStamp before = StampOfFile(big);

    const std::int64_t working_set = WorkingSetBytes();
    const auto dm = Start();
    EXPECT_LT(WorkingSetBytes() - working_set, kFileSize / 4);

    const Bytes& image = dm->GameStore(0).Stream();
    ASSERT_EQ(image.size(), 113064u);
    EXPECT_EQ(image, reference::GameDefault(0, StampOf(image)));
    EXPECT_EQ(StampOfFile(big), before);
    EXPECT_EQ(before.size, kFileSize);
}

// The size comes from the open file before anything is read: a file above the limit is
// reported with its size and nothing of it; what cannot be opened is missing or unreadable.
TEST(Win32FileSystemReads, SizeIsAskedBeforeAnythingIsRead) {
    const std::wstring folder =
        TempFolder(L"KorvReadTest" + std::to_wstring(GetCurrentProcessId()));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    constexpr std::uint64_t kLimit = 1000;
    auto file_of = [&](const wchar_t* name, std::size_t size) {
        const std::wstring path = folder + L"\\" + name;
        EXPECT_TRUE(Win32FileSystem().WriteWholeFile(FromWide(path), Bytes(size, 0x42)));
        return path;
    };
    const std::wstring sparse = folder + L"\\sparse.pfd";
    ASSERT_TRUE(MakeSparseFile(sparse, 50'000'000));
    const std::wstring locked = file_of(L"locked.pfd", 10);
    const HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    const struct {
        const char* what;
        std::wstring path;
        FileRead::Status status;
        std::uint64_t size;
    } cases[] = {
        {"empty", file_of(L"empty.pfd", 0), FileRead::Status::Read, 0},
        {"exactly the limit", file_of(L"limit.pfd", kLimit), FileRead::Status::Read, kLimit},
        {"one byte above", file_of(L"above.pfd", kLimit + 1), FileRead::Status::TooLarge,
         kLimit + 1},
        {"50 MB sparse", sparse, FileRead::Status::TooLarge, 50'000'000},
        {"missing file", folder + L"\\none.pfd", FileRead::Status::Missing, 0},
        {"missing folder", folder + L"\\none\\x.pfd", FileRead::Status::Missing, 0},
        {"locked by another handle", locked, FileRead::Status::Unreadable, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FileRead read = Win32FileSystem().ReadWholeFile(FromWide(c.path), kLimit);
        EXPECT_EQ(read.status, c.status);
        EXPECT_EQ(read.size, c.size);
        EXPECT_EQ(read.bytes,
                  read.status == FileRead::Status::Read ? Bytes(c.size, 0x42) : Bytes{});
    }
    CloseHandle(lock);
    for (const wchar_t* name :
         {L"empty.pfd", L"limit.pfd", L"above.pfd", L"sparse.pfd", L"locked.pfd"}) {
        DeleteFileW((folder + L"\\" + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

TEST(Win32KeyedStore, ReadsValuesByKindAndRoundTripsBinary) {
    const std::wstring key = L"software\\KorvStoreTest" + std::to_wstring(GetCurrentProcessId());
    const std::u16string key16 = FromWide(key);
    Win32KeyedStore store;
    const Bytes image{0, 1, 2, 3, 250, 0};
    ASSERT_TRUE(store.WriteBinaryValue(StoreRoot::CurrentUser, key16, u"bin", image));
    const DWORD number = 7;
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"num", REG_DWORD, &number, 4);
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"text", REG_SZ, L"x", 4);
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"multi", REG_MULTI_SZ, L"a\0", 6);

    const StoredValue bin = store.ReadValue(StoreRoot::CurrentUser, key16, u"BIN", 1024);
    EXPECT_EQ(bin.status, StoredValue::Status::Found);
    EXPECT_EQ(bin.kind, StoredValueKind::Binary);
    EXPECT_EQ(bin.data, image);
    const StoredValue limited = store.ReadValue(StoreRoot::CurrentUser, key16, u"bin", 5);
    EXPECT_EQ(limited.status, StoredValue::Status::TooLarge);
    EXPECT_EQ(limited.size, image.size());
    EXPECT_TRUE(limited.data.empty());
    EXPECT_EQ(store.ReadValue(StoreRoot::CurrentUser, key16, u"num", 1024).kind,
              StoredValueKind::Integer32);
    EXPECT_EQ(store.ReadValue(StoreRoot::CurrentUser, key16, u"text", 1024).kind,
              StoredValueKind::Text);
    EXPECT_EQ(store.ReadValue(StoreRoot::CurrentUser, key16, u"multi", 1024).kind,
              StoredValueKind::Other);
    EXPECT_EQ(store.ReadValue(StoreRoot::CurrentUser, key16, u"missing", 1024).status,
              StoredValue::Status::NoValue);
    EXPECT_EQ(store.ReadValue(StoreRoot::None, key16, u"bin", 1024).status,
              StoredValue::Status::KeyUnavailable);
    EXPECT_FALSE(store.WriteBinaryValue(StoreRoot::None, key16, u"bin", image));
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

TEST(Win32FileSystemWrites, ReplaceWholeFilesAndCreateOneFolderLevel) {
    const std::u16string folder =
        FromWide(TempFolder(L"KorvFsTest" + std::to_wstring(GetCurrentProcessId())));
    const Win32FileSystem files;
    EXPECT_FALSE(files.CreateFolder(folder + u"\\a\\b"));
    ASSERT_TRUE(files.CreateFolder(folder));
    EXPECT_TRUE(files.CreateFolder(folder));  // already there
    EXPECT_TRUE(files.FolderExists(folder + u"\\"));

    const std::u16string path = folder + u"\\p.pfd";
    ASSERT_TRUE(files.WriteWholeFile(path, Bytes(5000, 1)));
    ASSERT_TRUE(files.WriteWholeFile(path, Bytes(10, 2)));
    EXPECT_EQ(files.ReadWholeFile(path, 10).bytes, Bytes(10, 2));
    EXPECT_TRUE(files.FileExists(path));
    EXPECT_FALSE(files.FileExists(folder));
    EXPECT_FALSE(files.WriteWholeFile(folder + u"\\missing\\q.pfd", Bytes(3, 3)));

    // Nothing but the file itself is left in the folder.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(ToWide(folder + u"\\*").c_str(), &found);
    std::set<std::wstring> names;
    do {
        names.insert(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_EQ(names, (std::set<std::wstring>{L".", L"..", L"p.pfd"}));
    DeleteFileW(ToWide(path).c_str());
    RemoveDirectoryW(ToWide(folder).c_str());
}

}  // namespace
}  // namespace korv::win32
