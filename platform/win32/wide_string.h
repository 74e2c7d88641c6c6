#pragma once
// UTF-16 strings of the core as the wide strings of the Windows API. Both are 16-bit units on
// Windows, so the conversion is a copy.

#include <string>
#include <string_view>

namespace korv::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows API uses 16-bit wide strings");

inline std::wstring ToWide(std::u16string_view s) {
    return std::wstring(s.begin(), s.end());
}

inline std::u16string FromWide(std::wstring_view s) {
    return std::u16string(s.begin(), s.end());
}

}  // namespace korv::win32
