#pragma once
// A registry held in memory, for the core's tests. Key paths and value names are compared
// without regard to ASCII case, as the registry compares them.

#include <map>
#include <set>
#include <string>
#include <tuple>

#include "ports/keyed_store.h"

namespace korv::fake {

class MemoryKeyedStore : public KeyedStore {
  public:
    [[nodiscard]] StoredValue ReadValue(StoreRoot root, std::u16string_view key_path,
                                        std::u16string_view name, std::uint64_t max_bytes) override;
    [[nodiscard]] bool WriteBinaryValue(StoreRoot root, std::u16string_view key_path,
                                        std::u16string_view name,
                                        std::span<const std::uint8_t> data) override;
    [[nodiscard]] bool WriteInteger32Value(StoreRoot root, std::u16string_view key_path,
                                           std::u16string_view name, std::uint32_t value) override;
    // A key that exists without values.
    void CreateKey(StoreRoot root, std::u16string_view key_path) { keys_[Key(root, key_path)]; }

    // What a test prepares.
    void Put(StoreRoot root, std::u16string_view key_path, std::u16string_view name,
             StoredValueKind kind, std::vector<std::uint8_t> data);
    // The key can be neither opened nor created (no access).
    void MakeUnavailable(StoreRoot root, std::u16string_view key_path);

    // What a test inspects.
    const StoredValue* Find(StoreRoot root, std::u16string_view key_path,
                            std::u16string_view name) const;
    std::set<std::u16string> ValueNames(StoreRoot root, std::u16string_view key_path) const;
    int ReadCount() const { return read_count_; }
    int WriteCount() const { return write_count_; }

  private:
    using KeyId = std::pair<StoreRoot, std::u16string>;
    static KeyId Key(StoreRoot root, std::u16string_view key_path);

    std::map<KeyId, std::map<std::u16string, StoredValue>> keys_;
    std::set<KeyId> unavailable_;
    int read_count_ = 0;
    int write_count_ = 0;
};

}  // namespace korv::fake
