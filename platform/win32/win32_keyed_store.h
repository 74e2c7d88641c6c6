#pragma once
// The registry as the keyed store: the user scope is HKEY_CURRENT_USER, the machine scope
// HKEY_LOCAL_MACHINE, and a key path is its segments joined with backslashes.

#include "ports/keyed_store.h"

namespace korv::win32 {

class Win32KeyedStore : public KeyedStore {
  public:
    [[nodiscard]] StoredValue ReadValue(StoreScope scope, std::span<const std::u16string> key_path,
                                        std::u16string_view name, std::uint64_t max_bytes) override;
    [[nodiscard]] bool WriteBinaryValue(StoreScope scope, std::span<const std::u16string> key_path,
                                        std::u16string_view name,
                                        std::span<const std::uint8_t> data) override;
    [[nodiscard]] bool WriteInteger32Value(StoreScope scope,
                                           std::span<const std::u16string> key_path,
                                           std::u16string_view name, std::uint32_t value) override;
};

}  // namespace korv::win32
