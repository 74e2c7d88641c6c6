#include "platform/win32/win32_locale.h"

#include <windows.h>

#include <cwchar>
#include <limits>

#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

// EnumSystemLocalesW passes no context to its callback: the enumeration running on this
// thread collects into this list for the duration of the call.
thread_local std::vector<std::uint32_t>* t_enumerated_locales = nullptr;

BOOL CALLBACK CollectLocale(LPWSTR hex_id) {
    wchar_t* end = nullptr;
    const unsigned long id = std::wcstoul(hex_id, &end, 16);
    if (t_enumerated_locales == nullptr || end == hex_id)
        return TRUE;
    try {
        t_enumerated_locales->push_back(static_cast<std::uint32_t>(id));
    } catch (...) {
        return FALSE;  // no exception may cross the system's frames
    }
    return TRUE;
}

LCTYPE ToLcType(LocaleItem item) {
    switch (item) {
        case LocaleItem::kLanguageId:
            return LOCALE_ILANGUAGE;
        case LocaleItem::kLanguageName:
            return LOCALE_SLANGUAGE;
        case LocaleItem::kAbbreviatedCountryName:
            return LOCALE_SABBREVCTRYNAME;
        case LocaleItem::kAbbreviatedLanguageName:
            return LOCALE_SABBREVLANGNAME;
    }
    return 0;
}

}  // namespace

// Windows' own 8-bit text is in its ANSI code page, as the profile API reads it.
std::u16string Win32Locale::DecodeSystemText(std::string_view bytes) const {
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

std::vector<std::uint32_t> Win32Locale::SupportedLocaleIds() const {
    std::vector<std::uint32_t> ids;
    t_enumerated_locales = &ids;
    EnumSystemLocalesW(CollectLocale, LCID_SUPPORTED);
    t_enumerated_locales = nullptr;
    return ids;
}

std::uint32_t Win32Locale::UserDefaultLocaleId() const {
    return GetUserDefaultLCID();
}

std::optional<std::u16string> Win32Locale::LocaleInfo(std::uint32_t locale_id,
                                                      LocaleItem item) const {
    const LCTYPE type = ToLcType(item);
    const int length = GetLocaleInfoW(locale_id, type, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    const int written = GetLocaleInfoW(locale_id, type, text.data(), length);
    if (written <= 0)
        return std::nullopt;
    text.resize(static_cast<std::size_t>(written - 1));  // without the terminating zero
    return FromWide(text);
}

}  // namespace korv::win32
