#pragma once
// Locale services of a Western European system (code page 1252), for the core's tests.

#include "ports/locale.h"

namespace korv::fake {

class FakeLocale : public Locale {
  public:
    std::u16string DecodeSystemCodePage(std::string_view bytes) const override;
    std::uint16_t SystemDefaultLanguageId() const override { return system_language_id; }

    std::uint16_t system_language_id = 0x0409;
};

}  // namespace korv::fake
