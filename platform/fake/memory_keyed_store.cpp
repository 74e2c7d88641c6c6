#include "platform/fake/memory_keyed_store.h"

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

MemoryKeyedStore::KeyId MemoryKeyedStore::Key(StoreRoot root, std::u16string_view key_path) {
    return {root, Folded(key_path)};
}

StoredValue MemoryKeyedStore::ReadValue(StoreRoot root, std::u16string_view key_path,
                                        std::u16string_view name, std::uint64_t max_bytes) {
    ++read_count_;
    const KeyId key = Key(root, key_path);
    if (root == StoreRoot::None || unavailable_.contains(key))
        return {};
    auto& values = keys_[key];  // opening creates the key
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

bool MemoryKeyedStore::WriteBinaryValue(StoreRoot root, std::u16string_view key_path,
                                        std::u16string_view name,
                                        std::span<const std::uint8_t> data) {
    const KeyId key = Key(root, key_path);
    if (root == StoreRoot::None || unavailable_.contains(key))
        return false;
    ++write_count_;
    keys_[key][Folded(name)] = {.status = StoredValue::Status::Found,
                                .kind = StoredValueKind::Binary,
                                .data = {data.begin(), data.end()}};
    return true;
}

bool MemoryKeyedStore::WriteInteger32Value(StoreRoot root, std::u16string_view key_path,
                                           std::u16string_view name, std::uint32_t value) {
    const auto key = keys_.find(Key(root, key_path));
    if (key == keys_.end() || unavailable_.contains(key->first))
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

void MemoryKeyedStore::Put(StoreRoot root, std::u16string_view key_path, std::u16string_view name,
                           StoredValueKind kind, std::vector<std::uint8_t> data) {
    keys_[Key(root, key_path)][Folded(name)] = {
        .status = StoredValue::Status::Found, .kind = kind, .data = std::move(data)};
}

void MemoryKeyedStore::MakeUnavailable(StoreRoot root, std::u16string_view key_path) {
    unavailable_.insert(Key(root, key_path));
}

const StoredValue* MemoryKeyedStore::Find(StoreRoot root, std::u16string_view key_path,
                                          std::u16string_view name) const {
    const auto key = keys_.find(Key(root, key_path));
    if (key == keys_.end())
        return nullptr;
    const auto value = key->second.find(Folded(name));
    return value == key->second.end() ? nullptr : &value->second;
}

std::set<std::u16string> MemoryKeyedStore::ValueNames(StoreRoot root,
                                                      std::u16string_view key_path) const {
    std::set<std::u16string> names;
    const auto key = keys_.find(Key(root, key_path));
    if (key != keys_.end()) {
        for (const auto& [name, value] : key->second)
            names.insert(name);
    }
    return names;
}

}  // namespace korv::fake
