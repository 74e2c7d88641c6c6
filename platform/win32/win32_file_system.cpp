#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/path_text.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

DWORD Attributes(std::u16string_view path) {
    return GetFileAttributesW(ToWide(path).c_str());
}

bool WriteAll(HANDLE file, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes = bytes.subspan(written);
    }
    return true;
}

// Reads until the buffer is full or the file ends; the number of bytes read, nothing on an
// error.
std::optional<std::size_t> ReadInto(HANDLE file, std::span<std::uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(buffer.size() - done, 1u << 20));
        DWORD read = 0;
        if (!ReadFile(file, buffer.data() + done, want, &read, nullptr))
            return std::nullopt;
        if (read == 0)
            break;
        done += read;
    }
    return done;
}

bool IsMissingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A name beside the target, in the same folder, so that the final rename stays on one volume.
std::wstring TemporaryNameFor(const std::wstring& path) {
    return path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
}

// The volume and the number within it that name one file, whatever its name; nothing when the
// system does not tell.
std::optional<std::array<DWORD, 3>> FileIdentity(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information))
        return std::nullopt;
    return std::array{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                      information.nFileIndexLow};
}

// A file open for appending only: each write lands at the file's end, whoever else appends to
// it, and goes straight to the system, which shows it to every reader at once.
class Win32AppendingFile : public AppendingFile {
  public:
    Win32AppendingFile(UniqueHandle file, std::uint64_t size)
        : file_(std::move(file)), size_(size) {}

    // The size of the file itself, which other programs append to as well.
    std::uint64_t Size() const override {
        LARGE_INTEGER size{};
        if (GetFileSizeEx(file_.Get(), &size) && size.QuadPart >= 0)
            return static_cast<std::uint64_t>(size.QuadPart);
        return size_;
    }
    // The path opened afresh, for its attributes only and sharing everything, names the file
    // of the same identity.
    [[nodiscard]] bool IsNamedBy(std::u16string_view path) const override {
        const UniqueHandle named(CreateFileW(ToWide(path).c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
        if (!named.Valid())
            return false;
        const auto identity = FileIdentity(named.Get());
        return identity && identity == FileIdentity(file_.Get());
    }

    [[nodiscard]] bool Append(std::u16string_view text) override {
        const std::string bytes = Utf8Of(text);
        if (!WriteAll(file_.Get(), std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size()))) {
            return false;
        }
        size_ += bytes.size();
        return true;
    }

  private:
    // A lone surrogate becomes U+FFFD.
    static std::string Utf8Of(std::u16string_view text) {
        if (text.empty())
            return {};
        const std::wstring wide = ToWide(text);
        const int length = WideCharToMultiByte(
            CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
        std::string bytes(static_cast<std::size_t>(std::max(length, 0)), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                            length, nullptr, nullptr);
        return bytes;
    }

    UniqueHandle file_;
    std::uint64_t size_;  // at the open and through this object: when the system cannot tell
};

}  // namespace

std::unique_ptr<AppendingFile> Win32FileSystem::OpenForAppending(std::u16string_view path) const {
    UniqueHandle file(CreateFileW(ToWide(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0)
        return nullptr;
    return std::make_unique<Win32AppendingFile>(std::move(file),
                                                static_cast<std::uint64_t>(size.QuadPart));
}

bool Win32FileSystem::Rename(std::u16string_view from, std::u16string_view to) const {
    return MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool Win32FileSystem::FileExists(std::u16string_view path) const {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::FolderExists(std::u16string_view path) const {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::CreateFolder(std::u16string_view path) const {
    return CreateDirectoryW(ToWide(path).c_str(), nullptr) || FolderExists(path);
}

// Writes the bytes to a new file beside the target, flushes it to disk, then puts it in the
// target's place in one rename: a crash or a full disk leaves either the old file or the new
// one, never a part of either.
bool Win32FileSystem::WriteWholeFile(std::u16string_view path,
                                     std::span<const std::uint8_t> bytes) const {
    const std::wstring target = ToWide(path);
    const std::wstring temporary = TemporaryNameFor(target);
    bool written = false;
    {
        const UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        written = file.Valid() && WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get());
    }
    if (written && MoveFileExW(temporary.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    DeleteFileW(temporary.c_str());
    return false;
}

// The size comes from the open handle, so a file larger than the limit is closed again with
// nothing of it read.
FileRead Win32FileSystem::ReadWholeFile(std::u16string_view path, std::uint64_t max_bytes) const {
    const UniqueHandle file(CreateFileW(ToWide(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const bool missing = IsMissingError(GetLastError());
        return {missing ? FileRead::Status::Missing : FileRead::Status::Unreadable, 0, {}};
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0)
        return {FileRead::Status::Unreadable, 0, {}};
    const auto file_size = static_cast<std::uint64_t>(size.QuadPart);
    if (file_size > max_bytes || file_size > SIZE_MAX)
        return {FileRead::Status::TooLarge, file_size, {}};
    FileRead read{FileRead::Status::Read, file_size, {}};
    read.bytes.resize(static_cast<std::size_t>(file_size));
    const std::optional<std::size_t> done = ReadInto(file.Get(), read.bytes);
    if (!done)
        return {FileRead::Status::Unreadable, file_size, {}};
    read.bytes.resize(*done);  // the file shrank while it was read
    read.size = *done;
    return read;
}

std::u16string Win32FileSystem::ExecutableFolder() const {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // long path: try again with room for it
    }
    return FromWide(std::wstring_view(path).substr(0, path.find_last_of(L"\\/") + 1));
}

std::u16string Win32FileSystem::PathInFolder(std::u16string_view folder,
                                             std::u16string_view name) const {
    return korv::PathInFolder(folder, name, u'\\');
}

std::u16string Win32FileSystem::JoinWithSeparator(std::u16string_view path,
                                                  std::u16string_view part) const {
    return korv::JoinWithSeparator(path, part, u'\\');
}

std::pair<std::u16string, std::u16string> Win32FileSystem::SplitFolderAndName(
    std::u16string_view path) const {
    return korv::SplitFolderAndName(path, u'\\');
}

bool Win32FileSystem::IsWindowsFullPath(std::u16string_view path) {
    const bool drive = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
    return drive || path.starts_with(u"\\\\");
}

}  // namespace korv::win32
