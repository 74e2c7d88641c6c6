// Reading and writing the fixed UTF-16 text fields of the stored records.
//
// A text field is a char16_t array that ends its text with a zero unit. Writing always leaves that
// zero inside the array (text that does not fit is cut); reading stops at the first zero or at the
// end of the array, whichever comes first, so a field from a damaged image is never read past.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace korv {

// What happens to the units after the terminating zero when a field is written.
enum class TextTail {
    ZeroFill,  // clear them, so the field's bytes depend on the new text only
    Keep,      // leave them as they were (writing over the start of an existing caption)
};

// Writes `text` into `field` followed by a zero unit. Text longer than field.size() - 1 units is
// cut; the cut never splits a surrogate pair. Returns true if the whole text was stored, false if
// it was cut or the field has no room even for the zero (a zero-length field is left untouched).
inline bool SetTextField(std::span<char16_t> field, std::u16string_view text,
                         TextTail tail = TextTail::ZeroFill) {
    if (field.empty()) {
        return false;
    }
    std::u16string_view kept = text.substr(0, std::min(text.size(), field.size() - 1));
    if (kept.size() < text.size() && !kept.empty() && kept.back() >= 0xD800 &&
        kept.back() <= 0xDBFF) {
        kept.remove_suffix(1);  // keep a pair whole: drop its lead unit rather than store half
    }
    std::copy(kept.begin(), kept.end(), field.begin());
    field[kept.size()] = u'\0';
    if (tail == TextTail::ZeroFill) {
        std::fill(field.begin() + static_cast<std::ptrdiff_t>(kept.size()) + 1, field.end(), u'\0');
    }
    return kept.size() == text.size();
}

// The text of `field`: its units up to the first zero, or all of them if it holds no zero.
inline std::u16string GetTextField(std::span<const char16_t> field) {
    const auto end = std::find(field.begin(), field.end(), u'\0');
    return std::u16string(field.begin(), end);
}

}  // namespace korv
