#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

// The files read whole are small settings, language and profile files; anything larger is
// treated as unreadable rather than taken into memory.
constexpr LONGLONG kMaxWholeFileSize = 64 * 1024 * 1024;

}  // namespace

std::optional<std::vector<std::uint8_t>> Win32FileSystem::ReadWholeFile(
    std::u16string_view path) const {
    const UniqueHandle file(CreateFileW(ToWide(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxWholeFileSize) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD want = static_cast<DWORD>(bytes.size() - done);
        if (!ReadFile(file.Get(), bytes.data() + done, want, &read, nullptr))
            return std::nullopt;
        if (read == 0)
            break;  // the file shrank while it was read
        done += read;
    }
    bytes.resize(done);
    return bytes;
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

}  // namespace korv::win32
