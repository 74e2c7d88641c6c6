#pragma once
// Port: national-language services of the platform.

#include <cstdint>
#include <string>
#include <string_view>

namespace korv {

class Locale {
  public:
    virtual ~Locale() = default;

    // Text in the system's 8-bit code page (the ANSI code page on Windows) as UTF-16.
    virtual std::u16string DecodeSystemCodePage(std::string_view bytes) const = 0;

    // The system's default language identifier (0x0409 for US English, 0x0804 for Simplified
    // Chinese).
    virtual std::uint16_t SystemDefaultLanguageId() const = 0;
};

}  // namespace korv
