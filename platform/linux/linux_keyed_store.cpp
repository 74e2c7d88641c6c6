#include "platform/linux/linux_keyed_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>

#include "platform/linux/linux_system.h"
#include "platform/linux/posix_files.h"
#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

// The largest value the registry keeps, and so the largest either program may write.
constexpr std::uint64_t kMaxValueBytes = 0xFFFFFFFFu;

// Whether the text can be one file name: not empty, not a name of the folders themselves, no
// separator of either system, no NUL.
bool IsOneFileName(std::u16string_view name) {
    constexpr std::u16string_view kForbidden(u"/\\\0", 3);
    return !name.empty() && name != u"." && name != u".." &&
           name.find_first_of(kForbidden) == std::u16string_view::npos;
}

std::optional<std::string> KeyFolder(const std::string& root,
                                     std::span<const std::u16string> key_path) {
    if (key_path.empty() || root.empty())
        return std::nullopt;
    std::string folder = root;
    for (const std::u16string& segment : key_path) {
        if (!IsOneFileName(segment))
            return std::nullopt;
        folder += '/' + Utf8FromUtf16(segment);
    }
    return folder;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates the folder and every folder above it that is missing.
bool MakeFolders(const std::string& folder) {
    for (std::size_t cut = folder.find('/', 1); cut != std::string::npos;
         cut = folder.find('/', cut + 1)) {
        const std::string above = folder.substr(0, cut);
        if (mkdir(above.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return (mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) && IsFolder(folder);
}

void RemoveFile(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
        unlink(path.c_str());
}

StoredValue FromRead(FileRead read, StoredValueKind kind) {
    StoredValue value;
    value.kind = kind;
    value.size = read.size;
    switch (read.status) {
        case FileRead::Status::Read:
            value.status = StoredValue::Status::Found;
            value.data = std::move(read.bytes);
            break;
        case FileRead::Status::TooLarge:
            value.status = StoredValue::Status::TooLarge;
            break;
        case FileRead::Status::Missing:
            value.status = StoredValue::Status::NoValue;
            value.size = 0;
            break;
        case FileRead::Status::Unreadable:
            value.status = StoredValue::Status::KeyUnavailable;
            value.size = 0;
            break;
    }
    return value;
}

// A number's file that does not hold exactly four bytes is read as what it is: raw bytes of an
// unknown kind, which no reader takes for a number.
StoredValue ReadInteger32(const std::string& path, std::uint64_t max_bytes) {
    StoredValue value = FromRead(ReadBoundedFile(path, max_bytes), StoredValueKind::Integer32);
    if (value.status == StoredValue::Status::Found && value.data.size() != 4)
        value.kind = StoredValueKind::Other;
    return value;
}

// Whether the file at `path` was changed after the one at `other`; false when either is missing.
bool ChangedAfter(const std::string& path, const std::string& other) {
    struct stat mine {};
    struct stat theirs {};
    if (stat(path.c_str(), &mine) != 0 || stat(other.c_str(), &theirs) != 0)
        return false;
    return mine.st_mtim.tv_sec != theirs.st_mtim.tv_sec
               ? mine.st_mtim.tv_sec > theirs.st_mtim.tv_sec
               : mine.st_mtim.tv_nsec > theirs.st_mtim.tv_nsec;
}

}  // namespace

LinuxKeyedStore::LinuxKeyedStore(std::string user_root, std::string machine_root)
    : user_root_(user_root.empty() ? DefaultUserRoot() : std::move(user_root)),
      machine_root_(machine_root.empty() ? DefaultMachineRoot() : std::move(machine_root)) {}

std::string LinuxKeyedStore::DefaultUserRoot() {
    const std::string config = XdgConfigHome();
    return config.empty() ? std::string() : config + "/korvanth417/store";
}

std::string LinuxKeyedStore::DefaultMachineRoot() {
    return "/etc/xdg/korvanth417/store";
}

const std::string& LinuxKeyedStore::Root(StoreScope scope) const {
    return scope == StoreScope::Machine ? machine_root_ : user_root_;
}

StoredValue LinuxKeyedStore::ReadValue(StoreScope scope, std::span<const std::u16string> key_path,
                                       std::u16string_view name, std::uint64_t max_bytes) {
    const std::optional<std::string> folder = KeyFolder(Root(scope), key_path);
    if (!folder || !MakeFolders(*folder))
        return {};
    if (!IsOneFileName(name)) {
        StoredValue none;
        none.status = StoredValue::Status::NoValue;
        return none;
    }
    const std::string path = *folder + '/' + Utf8FromUtf16(name);
    const std::string number_path = path + std::string(kInteger32Suffix);
    // Writing one kind removes the other after the new file is in place; should that removal
    // not have happened (a crash between the two), the newer of the two files is the value.
    // A folder of that name is a key below, not a value.
    if (!IsFolder(path) && !ChangedAfter(number_path, path)) {
        StoredValue binary = FromRead(ReadBoundedFile(path, max_bytes), StoredValueKind::Binary);
        if (binary.status != StoredValue::Status::NoValue)
            return binary;
    }
    return ReadInteger32(number_path, max_bytes);
}

bool LinuxKeyedStore::WriteBinaryValue(StoreScope scope, std::span<const std::u16string> key_path,
                                       std::u16string_view name,
                                       std::span<const std::uint8_t> data) {
    const std::optional<std::string> folder = KeyFolder(Root(scope), key_path);
    if (!folder || !IsOneFileName(name) || data.size() > kMaxValueBytes || !MakeFolders(*folder))
        return false;
    const std::string path = *folder + '/' + Utf8FromUtf16(name);
    if (!ReplaceFileAtomically(path, data))
        return false;
    RemoveFile(path + std::string(kInteger32Suffix));
    return true;
}

bool LinuxKeyedStore::WriteInteger32Value(StoreScope scope,
                                          std::span<const std::u16string> key_path,
                                          std::u16string_view name, std::uint32_t value) {
    const std::optional<std::string> folder = KeyFolder(Root(scope), key_path);
    if (!folder || !IsOneFileName(name) || !IsFolder(*folder))
        return false;
    const std::array<std::uint8_t, 4> bytes{
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    const std::string path = *folder + '/' + Utf8FromUtf16(name);
    if (!ReplaceFileAtomically(path + std::string(kInteger32Suffix), bytes))
        return false;
    RemoveFile(path);
    return true;
}

}  // namespace korv::os_linux
