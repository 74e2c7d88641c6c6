#pragma once
// The rules that decide which HID interfaces an operation considers, by their hardware
// identifiers. Identifiers are compared as whole strings with ASCII case folded: only 'A'..'Z'
// are folded onto 'a'..'z'; every other code unit must be equal. Hardware identifiers are ASCII,
// so this is the platform's case-insensitive comparison for every identifier that occurs.

#include <span>
#include <string>
#include <string_view>

#include "base/ascii_text.h"

namespace korv {

// Whether `hardware_ids` holds `id` (whole string, ASCII case ignored).
[[nodiscard]] bool HasHardwareId(std::span<const std::u16string> hardware_ids,
                                 std::u16string_view id);

// Include-list rule: an empty list selects every interface; otherwise an interface is selected
// when one of the list's entries is one of its hardware identifiers. No wildcards, no prefixes.
[[nodiscard]] bool SelectedByIncludeList(std::span<const std::u16string> include_list,
                                         std::span<const std::u16string> hardware_ids);

// Identifier rule: a `device_id` other than "" and "*" selects the interfaces that carry it and
// ignores the include list; "" and "*" fall back to the include-list rule.
[[nodiscard]] bool SelectedByIdentifier(std::u16string_view device_id,
                                        std::span<const std::u16string> include_list,
                                        std::span<const std::u16string> hardware_ids);

}  // namespace korv
