#pragma once
// A keyed store held in memory, for the core's tests. Key names and value names are compared
// without regard to ASCII case, as the registry compares them; a key path that names no key
// (no segment, an empty segment, a segment with a backslash) is refused, as the registry refuses
// it.

#include <map>
#include <set>
#include <string>
#include <utility>

#include "ports/keyed_store.h"

namespace korv::fake {

class MemoryKeyedStore : public KeyedStore {
  public:
    [[nodiscard]] StoredValue ReadValue(StoreScope scope, std::span<const std::u16string> key_path,
                                        std::u16string_view name, std::uint64_t max_bytes) override;
    [[nodiscard]] bool WriteBinaryValue(StoreScope scope, std::span<const std::u16string> key_path,
                                        std::u16string_view name,
                                        std::span<const std::uint8_t> data) override;
    [[nodiscard]] bool WriteInteger32Value(StoreScope scope,
                                           std::span<const std::u16string> key_path,
                                           std::u16string_view name, std::uint32_t value) override;
    // A key that exists without values.
    void CreateKey(StoreScope scope, std::span<const std::u16string> key_path) {
        keys_[Key(scope, key_path)];
    }

    // What a test prepares.
    void Put(StoreScope scope, std::span<const std::u16string> key_path, std::u16string_view name,
             StoredValueKind kind, std::vector<std::uint8_t> data);
    // The key can be neither opened nor created (no access).
    void MakeUnavailable(StoreScope scope, std::span<const std::u16string> key_path);

    // What a test inspects.
    const StoredValue* Find(StoreScope scope, std::span<const std::u16string> key_path,
                            std::u16string_view name) const;
    std::set<std::u16string> ValueNames(StoreScope scope,
                                        std::span<const std::u16string> key_path) const;
    // Every key that exists, its segments folded to lower case.
    std::set<std::pair<StoreScope, StoreKeyPath>> Keys() const;
    int ReadCount() const { return read_count_; }
    int WriteCount() const { return write_count_; }

  private:
    using KeyId = std::pair<StoreScope, StoreKeyPath>;
    static KeyId Key(StoreScope scope, std::span<const std::u16string> key_path);
    static bool NamesAKey(std::span<const std::u16string> key_path);
    bool Usable(StoreScope scope, std::span<const std::u16string> key_path) const;

    std::map<KeyId, std::map<std::u16string, StoredValue>> keys_;
    std::set<KeyId> unavailable_;
    int read_count_ = 0;
    int write_count_ = 0;
};

}  // namespace korv::fake
