#pragma once
// Letter case as the platform folds it in names and codes: ASCII letters only; every other
// character must match exactly.

#include <algorithm>
#include <string_view>

namespace korv {

constexpr char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

constexpr bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    return std::ranges::equal(
        a, b, [](char16_t x, char16_t y) { return AsciiLower(x) == AsciiLower(y); });
}

// The value of a hexadecimal digit, either case; -1 for any other character.
constexpr int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

}  // namespace korv
