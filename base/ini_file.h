#pragma once
// A read-only private-profile (INI) file with the lookup rules of the Windows profile API:
// sections and keys matched without regard to case, blanks around names and values removed,
// the first section of a name and the first key of a name win, a line without '=' is a key
// without a value, and a value read as a string loses one pair of enclosing quotes and is cut
// at 2047 characters.
//
// Threads: a read file is immutable, so any number of threads may look values up in it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

class Locale;

// The longest value a string lookup returns, as with a 2048-unit buffer on Windows.
inline constexpr std::size_t kIniMaxValueLength = 2047;

class IniFile {
  public:
    IniFile() = default;

    // Parses UTF-16 text. Lines end at LF or CR; blanks around them are removed.
    static IniFile Parse(std::u16string_view text);

    // Decodes a file's bytes as the profile API does: a UTF-8 byte-order mark gives UTF-8,
    // FF FE gives UTF-16LE, FE FF gives UTF-16BE, anything else is 8-bit text in the system's
    // own encoding (Locale::DecodeSystemText).
    static IniFile FromBytes(std::span<const std::uint8_t> bytes, const Locale& locale);

    // The raw value of a key; nothing when the section or key is absent or the line has no '='.
    std::optional<std::u16string_view> RawValue(std::u16string_view section,
                                                std::u16string_view key) const;

    // The value as the profile API's string lookup gives it (quotes removed, cut at 2047
    // characters), or the default when there is no value.
    std::u16string GetString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view default_value) const;

    // The names of the keys with a value in the section, in file order, as the profile API
    // lists them (comment lines starting with ';' left out). Unlike the lookups, the section
    // name is taken as it stands, blanks included.
    std::vector<std::u16string> KeyNames(std::u16string_view section) const;

  private:
    struct Key {
        std::u16string name;
        std::optional<std::u16string> value;
    };
    struct Section {
        std::u16string name;
        std::vector<Key> keys;
    };

    const Section* FindSection(std::u16string_view name) const;

    std::vector<Section> sections_;
};

}  // namespace korv
