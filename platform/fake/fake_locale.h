#pragma once
// Locale services of a Western European system (code page 1252), for the core's tests. The
// supported locales and the user's locale are fields a test sets; a text left empty (nothing)
// makes that query fail, as a failing query of the platform does.

#include <optional>
#include <vector>

#include "ports/locale.h"

namespace korv::fake {

struct FakeLocaleRecord {
    std::uint32_t id = 0;
    std::optional<std::u16string> language_id;  // "0409"
    std::optional<std::u16string> language_name;
    std::optional<std::u16string> country_abbreviation;   // "USA"
    std::optional<std::u16string> language_abbreviation;  // "ENU"
};

// A few locales as Windows describes them: US English, Simplified and Traditional Chinese,
// German.
std::vector<FakeLocaleRecord> StandardLocales();

class FakeLocale : public Locale {
  public:
    std::u16string DecodeSystemText(std::string_view bytes) const override;
    std::uint16_t SystemDefaultLanguageId() const override { return system_language_id; }
    std::vector<std::uint32_t> SupportedLocaleIds() const override;
    std::uint32_t UserDefaultLocaleId() const override { return user_locale_id; }
    [[nodiscard]] std::optional<std::u16string> LocaleInfo(std::uint32_t locale_id,
                                                           LocaleItem item) const override;

    std::uint16_t system_language_id = 0x0409;
    std::uint32_t user_locale_id = 0x0409;
    std::vector<FakeLocaleRecord> locales = StandardLocales();
};

}  // namespace korv::fake
