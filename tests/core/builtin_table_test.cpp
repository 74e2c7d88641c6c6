// The translation table built into the program: it reads, holds "CH" and "US" with the lines
// the monitor relies on, translates every text the system shows, and switching languages
// through the reverse lookup never changes what a text means.

#include "lang/builtin_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "keys/key_code.h"
#include "lang/table_format.h"
#include "lang/ui_language.h"

namespace korv {
namespace {

std::string Narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

TranslationTable BuiltinTable() {
    TranslationTable table;
    EXPECT_EQ(ReadTable(BuiltinTranslationTable(), table), TableReadStatus::kOk);
    return table;
}

// The texts the system shows: tray hint (also after a mute toggle) and title, menu, recorded
// buttons and delays, message boxes.
const std::u16string_view kShownTexts[] = {
    u"GAMING MOUSE DRIVER",
    u"GAMING MOUSE MONITOR",
    u"Config",
    u"About",
    u"Exit",
    u"Microphone muted",
    u"Microphone on",
    u"Mouse Click",
    u"Mouse Right Click",
    u"Mouse Middle Click",
    u"Backward(Mouse) ",
    u"Forward(Mouse)",
    u"Wheel up(Mouse)",
    u"Wheel Down(Mouse)",
    u"uiHook.dll can not be found!",
    u"Error",
    u"GetLineInfo Error",
    u"GetControlDetails Error",
    u"SetControlDetails Error",
};

// A key name that reads the same in every language: a single character, F1 to F24, the
// placeholder of an unassigned code, or symbols only.
bool IsLanguageNeutral(std::u16string_view name) {
    const auto is_letter = [](char16_t c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    };
    if (name.size() <= 1 || name.starts_with(u"UNDEFINED_"))
        return true;
    if (name[0] == u'F' && name.find_first_not_of(u"0123456789", 1) == std::u16string_view::npos)
        return true;
    return std::none_of(name.begin(), name.end(), is_letter);
}

std::set<std::u16string> KeyNames() {
    std::set<std::u16string> names;
    for (int code = 0; code < kKeyTableSize; ++code) {
        for (int extended : {0, 1})
            names.insert(GetKeyDescriptionByVKCode(code, extended));
    }
    return names;
}

TEST(BuiltinTableTest, HoldsChineseThenUsEnglish) {
    const TranslationTable table = BuiltinTable();
    ASSERT_EQ(table.Resources.size(), 2u);
    EXPECT_EQ(table.Resources[0].code, u"CH");
    EXPECT_EQ(table.Resources[1].code, u"US");
    // Every line's source is one of the table's source texts.
    for (const Language& language : table.Resources) {
        for (const std::u16string& line : language.lines) {
            SCOPED_TRACE(Narrow(line));
            EXPECT_TRUE(table.Original.Contains(line.substr(0, line.find(u'='))));
        }
    }
}

TEST(BuiltinTableTest, CarriesTheLinesTheMonitorReliesOn) {
    const TranslationTable table = BuiltinTable();
    const TranslationList& chinese = *table.GetLangList(u"CH");
    for (const char16_t* line :
         {u"Gaming Mouse Driver=游戏鼠标驱动", u"Config=打开配置", u"About=关于软件",
          u"Exit=退出软件", u"Down=按下", u"Mouse Click=左键", u"Wheel up(Mouse)=向上滚动"}) {
        EXPECT_TRUE(chinese.Contains(line)) << Narrow(line);
    }
    EXPECT_TRUE(table.GetLangList(u"US")->Contains(u"Mouse Click=Mouse Click"));
    for (const char16_t* source :
         {u"Config has changed, whether to save?", u"Wheel Down(Mouse)", u"1000HZ",
          u"    Please connect your mouse device before apply new settings!"}) {
        EXPECT_TRUE(table.Original.Contains(source)) << Narrow(source);
    }
}

TEST(BuiltinTableTest, TranslatesEveryTextTheSystemShows) {
    const TranslationTable table = BuiltinTable();
    const TranslationList& chinese = *table.GetLangList(u"CH");
    const TranslationList& english = *table.GetLangList(u"US");
    std::vector<std::u16string> texts(std::begin(kShownTexts), std::end(kShownTexts));
    texts.insert(texts.end(), ConstTexts.begin(), ConstTexts.end());
    for (const std::u16string& name : KeyNames()) {
        if (!IsLanguageNeutral(name))
            texts.push_back(name);
    }
    for (const std::u16string& text : texts) {
        SCOPED_TRACE(Narrow(text));
        EXPECT_TRUE(table.Original.Contains(text));
        EXPECT_FALSE(chinese.Translate(text).empty());
    }
    // US shows the monitor's own texts as they are.
    for (const std::u16string_view text : ConstTexts)
        EXPECT_EQ(english.Translate(text), text);
    for (const char16_t* text :
         {u"GAMING MOUSE DRIVER", u"Config", u"Exit", u"Microphone muted", u"Microphone on"})
        EXPECT_EQ(english.Translate(text), text);
}

// Switching from language L maps a shown translation back to the first source with that
// translation; in every language that source must read as the original one.
TEST(BuiltinTableTest, ReverseLookupKeepsTheMeaningInEveryLanguage) {
    const TranslationTable table = BuiltinTable();
    const auto shown = [](const TranslationList& list, const std::u16string& source) {
        const std::u16string translation = list.Translate(source);
        return translation.empty() ? source : translation;
    };
    for (const Language& from : table.Resources) {
        for (const std::u16string& line : from.lines) {
            const std::size_t equals = line.find(u'=');
            const std::u16string source = line.substr(0, equals);
            const std::u16string back = from.lines.SourceOf(line.substr(equals + 1));
            for (const Language& to : table.Resources) {
                SCOPED_TRACE(Narrow(from.code + u" " + line + u" -> " + to.code));
                EXPECT_EQ(shown(to.lines, back), shown(to.lines, source));
            }
        }
    }
}

}  // namespace
}  // namespace korv
