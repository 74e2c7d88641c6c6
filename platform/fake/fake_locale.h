#pragma once
// Locale services of a Western European system (code page 1252), for the core's tests.

#include "ports/locale.h"

namespace korv::fake {

class FakeLocale : public Locale {
  public:
    std::u16string DecodeSystemCodePage(std::string_view bytes) const override;
};

}  // namespace korv::fake
