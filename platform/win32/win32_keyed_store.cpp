#include "platform/win32/win32_keyed_store.h"

#include <windows.h>

#include <optional>
#include <utility>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

// Owns an open registry key.
struct KeyTraits : NullIsEmpty<HKEY> {
    static void Close(HKEY key) { RegCloseKey(key); }
};
using UniqueKey = UniqueResource<KeyTraits>;

HKEY RootHandle(StoreScope scope) {
    return scope == StoreScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The segments joined with backslashes, the registry's own key path. Nothing for a path that
// names no key: no segment, an empty one, or one with a backslash, which would name a key below.
std::optional<std::wstring> RegistryPath(std::span<const std::u16string> key) {
    if (key.empty())
        return std::nullopt;
    std::wstring path;
    for (const std::u16string& segment : key) {
        if (segment.empty() || segment.find(u'\\') != std::u16string::npos)
            return std::nullopt;
        if (!path.empty())
            path.push_back(L'\\');
        path += ToWide(segment);
    }
    return path;
}

UniqueKey OpenOrCreate(StoreScope scope, std::span<const std::u16string> key_path, REGSAM access) {
    UniqueKey key;
    const std::optional<std::wstring> path = RegistryPath(key_path);
    if (!path)
        return key;
    if (RegCreateKeyExW(RootHandle(scope), path->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        access, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
        static_cast<void>(key.Release());  // a failed call leaves no key to close
    }
    return key;
}

StoredValueKind KindOf(DWORD type) {
    switch (type) {
        case REG_BINARY:
            return StoredValueKind::Binary;
        case REG_SZ:
        case REG_EXPAND_SZ:
            return StoredValueKind::Text;
        case REG_DWORD:
            return StoredValueKind::Integer32;
        default:
            return StoredValueKind::Other;
    }
}

}  // namespace

StoredValue Win32KeyedStore::ReadValue(StoreScope scope, std::span<const std::u16string> key_path,
                                       std::u16string_view name, std::uint64_t max_bytes) {
    StoredValue value;
    const UniqueKey key = OpenOrCreate(scope, key_path, KEY_READ | KEY_WRITE);
    if (!key)
        return value;
    const std::wstring value_name = ToWide(name);
    // The value may change between asking its size and reading it; ask again when it grew.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0, size = 0;
        LSTATUS status =
            RegQueryValueExW(key.Get(), value_name.c_str(), nullptr, &type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            value.status = StoredValue::Status::NoValue;
            return value;
        }
        if (status != ERROR_SUCCESS)
            return value;
        value.size = size;
        if (size > max_bytes) {
            value.kind = KindOf(type);
            value.status = StoredValue::Status::TooLarge;
            return value;
        }
        value.data.resize(size);
        status = RegQueryValueExW(key.Get(), value_name.c_str(), nullptr, &type, value.data.data(),
                                  &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return value;
        value.data.resize(size);
        value.size = size;
        value.kind = KindOf(type);
        value.status = StoredValue::Status::Found;
        return value;
    }
    return value;
}

bool Win32KeyedStore::WriteBinaryValue(StoreScope scope, std::span<const std::u16string> key_path,
                                       std::u16string_view name,
                                       std::span<const std::uint8_t> data) {
    const UniqueKey key = OpenOrCreate(scope, key_path, KEY_WRITE);
    if (!key || data.size() > MAXDWORD)
        return false;
    return RegSetValueExW(key.Get(), ToWide(name).c_str(), 0, REG_BINARY, data.data(),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool Win32KeyedStore::WriteInteger32Value(StoreScope scope,
                                          std::span<const std::u16string> key_path,
                                          std::u16string_view name, std::uint32_t value) {
    const std::optional<std::wstring> path = RegistryPath(key_path);
    if (!path)
        return false;
    UniqueKey key;
    if (RegOpenKeyExW(RootHandle(scope), path->c_str(), 0, KEY_SET_VALUE, key.Receive()) !=
        ERROR_SUCCESS) {
        static_cast<void>(key.Release());  // a failed call leaves no key to close
        return false;
    }
    const DWORD number = value;
    return RegSetValueExW(key.Get(), ToWide(name).c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&number), sizeof number) == ERROR_SUCCESS;
}

}  // namespace korv::win32
