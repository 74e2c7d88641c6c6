#pragma once
// The size of UTF-16 text once encoded as UTF-8, without encoding it.
//
// Threads: a pure function, any thread.

#include <cstdint>
#include <string_view>

namespace korv {

// A surrogate pair takes four bytes; a lone surrogate takes the three of the replacement
// character an encoder writes in its place.
[[nodiscard]] constexpr std::uint64_t Utf8Length(std::u16string_view text) {
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (pair) {
            bytes += 4;
            ++i;
        } else {
            bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
    }
    return bytes;
}

static_assert(Utf8Length(u"a\u00e9\u4e2d\U0001F600") == 1 + 2 + 3 + 4);
static_assert(Utf8Length(u"\xD800x") == 3 + 1);

}  // namespace korv
