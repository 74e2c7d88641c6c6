#include "programs/cfgstandin/function_names.h"

#include "app/settings_file.h"
#include "base/ascii_text.h"

namespace korv {

std::optional<std::int32_t> FindFunction(std::u16string_view name_or_code) {
    for (std::size_t code = 0; code < kFunctionNames.size(); ++code) {
        if (EqualsIgnoringAsciiCase(kFunctionNames[code], name_or_code))
            return static_cast<std::int32_t>(code);
    }
    const bool digits =
        !name_or_code.empty() && name_or_code.size() <= 2 &&
        std::ranges::all_of(name_or_code, [](char16_t c) { return c >= u'0' && c <= u'9'; });
    if (!digits)
        return std::nullopt;
    const std::optional<std::int32_t> code = ParseSettingsInteger(name_or_code);
    if (!code || *code >= kFunctionCodeCount)
        return std::nullopt;
    return code;
}

}  // namespace korv
