#pragma once
// National-language services of Windows.

#include "ports/locale.h"

namespace korv::win32 {

class Win32Locale : public Locale {
  public:
    std::u16string DecodeSystemText(std::string_view bytes) const override;
    std::uint16_t SystemDefaultLanguageId() const override;
    std::vector<std::uint32_t> SupportedLocaleIds() const override;
    std::uint32_t UserDefaultLocaleId() const override;
    [[nodiscard]] std::optional<std::u16string> LocaleInfo(std::uint32_t locale_id,
                                                           LocaleItem item) const override;
};

}  // namespace korv::win32
