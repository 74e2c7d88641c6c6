#pragma once
// The registry as the keyed store: binary values under keys of HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE.

#include "ports/keyed_store.h"

namespace korv::win32 {

class Win32KeyedStore : public KeyedStore {
  public:
    [[nodiscard]] StoredValue ReadValue(StoreRoot root, std::u16string_view key_path,
                                        std::u16string_view name, std::uint64_t max_bytes) override;
    [[nodiscard]] bool WriteBinaryValue(StoreRoot root, std::u16string_view key_path,
                                        std::u16string_view name,
                                        std::span<const std::uint8_t> data) override;
    [[nodiscard]] bool WriteInteger32Value(StoreRoot root, std::u16string_view key_path,
                                           std::u16string_view name, std::uint32_t value) override;
};

}  // namespace korv::win32
