#include "platform/fake/memory_keyed_store.h"

#include <algorithm>

namespace korv::fake {
namespace {

std::u16string Folded(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 0x20);
    }
    return out;
}

}  // namespace

MemoryKeyedStore::KeyId MemoryKeyedStore::Key(StoreScope scope,
                                              std::span<const std::u16string> key_path) {
    KeyId key{scope, {}};
    for (const std::u16string& segment : key_path)
        key.second.push_back(Folded(segment));
    return key;
}

// As the registry: a backslash would name a key below, so it cannot be part of a name.
bool MemoryKeyedStore::NamesAKey(std::span<const std::u16string> key_path) {
    return !key_path.empty() && std::ranges::none_of(key_path, [](const std::u16string& segment) {
        return segment.empty() || segment.find(u'\\') != std::u16string::npos;
    });
}

bool MemoryKeyedStore::Usable(StoreScope scope, std::span<const std::u16string> key_path) const {
    return NamesAKey(key_path) && !unavailable_.contains(Key(scope, key_path));
}

StoredValue MemoryKeyedStore::ReadValue(StoreScope scope, std::span<const std::u16string> key_path,
                                        std::u16string_view name, std::uint64_t max_bytes) {
    ++read_count_;
    if (!Usable(scope, key_path))
        return {};
    auto& values = keys_[Key(scope, key_path)];  // opening creates the key
    const auto it = values.find(Folded(name));
    if (it == values.end())
        return {
            .status = StoredValue::Status::NoValue, .kind = StoredValueKind::Binary, .data = {}};
    StoredValue value = it->second;
    value.size = value.data.size();
    if (value.size > max_bytes) {
        value.status = StoredValue::Status::TooLarge;
        value.data.clear();
    }
    return value;
}

bool MemoryKeyedStore::WriteBinaryValue(StoreScope scope, std::span<const std::u16string> key_path,
                                        std::u16string_view name,
                                        std::span<const std::uint8_t> data) {
    if (!Usable(scope, key_path))
        return false;
    ++write_count_;
    keys_[Key(scope, key_path)][Folded(name)] = {.status = StoredValue::Status::Found,
                                                 .kind = StoredValueKind::Binary,
                                                 .data = {data.begin(), data.end()}};
    return true;
}

bool MemoryKeyedStore::WriteInteger32Value(StoreScope scope,
                                           std::span<const std::u16string> key_path,
                                           std::u16string_view name, std::uint32_t value) {
    if (!Usable(scope, key_path))
        return false;
    const auto key = keys_.find(Key(scope, key_path));
    if (key == keys_.end())
        return false;
    ++write_count_;
    std::vector<std::uint8_t> data(4);
    for (int i = 0; i < 4; ++i)
        data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    key->second[Folded(name)] = {.status = StoredValue::Status::Found,
                                 .kind = StoredValueKind::Integer32,
                                 .data = std::move(data)};
    return true;
}

void MemoryKeyedStore::Put(StoreScope scope, std::span<const std::u16string> key_path,
                           std::u16string_view name, StoredValueKind kind,
                           std::vector<std::uint8_t> data) {
    keys_[Key(scope, key_path)][Folded(name)] = {
        .status = StoredValue::Status::Found, .kind = kind, .data = std::move(data)};
}

void MemoryKeyedStore::MakeUnavailable(StoreScope scope, std::span<const std::u16string> key_path) {
    unavailable_.insert(Key(scope, key_path));
}

const StoredValue* MemoryKeyedStore::Find(StoreScope scope,
                                          std::span<const std::u16string> key_path,
                                          std::u16string_view name) const {
    const auto key = keys_.find(Key(scope, key_path));
    if (key == keys_.end())
        return nullptr;
    const auto value = key->second.find(Folded(name));
    return value == key->second.end() ? nullptr : &value->second;
}

std::set<std::u16string> MemoryKeyedStore::ValueNames(
    StoreScope scope, std::span<const std::u16string> key_path) const {
    std::set<std::u16string> names;
    const auto key = keys_.find(Key(scope, key_path));
    if (key != keys_.end()) {
        for (const auto& [name, value] : key->second)
            names.insert(name);
    }
    return names;
}

std::set<std::pair<StoreScope, StoreKeyPath>> MemoryKeyedStore::Keys() const {
    std::set<std::pair<StoreScope, StoreKeyPath>> keys;
    for (const auto& [key, values] : keys_)
        keys.insert(key);
    return keys;
}

}  // namespace korv::fake
