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
#include <tuple>

#include "app/settings_file.h"
#include "base/key_path_text.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_dynamic_library.h"
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
    const StoreKeyPath key16{u"software", FromWide(key.substr(key.find(L'\\') + 1))};
    Win32KeyedStore store;
    const Bytes image{0, 1, 2, 3, 250, 0};
    ASSERT_TRUE(store.WriteBinaryValue(StoreScope::User, key16, u"bin", image));
    const DWORD number = 7;
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"num", REG_DWORD, &number, 4);
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"text", REG_SZ, L"x", 4);
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"multi", REG_MULTI_SZ, L"a\0", 6);

    const StoredValue bin = store.ReadValue(StoreScope::User, key16, u"BIN", 1024);
    EXPECT_EQ(bin.status, StoredValue::Status::Found);
    EXPECT_EQ(bin.kind, StoredValueKind::Binary);
    EXPECT_EQ(bin.data, image);
    const StoredValue limited = store.ReadValue(StoreScope::User, key16, u"bin", 5);
    EXPECT_EQ(limited.status, StoredValue::Status::TooLarge);
    EXPECT_EQ(limited.size, image.size());
    EXPECT_TRUE(limited.data.empty());
    EXPECT_EQ(store.ReadValue(StoreScope::User, key16, u"num", 1024).kind,
              StoredValueKind::Integer32);
    EXPECT_EQ(store.ReadValue(StoreScope::User, key16, u"text", 1024).kind, StoredValueKind::Text);
    EXPECT_EQ(store.ReadValue(StoreScope::User, key16, u"multi", 1024).kind,
              StoredValueKind::Other);
    EXPECT_EQ(store.ReadValue(StoreScope::User, key16, u"missing", 1024).status,
              StoredValue::Status::NoValue);
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// A key path that names no key is refused before the registry is asked, and so is a segment
// that holds a backslash: joined, it would name a key below the one it names.
TEST(Win32KeyedStore, RefusesPathsThatNameNoKey) {
    const std::u16string name = u"KorvRefused" + FromWide(std::to_wstring(GetCurrentProcessId()));
    const StoreKeyPath refused[] = {
        {}, {u""}, {u"software", u""}, {u"", u"software"}, {u"software\\" + name}};
    Win32KeyedStore store;
    const Bytes image{1, 2, 3};
    for (const StoreKeyPath& path : refused) {
        SCOPED_TRACE(testing::PrintToString(path.size()) + " segments");
        EXPECT_EQ(store.ReadValue(StoreScope::User, path, u"v", 1024).status,
                  StoredValue::Status::KeyUnavailable);
        EXPECT_FALSE(store.WriteBinaryValue(StoreScope::User, path, u"v", image));
        EXPECT_FALSE(store.WriteInteger32Value(StoreScope::User, path, u"v", 1));
    }
    DWORD size = 0;
    EXPECT_NE(RegGetValueW(HKEY_CURRENT_USER, nullptr, L"v", RRF_RT_ANY, nullptr, nullptr, &size),
              ERROR_SUCCESS)
        << "a value was written into the top of the user's hive";
    HKEY key = nullptr;
    EXPECT_NE(
        RegOpenKeyExW(HKEY_CURRENT_USER, (L"software\\" + ToWide(name)).c_str(), 0, KEY_READ, &key),
        ERROR_SUCCESS);
}

// The settings file names the profile data's key as text; the key path made of it names the
// key that the registry names for the same text, or, where the registry refuses the text, none.
TEST(Win32KeyedStore, KeyPathFromTextNamesTheKeyTheRegistryNames) {
    const std::u16string id = FromWide(std::to_wstring(GetCurrentProcessId()));
    const std::u16string top = u"software\\KorvKeyText" + id;
    struct Case {
        std::u16string text;
        const wchar_t* registry_key;  // the key the value must land in, where one is named
    };
    const std::wstring top_w = ToWide(top);
    const std::wstring inner = top_w + L"\\inner";
    const Case cases[] = {
        {top + u"\\inner", inner.c_str()},
        {top + u"\\inner\\", inner.c_str()},
        {top + u"\\inner\\\\\\", inner.c_str()},
        {top + u"\\\\inner", inner.c_str()},
        {u"\\" + top + u"\\inner", nullptr},
        {u"\\", nullptr},
        {top + u"\\in/ner", nullptr},  // a slash is part of a key's name
        {top + u"\\ inner. ", nullptr},
    };
    Win32KeyedStore store;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        RegDeleteTreeW(HKEY_CURRENT_USER, top_w.c_str());
        const std::wstring text = ToWide(c.text);
        // What the registry itself does with the text.
        HKEY raw = nullptr;
        const LSTATUS opened = RegCreateKeyExW(HKEY_CURRENT_USER, text.c_str(), 0, nullptr, 0,
                                               KEY_WRITE, nullptr, &raw, nullptr);
        if (opened == ERROR_SUCCESS) {
            RegCloseKey(raw);
            RegDeleteTreeW(HKEY_CURRENT_USER, top_w.c_str());
        }
        const bool written =
            store.WriteBinaryValue(StoreScope::User, KeyPathFromText(c.text), u"v", Bytes{9});
        EXPECT_EQ(written, opened == ERROR_SUCCESS);
        if (!written)
            continue;
        // The value is found under the text as the registry reads it, and under the key the
        // case names.
        DWORD size = 0;
        EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, text.c_str(), L"v", RRF_RT_REG_BINARY, nullptr,
                               nullptr, &size),
                  ERROR_SUCCESS);
        if (c.registry_key != nullptr) {
            EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, c.registry_key, L"v", RRF_RT_REG_BINARY,
                                   nullptr, nullptr, &size),
                      ERROR_SUCCESS);
        }
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, top_w.c_str());
    // An empty text would name the top of the hive itself: the store refuses it.
    EXPECT_FALSE(store.WriteBinaryValue(StoreScope::User, KeyPathFromText(u""), u"v", Bytes{9}));
}

// The machine scope is HKEY_LOCAL_MACHINE; a 32-bit value goes into an existing key only.
TEST(Win32KeyedStore, ScopesAreTheUserAndTheMachineHive) {
    const std::wstring key = L"software\\KorvScope" + std::to_wstring(GetCurrentProcessId());
    const StoreKeyPath path{u"software", FromWide(key.substr(9))};
    Win32KeyedStore store;
    EXPECT_FALSE(store.WriteInteger32Value(StoreScope::Machine, path, u"n", 5));
    ASSERT_TRUE(store.WriteBinaryValue(StoreScope::Machine, path, u"b", Bytes{1}));
    EXPECT_TRUE(store.WriteInteger32Value(StoreScope::Machine, path, u"n", 5));
    DWORD number = 0, size = sizeof number;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"n", RRF_RT_REG_DWORD, nullptr,
                           &number, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(number, 5u);
    HKEY user = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &user), ERROR_SUCCESS);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// Paths are built as the program always built them: backslashes, a separator added only where
// a folder lacks one (or always, for the stored default paths), cut after the last backslash.
TEST(Win32FileSystemPaths, AreBuiltWithBackslashesAsBefore) {
    const Win32FileSystem files;
    const std::tuple<std::u16string_view, std::u16string_view, std::u16string, std::u16string>
        joins[] = {
            // folder, name, PathInFolder, JoinWithSeparator
            {u"C:\\a", u"b.pfd", u"C:\\a\\b.pfd", u"C:\\a\\b.pfd"},
            {u"C:\\a\\", u"b.pfd", u"C:\\a\\b.pfd", u"C:\\a\\\\b.pfd"},
            {u"C:/a/", u"b", u"C:/a/\\b", u"C:/a/\\b"},
            {u"", u"b", u"\\b", u"\\b"},
            {u"C:\\a", u"", u"C:\\a\\", u"C:\\a\\"},
        };
    for (const auto& [folder, name, in_folder, joined] : joins) {
        EXPECT_EQ(files.PathInFolder(folder, name), in_folder);
        EXPECT_EQ(files.JoinWithSeparator(folder, name), joined);
    }
    using Split = std::pair<std::u16string, std::u16string>;
    EXPECT_EQ(files.SplitFolderAndName(u"C:\\a\\b.pfd"), Split(u"C:\\a\\", u"b.pfd"));
    EXPECT_EQ(files.SplitFolderAndName(u"C:/a/b.pfd"), Split(u"", u"C:/a/b.pfd"));
    EXPECT_EQ(files.SplitFolderAndName(u"b.pfd"), Split(u"", u"b.pfd"));
    // Full: a drive path or a UNC path. Relative to the current drive or folder: the rest.
    for (std::u16string_view full : {u"C:\\a", u"c:/a", u"\\\\server\\share\\a"})
        EXPECT_TRUE(files.IsFullPath(full)) << full.size();
    for (std::u16string_view relative : {u"C:a", u"\\a", u"a\\b", u"/a", u"C:", u""})
        EXPECT_FALSE(files.IsFullPath(relative)) << relative.size();
    // A path built here names the same file as the platform does.
    const std::u16string folder =
        FromWide(TempFolder(L"KorvPathTest" + std::to_wstring(GetCurrentProcessId())));
    ASSERT_TRUE(files.CreateFolder(folder));
    const std::u16string file = files.PathInFolder(folder, u"x.pfd");
    ASSERT_TRUE(files.WriteWholeFile(file, Bytes{1}));
    EXPECT_TRUE(files.IsFullPath(file));
    EXPECT_EQ(files.SplitFolderAndName(file), Split(files.PathInFolder(folder, {}), u"x.pfd"));
    EXPECT_NE(GetFileAttributesW((ToWide(folder) + L"\\x.pfd").c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(ToWide(file).c_str());
    RemoveDirectoryW(ToWide(folder).c_str());
}

// A library is loaded by a full path only, whatever the search order would find for the rest;
// the built uiHook.dll beside the tests is found by its full path.
TEST(Win32DynamicLibraryLoader, LoadsByFullPathOnly) {
    Win32DynamicLibraryLoader loader;
    const std::u16string folder = Win32FileSystem().ExecutableFolder();
    for (const std::u16string& path :
         {std::u16string(u"uiHook.dll"), u"." + folder.substr(2) + u"uiHook.dll",
          folder.substr(2) + u"uiHook.dll", folder.substr(0, 2) + u"uiHook.dll"}) {
        const LibraryLoad load = loader.Load(path);
        EXPECT_EQ(load.library, nullptr) << std::string(path.begin(), path.end());
        EXPECT_EQ(load.failure, LibraryLoadFailure::NotFullPath);
    }
    EXPECT_NE(loader.Load(folder + u"uiHook.dll").library, nullptr);
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
