#pragma once
// Port: national-language services of the platform.
//
// Threads: the main thread (language selection and the settings file).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

// The texts of a locale that the language component reads.
enum class LocaleItem {
    kLanguageId,               // the language identifier as four hex digits, e.g. "0409"
    kLanguageName,             // the language's name, e.g. "English (United States)"
    kAbbreviatedCountryName,   // e.g. "USA", "CHN"
    kAbbreviatedLanguageName,  // e.g. "ENU", "CHS"
};

class Locale {
  public:
    virtual ~Locale() = default;

    // Text without a byte-order mark in the system's own 8-bit encoding, as UTF-16: on Windows
    // the system's legacy 8-bit encoding, elsewhere UTF-8 or the locale's character set.
    virtual std::u16string DecodeSystemText(std::string_view bytes) const = 0;

    // The system's default language identifier (0x0409 for US English, 0x0804 for Simplified
    // Chinese).
    virtual std::uint16_t SystemDefaultLanguageId() const = 0;

    // The identifiers of the locales the system supports, in the order the system lists them.
    virtual std::vector<std::uint32_t> SupportedLocaleIds() const = 0;

    // The user's default locale.
    virtual std::uint32_t UserDefaultLocaleId() const = 0;

    // One text of a locale, whole; nothing when the system cannot give it.
    [[nodiscard]] virtual std::optional<std::u16string> LocaleInfo(std::uint32_t locale_id,
                                                                   LocaleItem item) const = 0;
};

}  // namespace korv
