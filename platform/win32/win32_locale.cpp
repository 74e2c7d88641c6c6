#include "platform/win32/win32_locale.h"

#include <windows.h>

#include <limits>

namespace korv::win32 {

std::u16string Win32Locale::DecodeSystemCodePage(std::string_view bytes) const {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return {};
    }
    const int in_length = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), in_length, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), in_length, wide.data(), length);
    return std::u16string(wide.begin(), wide.end());
}

std::uint16_t Win32Locale::SystemDefaultLanguageId() const {
    return GetSystemDefaultLangID();
}

}  // namespace korv::win32
