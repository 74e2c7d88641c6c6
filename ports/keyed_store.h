#pragma once
// Port: a keyed store of named values. A key is named by its scope and its path, the names of the
// keys from the scope's top down to it; values have a kind and raw bytes. The registry serves it
// on Windows.
//
// Threads: the main thread. Implementations keep no state between calls.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

// Whose settings a key holds.
enum class StoreScope : std::uint8_t {
    User,     // the current user's own
    Machine,  // shared by every user of the machine
};

// The names of the keys from the scope's top down to one key, one name per segment. A path with
// no segment, an empty segment or a segment that the store cannot keep as one key name names no
// key: every call on it fails (KeyUnavailable, false) and nothing is created.
using StoreKeyPath = std::vector<std::u16string>;

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

    // Opens the key (creating it and the keys above it when missing) and reads the named value,
    // unless it is larger than `max_bytes`: its size is checked before anything of it is read.
    [[nodiscard]] virtual StoredValue ReadValue(StoreScope scope,
                                                std::span<const std::u16string> key_path,
                                                std::u16string_view name,
                                                std::uint64_t max_bytes) = 0;

    // Opens the key (creating it and the keys above it when missing) and writes the bytes as a
    // binary value.
    [[nodiscard]] virtual bool WriteBinaryValue(StoreScope scope,
                                                std::span<const std::u16string> key_path,
                                                std::u16string_view name,
                                                std::span<const std::uint8_t> data) = 0;

    // Writes a 32-bit number into an existing key; false (and nothing written) when the key
    // does not exist, which this call never creates.
    [[nodiscard]] virtual bool WriteInteger32Value(StoreScope scope,
                                                   std::span<const std::u16string> key_path,
                                                   std::u16string_view name,
                                                   std::uint32_t value) = 0;
};

}  // namespace korv
