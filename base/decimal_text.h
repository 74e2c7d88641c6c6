#pragma once

#include <cstdint>
#include <string>

namespace korv {

// A number as decimal text, as trace lines, list keys and delay texts show it.
inline std::u16string DecimalText(std::int64_t value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

}  // namespace korv
