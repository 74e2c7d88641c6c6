#pragma once
// National-language services of Windows.

#include "ports/locale.h"

namespace korv::win32 {

class Win32Locale : public Locale {
  public:
    std::u16string DecodeSystemCodePage(std::string_view bytes) const override;
    std::uint16_t SystemDefaultLanguageId() const override;
};

}  // namespace korv::win32
