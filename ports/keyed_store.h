#pragma once
// Port: a keyed store of named values, the registry on Windows. Keys are paths below one of two
// roots; values have a kind and raw bytes.
//
// Threads: the main thread. Implementations keep no state between calls.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace korv {

enum class StoreRoot : std::uint8_t { None, CurrentUser, LocalMachine };

enum class StoredValueKind : std::uint8_t {
    Binary,     // raw bytes
    Text,       // a string value
    Integer32,  // a 32-bit number
    Other,      // any other kind, read as raw bytes
};

struct StoredValue {
    enum class Status : std::uint8_t {
        Found,
        NoValue,
        KeyUnavailable,
        TooLarge,  // the value is larger than the caller's limit: nothing of it was read
    };
    Status status = Status::KeyUnavailable;
    StoredValueKind kind = StoredValueKind::Binary;
    std::vector<std::uint8_t> data;
    std::uint64_t size = 0;  // the value's size in bytes, when Found or TooLarge
};

class KeyedStore {
  public:
    virtual ~KeyedStore() = default;

    // Opens the key (creating it when missing) and reads the named value, unless it is larger
    // than `max_bytes`: its size is checked before anything of it is read.
    [[nodiscard]] virtual StoredValue ReadValue(StoreRoot root, std::u16string_view key_path,
                                                std::u16string_view name,
                                                std::uint64_t max_bytes) = 0;

    // Opens the key (creating it when missing) and writes the bytes as a binary value.
    [[nodiscard]] virtual bool WriteBinaryValue(StoreRoot root, std::u16string_view key_path,
                                                std::u16string_view name,
                                                std::span<const std::uint8_t> data) = 0;

    // Writes a 32-bit number into an existing key; false (and nothing written) when the key
    // does not exist, which this call never creates.
    [[nodiscard]] virtual bool WriteInteger32Value(StoreRoot root, std::u16string_view key_path,
                                                   std::u16string_view name,
                                                   std::uint32_t value) = 0;
};

}  // namespace korv
