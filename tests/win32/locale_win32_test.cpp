// The locale port and the language component on the platform's own national-language
// services, as Wine implements them. The OsLanguage cases also run with Wine started under
// LC_ALL=zh_CN.UTF-8 and zh_TW.UTF-8 (tests/lang.cmake) and check what each locale must give.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lang/translation_engine.h"
#include "lang/ui_language.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_locale.h"

namespace korv::win32 {
namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[256] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 256);
    return length > 0 && length < 256 ? std::wstring(value, length) : std::wstring();
}

TEST(Win32LocaleTest, EnumeratesTheSystemsLocalesWithTheirTexts) {
    const Win32Locale locale;
    const std::vector<std::uint32_t> ids = locale.SupportedLocaleIds();
    EXPECT_GT(ids.size(), 100u);
    for (std::uint32_t id : {0x0409u, 0x0804u, 0x0404u})
        EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << std::hex << id;

    const struct {
        std::uint32_t id;
        LocaleItem item;
        std::u16string_view expected;
    } cases[] = {
        {0x0409, LocaleItem::kLanguageId, u"0409"},
        {0x0409, LocaleItem::kAbbreviatedLanguageName, u"ENU"},
        {0x0409, LocaleItem::kAbbreviatedCountryName, u"USA"},
        {0x0804, LocaleItem::kLanguageId, u"0804"},
        {0x0804, LocaleItem::kAbbreviatedLanguageName, u"CHS"},
        {0x0804, LocaleItem::kAbbreviatedCountryName, u"CHN"},
        {0x0404, LocaleItem::kAbbreviatedLanguageName, u"CHT"},
        {0x0C0A, LocaleItem::kLanguageId, u"0c0a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << c.id << " item " << static_cast<int>(c.item));
        EXPECT_EQ(locale.LocaleInfo(c.id, c.item), std::u16string(c.expected));
    }
    const auto english = locale.LocaleInfo(0x0409, LocaleItem::kLanguageName);
    ASSERT_TRUE(english);
    EXPECT_TRUE(english->starts_with(u"English")) << ToWide(*english).c_str();
    EXPECT_FALSE(locale.LocaleInfo(0x7F7F, LocaleItem::kLanguageName));  // no such locale
}

TEST(Win32LocaleTest, LanguageComponentNamesTheSystemsLanguages) {
    const Win32Locale locale;
    const Win32FileSystem files;
    Window window(nullptr, u"Form", u"TKORVANTH417MONMAIN");
    const TuiLanguage& language = CreateLanguageComponent(window, {locale, files});
    const std::u16string chinese = language.GetLanguageLongNameByLangID(u"0804");
    EXPECT_FALSE(chinese.empty());
    EXPECT_EQ(chinese, locale.LocaleInfo(0x0804, LocaleItem::kLanguageName));
    EXPECT_EQ(language.GetLanguageLongNameByShortID(u"0409"),
              locale.LocaleInfo(0x0409, LocaleItem::kLanguageName));
    EXPECT_EQ(language.GetLanguageLongNameByLangID(u"7F7F"), u"");
    EXPECT_EQ(language.GetLanguageShortIDByIndex(0), u"CH");
    ResetLanguage();
}

// What the system's language must give: for the locales Wine is started with by the test
// runs, fixed values; otherwise what the platform's own calls say.
struct OsLanguageExpectation {
    std::uint16_t language_id;
    std::u16string code;
};

OsLanguageExpectation Expected() {
    const std::wstring lc_all = Environment(L"LC_ALL");
    if (lc_all == L"zh_CN.UTF-8")
        return {0x0804, u"ch"};
    if (lc_all == L"zh_TW.UTF-8")
        return {0x0404, u"ch"};
    wchar_t name[16] = {};
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, name, 16);
    std::u16string code = FromWide(std::wstring_view(name).substr(0, 2));
    for (char16_t& c : code)
        c = static_cast<char16_t>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c);
    return {GetSystemDefaultLangID(), code};
}

std::u16string Hex4(std::uint16_t id) {
    wchar_t text[8];
    swprintf(text, 8, L"%04X", id);
    return FromWide(text);
}

TEST(OsLanguage, FollowsTheLocaleWineWasStartedWith) {
    const OsLanguageExpectation expected = Expected();
    const Win32Locale locale;
    EXPECT_EQ(locale.SystemDefaultLanguageId(), expected.language_id);
    EXPECT_EQ(GetOSDefaultLang(locale), Hex4(expected.language_id));
    EXPECT_EQ(GetOSLanguageCode(locale), expected.code);

    // The component selects "CH" when loaded on a Chinese system, nothing on an English one.
    const Win32FileSystem files;
    Window window(nullptr, u"Form", u"TKORVANTH417MONMAIN");
    const TuiLanguage& language = CreateLanguageComponent(window, {locale, files});
    EXPECT_EQ(language.LangCode(), expected.code);
    EXPECT_EQ(language.GetOSDefaultLang(), Hex4(expected.language_id));
    const bool chinese = expected.code == u"ch";
    EXPECT_EQ(TranslateText(u"Config"), chinese ? u"打开配置" : u"Config");
    ResetLanguage();
}

}  // namespace
}  // namespace korv::win32
