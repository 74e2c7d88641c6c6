#pragma once
// The keyed store as files, a layout shared with the configuration program on Linux:
//
//   <root>/<segment>/<segment>/.../<value name>        a binary value: its raw bytes
//   <root>/<segment>/<segment>/.../<value name>.dword  a 32-bit number: 4 bytes, little-endian
//
// A key is a folder, one per segment of its path. The user scope's root is
// `$XDG_CONFIG_HOME/korvanth417/store` (`~/.config/...` when the variable is unset or not a full
// path); the machine scope's is `/etc/xdg/korvanth417/store`, the system-wide configuration
// folder: everyone reads it, only the administrator writes it, as with the machine hive on
// Windows. Each value is replaced whole (a new file renamed over the old), so a reader, the
// configuration program included, sees the old value or the new one and never a part.
//
// Names are case-sensitive here. A segment or value name that cannot be one file name ("",
// ".", "..", or holding '/', '\' or NUL) names nothing: calls on it fail and create nothing. A
// value is found as binary first, then as a number; writing one kind removes the other.
//
// Threads: the main thread; no state changes after construction.

#include <string>

#include "ports/keyed_store.h"

namespace korv::os_linux {

class LinuxKeyedStore : public KeyedStore {
  public:
    // The two roots, UTF-8 full paths; the defaults above when empty.
    explicit LinuxKeyedStore(std::string user_root = {}, std::string machine_root = {});

    [[nodiscard]] StoredValue ReadValue(StoreScope scope, std::span<const std::u16string> key_path,
                                        std::u16string_view name, std::uint64_t max_bytes) override;
    [[nodiscard]] bool WriteBinaryValue(StoreScope scope, std::span<const std::u16string> key_path,
                                        std::u16string_view name,
                                        std::span<const std::uint8_t> data) override;
    [[nodiscard]] bool WriteInteger32Value(StoreScope scope,
                                           std::span<const std::u16string> key_path,
                                           std::u16string_view name, std::uint32_t value) override;

    // `$XDG_CONFIG_HOME/korvanth417/store`, or `$HOME/.config/korvanth417/store`.
    static std::string DefaultUserRoot();
    static std::string DefaultMachineRoot();

    // The suffix of a 32-bit number's file.
    static constexpr std::string_view kInteger32Suffix = ".dword";

  private:
    const std::string& Root(StoreScope scope) const;

    std::string user_root_;
    std::string machine_root_;
};

}  // namespace korv::os_linux
