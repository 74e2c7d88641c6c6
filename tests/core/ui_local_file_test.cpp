// The language file "ui.local" that is installed beside the monitor, read as the build generated
// it: it parses, holds English, Simplified and Traditional Chinese in the order the stored
// language index counts them, translates every text the monitor shows in each of them, and each
// Chinese language keeps to its own script.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lang/builtin_table.h"
#include "lang/table_format.h"
#include "lang/translation_engine.h"
#include "lang/ui_language.h"
#include "platform/fake/fake_locale.h"
#include "platform/fake/memory_file_system.h"
#include "profile/default_profiles.h"
#include "profile/records.h"

#ifndef KORV_UI_LOCAL_FILE
#error "KORV_UI_LOCAL_FILE names the generated ui.local"
#endif

namespace korv {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

Bytes GeneratedFile() {
    std::ifstream in(KORV_UI_LOCAL_FILE, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TranslationTable ReadGeneratedFile() {
    TranslationTable table;
    const Bytes bytes = GeneratedFile();
    EXPECT_FALSE(bytes.empty()) << "cannot read " << KORV_UI_LOCAL_FILE;
    EXPECT_EQ(ReadTable(bytes, table), TableReadStatus::kOk);
    return table;
}

// Every text the monitor shows: tray hint (also after a mute toggle), title, menu, message boxes.
const std::u16string_view kMonitorTexts[] = {
    u"GAMING MOUSE DRIVER",
    u"GAMING MOUSE MONITOR",
    u"Config",
    u"About",
    u"Exit",
    u"Microphone muted",
    u"Microphone on",
    u"uiHook.dll can not be found!",
    u"Error",
    u"GetLineInfo Error",
    u"GetControlDetails Error",
    u"SetControlDetails Error",
};

// Characters of these texts that the two scripts write differently: Simplified, Traditional.
// A Traditional line with a Simplified character (or the reverse) is a wrong paste.
const std::pair<char16_t, char16_t> kScriptPairs[] = {
    {u'戏', u'戲'}, {u'标', u'標'}, {u'驱', u'驅'}, {u'动', u'動'}, {u'监', u'監'}, {u'开', u'開'},
    {u'关', u'關'}, {u'软', u'軟'}, {u'错', u'錯'}, {u'麦', u'麥'}, {u'风', u'風'}, {u'静', u'靜'},
    {u'设', u'設'}, {u'启', u'啟'}, {u'发', u'發'}, {u'体', u'體'}, {u'结', u'結'}, {u'没', u'沒'},
    {u'这', u'這'}, {u'无', u'無'}, {u'为', u'為'}, {u'档', u'檔'}, {u'键', u'鍵'}, {u'误', u'誤'},
};

bool HasChinese(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x4E00; });
}

TEST(UiLocalFileTest, ReadsWithEnglishThenSimplifiedThenTraditionalChinese) {
    const TranslationTable table = ReadGeneratedFile();
    ASSERT_EQ(table.Resources.size(), 3u);
    // Each language is named by its language identifier, as the locale list names it.
    EXPECT_EQ(table.Resources[0].code, u"0409");
    EXPECT_EQ(table.Resources[1].code, u"0804");
    EXPECT_EQ(table.Resources[2].code, u"0404");

    // The reader takes the whole file or nothing: one byte less and the table stays empty.
    const Bytes bytes = GeneratedFile();
    ASSERT_FALSE(bytes.empty());
    TranslationTable cut;
    EXPECT_NE(ReadTable(std::span(bytes).first(bytes.size() - 1), cut), TableReadStatus::kOk);
    EXPECT_EQ(cut, TranslationTable{});
}

TEST(UiLocalFileTest, TranslatesEveryMonitorTextInEveryLanguage) {
    const TranslationTable table = ReadGeneratedFile();
    ASSERT_EQ(table.Resources.size(), 3u);
    const TranslationList& english = table.Resources[0].lines;
    const TranslationList& simplified = table.Resources[1].lines;
    const TranslationList& traditional = table.Resources[2].lines;
    for (const std::u16string_view text : kMonitorTexts) {
        SCOPED_TRACE(Narrow(text));
        EXPECT_TRUE(table.Original.Contains(text));
        EXPECT_EQ(english.Translate(text), text);
        EXPECT_TRUE(HasChinese(simplified.Translate(text)));
        EXPECT_TRUE(HasChinese(traditional.Translate(text)));
    }
    // Every line's source is a source text of the file.
    for (const Language& language : table.Resources) {
        for (const std::u16string& line : language.lines) {
            SCOPED_TRACE(Narrow(language.code + u" " + line));
            EXPECT_TRUE(table.Original.Contains(line.substr(0, line.find(u'='))));
        }
    }
}

TEST(UiLocalFileTest, EachChineseLanguageKeepsToItsScript) {
    const TranslationTable table = ReadGeneratedFile();
    ASSERT_EQ(table.Resources.size(), 3u);
    const struct {
        const Language& language;
        bool traditional;
    } cases[] = {{table.Resources[1], false}, {table.Resources[2], true}};
    for (const auto& c : cases) {
        for (const std::u16string& line : c.language.lines) {
            for (const auto& [simplified, traditional] : kScriptPairs) {
                const char16_t foreign = c.traditional ? simplified : traditional;
                EXPECT_EQ(line.find(foreign), std::u16string::npos)
                    << Narrow(c.language.code) << " line of '"
                    << Narrow(line.substr(0, line.find(u'=')))
                    << "' holds a character of the other script";
            }
        }
    }
    // Simplified Chinese reads as the built-in "CH" wherever both translate a text.
    TranslationTable builtin;
    ASSERT_EQ(ReadTable(BuiltinTranslationTable(), builtin), TableReadStatus::kOk);
    for (const std::u16string_view text : kMonitorTexts) {
        SCOPED_TRACE(Narrow(text));
        EXPECT_EQ(table.Resources[1].lines.Translate(text),
                  builtin.GetLangList(u"CH")->Translate(text));
    }
}

// The file beside the monitor with the built-in table behind it: the language index that a new
// installation stores for each system language shows that language.
TEST(UiLocalFileTest, DefaultLanguageIndexShowsTheSystemsLanguage) {
    fake::FakeLocale locale;
    fake::MemoryFileSystem files;
    files.Put(files.ExecutableFolder() + std::u16string(kLanguageFileName), GeneratedFile());
    const struct {
        std::uint16_t system_language;
        std::u16string_view code;
        std::u16string_view config;
        std::u16string_view long_name;
    } cases[] = {
        {0x0409, u"0409", u"Config", u"English (United States)"},
        {0x0407, u"0409", u"Config", u"English (United States)"},
        {0x0804, u"0804", u"打开配置", u"Chinese (Simplified, PRC)"},
        {0x0404, u"0404", u"開啟設定", u"Chinese (Traditional, Taiwan)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.system_language);
        Window window(nullptr, u"Form", u"TKORVANTH417MONMAIN");
        TuiLanguage& language = CreateLanguageComponent(window, {locale, files});
        ASSERT_EQ(language.LocalFileStatus(), LanguageFileStatus::kLoaded);
        EXPECT_EQ(language.GetLanguageShortIDByIndex(3), u"CH");
        EXPECT_EQ(language.GetLanguageShortIDByIndex(4), u"US");

        TALLGAMESINFO settings{};
        ApplyAllSettingsDefault(settings, c.system_language);
        language.SetLang(language.GetLanguageShortIDByIndex(settings.CurrentLanguage));
        EXPECT_EQ(language.Lang(), c.code);
        EXPECT_EQ(TranslateText(u"Config"), c.config);
        EXPECT_EQ(language.GetLanguageLongNameByShortID(language.Lang()), c.long_name);
        ResetLanguage();
    }
}

}  // namespace
}  // namespace korv
