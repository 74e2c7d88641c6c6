// The translation table: line splitting, lookups, setting translations, language codes, and
// the byte layout with its reader's handling of damaged files.

#include "lang/translation_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lang/table_format.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using test::Bytes;
using test::ListOf;
using test::Texts;

// --- Splitting --------------------------------------------------------------------------------

struct SplitCase {
    const char* what;
    std::u16string_view block;
    Texts lines;
};

const SplitCase kSplitCases[] = {
    {"CR LF CR LF gives an empty line between", u"one\r\n\r\ntwo\r\n", {u"one", u"", u"two"}},
    {"lone CR", u"one\rtwo", {u"one", u"two"}},
    {"LF", u"one\ntwo\n", {u"one", u"two"}},
    {"LF CR is two breaks", u"one\n\rtwo", {u"one", u"", u"two"}},
    {"VT and FF", u"a\vb\fc", {u"a", u"b", u"c"}},
    {"U+2028 and U+2029", u"a\u2028b\u2029c\u2029", {u"a", u"b", u"c"}},
    {"NUL ends the block", std::u16string_view(u"a\r\nb\0c\r\n", 8), {u"a", u"b"}},
    {"no break after the last line", u"a\r\nlast", {u"a", u"last"}},
    {"empty block", u"", {}},
    {"a lone break is one empty line", u"\r\n", {u""}},
    {"blanks belong to the text", u"  a \r\n", {u"  a "}},
    {"CR at the end", u"a\r", {u"a"}},
};

TEST(SplitLinesTest, BreaksLinesAsTheFormatSays) {
    for (const SplitCase& c : kSplitCases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::u16string_view> lines = SplitLines(c.block);
        EXPECT_EQ(Texts(lines.begin(), lines.end()), c.lines);
    }
}

// --- Lookups ----------------------------------------------------------------------------------

struct LookupCase {
    const char* what;
    Texts lines;
    std::u16string_view source;
    std::u16string_view translation;  // empty: not found
};

const LookupCase kLookupCases[] = {
    {"exact source", {u"Config=打开配置"}, u"Config", u"打开配置"},
    {"case matters", {u"Config=打开配置"}, u"config", u""},
    {"trailing blank is part of the text", {u"Config=打开配置"}, u"Config ", u""},
    {"leading blanks are part of the text",
     {u"    Please connect=请连接", u"Please connect=x"},
     u"    Please connect",
     u"请连接"},
    {"line ending after '=' gives nothing", {u"Empty="}, u"Empty", u""},
    {"line without '=' is never found", {u"NoEquals"}, u"NoEquals", u""},
    {"source containing '=' is never found", {u"a=b=c"}, u"a=b", u""},
    {"name is the text before the first '='", {u"a=b=c"}, u"a", u"b=c"},
    {"first of two lines with one name", {u"Key=second", u"Key=first"}, u"Key", u"first"},
    {"no prefix match", {u"Configure=x"}, u"Config", u""},
};

TEST(TranslationListTest, LooksUpBySourceText) {
    for (const LookupCase& c : kLookupCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ListOf(c.lines).Translate(c.source), c.translation);
    }
}

TEST(TranslationListTest, ReverseLookupGivesTheFirstSourceWithThatTranslation) {
    const TranslationList list = ListOf({u"b=same", u"a=same", u"c=other", u"novalue"});
    EXPECT_EQ(list.SourceOf(u"same"), u"a");
    EXPECT_EQ(list.SourceOf(u"other"), u"c");
    EXPECT_EQ(list.SourceOf(u"missing"), u"");
    EXPECT_EQ(list.SourceOf(u"novalue"), u"");  // a line without '=' has no value
}

TEST(TranslationListTest, SettingReplacesAddsAndRemoves) {
    TranslationList list = ListOf({u"Config=old", u"Exit=退出软件"});
    EXPECT_TRUE(list.SetTranslation(u"Config", u"打开配置"));
    EXPECT_TRUE(list.SetTranslation(u"About", u"关于软件"));
    EXPECT_EQ(list.Lines(), (Texts{u"About=关于软件", u"Config=打开配置", u"Exit=退出软件"}));
    EXPECT_TRUE(list.SetTranslation(u"Exit", u""));  // empty translation removes the line
    EXPECT_EQ(list.Translate(u"Exit"), u"");
    EXPECT_EQ(list.Count(), 2u);
}

TEST(TranslationListTest, RefusesTextsThatWouldNotReadBackAsTheirLine) {
    TranslationList list = ListOf({u"a=1"});
    const TranslationList before = list;
    EXPECT_FALSE(list.SetTranslation(u"a=b", u"x"));  // would be a line named "a"
    EXPECT_FALSE(list.SetTranslation(u"two\nlines", u"x"));
    EXPECT_FALSE(list.SetTranslation(u"a", u"x\r\ny"));
    EXPECT_FALSE(list.SetTranslation(u"a", std::u16string(u"x\0y", 3)));
    EXPECT_EQ(list, before);
}

TEST(TranslationListTest, KeepsLinesSortedWithoutDuplicates) {
    TranslationList list;
    EXPECT_TRUE(list.Add(u"b=2"));
    EXPECT_TRUE(list.Add(u"a=1"));
    EXPECT_FALSE(list.Add(u"b=2"));
    EXPECT_TRUE(list.Add(u"B=3"));  // case-sensitive: another line
    EXPECT_EQ(list.Lines(), (Texts{u"B=3", u"a=1", u"b=2"}));
}

TEST(TranslationTableTest, LanguageCodesIgnoreCase) {
    TranslationTable table;
    EXPECT_TRUE(table.AddLang(u"CH"));
    EXPECT_FALSE(table.AddLang(u"ch"));
    EXPECT_TRUE(table.AddLang(u"US"));
    ASSERT_EQ(table.Resources.size(), 2u);
    EXPECT_EQ(table.GetLangList(u"ch"), &table.Resources[0].lines);
    EXPECT_EQ(table.IndexOfLanguage(u"us"), 1);
    EXPECT_EQ(table.GetLangList(u"DE"), nullptr);
    EXPECT_EQ(table.IndexOfLanguage(u""), -1);
}

// --- Byte layout ------------------------------------------------------------------------------

void PutCount(Bytes& bytes, std::int32_t count) {
    const auto value = static_cast<std::uint32_t>(count);
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutUnits(Bytes& bytes, std::u16string_view text) {
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

void PutCounted(Bytes& bytes, std::u16string_view text) {
    PutCount(bytes, static_cast<std::int32_t>(text.size()));
    PutUnits(bytes, text);
}

// A file as another program writes it: blocks in any order, with any line breaks.
Bytes File(std::u16string_view sources,
           const std::vector<std::pair<std::u16string_view, std::u16string_view>>& languages) {
    Bytes bytes;
    PutCounted(bytes, sources);
    PutCount(bytes, static_cast<std::int32_t>(languages.size()));
    for (const auto& [code, block] : languages) {
        PutCounted(bytes, code);
        PutCounted(bytes, block);
    }
    return bytes;
}

TranslationTable SampleTable() {
    TranslationTable table;
    table.Original.Assign({u"Config", u"Exit", u"    Please connect", u"Backward(Mouse) "});
    EXPECT_TRUE(table.AddLang(u"CH"));
    EXPECT_TRUE(table.GetLangList(u"CH")->SetTranslation(u"Config", u"打开配置"));
    EXPECT_TRUE(table.GetLangList(u"CH")->SetTranslation(u"Exit", u"退出软件"));
    EXPECT_TRUE(table.AddLang(u"US"));
    EXPECT_TRUE(table.GetLangList(u"US")->SetTranslation(u"Config", u"Config"));
    table.GetLangList(u"US")->Add(u"a line without equals");
    table.Resources.push_back({u"ch", {}});  // a second "CH" is kept as it is
    return table;
}

TEST(TableFormatTest, WritesTheDocumentedLayout) {
    TranslationTable table;
    table.Original.Assign({u"b", u"a"});
    EXPECT_TRUE(table.AddLang(u"CH"));
    EXPECT_TRUE(table.GetLangList(u"CH")->SetTranslation(u"a", u"甲"));
    const Bytes expected = File(u"a\r\nb\r\n", {{u"CH", u"a=甲\r\n"}});
    EXPECT_EQ(WriteTable(table), expected);
}

TEST(TableFormatTest, RoundTripKeepsLanguagesAndLines) {
    const TranslationTable table = SampleTable();
    const auto bytes = WriteTable(table);
    ASSERT_TRUE(bytes);
    TranslationTable read;
    ASSERT_EQ(ReadTable(*bytes, read), TableReadStatus::kOk);
    EXPECT_EQ(read, table);
}

TEST(TableFormatTest, ReadingSortsSplitsAndDropsDuplicates) {
    const Bytes bytes = File(u"z\rb\r\nb\na\u2028", {{u"CH", u"y=2\r\nx=1\r\ny=2\r\n"}});
    TranslationTable table;
    ASSERT_EQ(ReadTable(bytes, table), TableReadStatus::kOk);
    EXPECT_EQ(table.Original.Lines(), (Texts{u"a", u"b", u"z"}));
    EXPECT_EQ(table.Resources[0].lines.Lines(), (Texts{u"x=1", u"y=2"}));
}

TEST(TableFormatTest, ReadingReplacesSourcesAndAppendsLanguages) {
    TranslationTable table;
    table.Original.Assign({u"old source"});
    EXPECT_TRUE(table.AddLang(u"CH"));
    EXPECT_TRUE(table.AddLang(u"US"));
    const Bytes file = File(u"new\r\n", {{u"ch", u"new=新\r\n"}, {u"DE", u""}});
    ASSERT_EQ(ReadTable(file, table), TableReadStatus::kOk);
    EXPECT_EQ(table.Original.Lines(), (Texts{u"new"}));
    ASSERT_EQ(table.Resources.size(), 4u);
    EXPECT_EQ(table.Resources[2].code, u"ch");
    // The earlier "CH" is found first; the file's "ch" stays behind it.
    EXPECT_EQ(table.GetLangList(u"CH"), &table.Resources[0].lines);
    EXPECT_TRUE(table.Resources[3].lines.Empty());
}

TEST(TableFormatTest, TableWithoutLanguagesReadsBackEmpty) {
    TranslationTable table;
    table.Original.Assign({u"only a source"});
    const auto bytes = WriteTable(table);
    ASSERT_TRUE(bytes);
    TranslationTable read;
    ASSERT_EQ(ReadTable(*bytes, read), TableReadStatus::kOk);
    EXPECT_TRUE(read.Resources.empty());
    EXPECT_EQ(read.Original.Lines(), (Texts{u"only a source"}));
}

TEST(TableFormatTest, RefusesToWriteTextsThatWouldReadBackDifferently) {
    TranslationTable table;
    table.Original.Add(u"two\nlines");
    EXPECT_FALSE(WriteTable(table));
    table.Original.Clear();
    EXPECT_TRUE(table.AddLang(u"CH"));
    table.Resources[0].lines.Add(u"a=b\u2028c");
    EXPECT_FALSE(WriteTable(table));
}

// Damaged files: each gives its failure and leaves the table exactly as it was.
struct DamagedCase {
    const char* what;
    Bytes bytes;
    TableReadStatus status;
};

std::vector<DamagedCase> DamagedFiles() {
    const Bytes good = File(u"a\r\n", {{u"CH", u"a=1\r\n"}});
    auto with = [](Bytes bytes, std::size_t at, std::int32_t count) {
        Bytes count_bytes;
        PutCount(count_bytes, count);
        std::copy(count_bytes.begin(), count_bytes.end(), bytes.begin() + at);
        return bytes;
    };
    Bytes odd = good;
    odd.push_back(0x41);
    Bytes two_languages = good;
    PutCounted(two_languages, u"US");
    PutCounted(two_languages, u"");
    Bytes huge_language_count;
    PutCounted(huge_language_count, u"");
    PutCount(huge_language_count, 0x7FFFFFFF);
    return {
        {"empty file", {}, TableReadStatus::kTruncated},
        {"negative source count", with(good, 0, -1), TableReadStatus::kBadCount},
        {"source count beyond the file", with(good, 0, 1000), TableReadStatus::kBadCount},
        {"source count of the largest value", with(good, 0, 0x7FFFFFFF),
         TableReadStatus::kBadCount},
        {"negative language count", with(good, 10, -5), TableReadStatus::kBadCount},
        {"language count beyond the file", huge_language_count, TableReadStatus::kBadCount},
        {"language count one too many", with(good, 10, 2), TableReadStatus::kTruncated},
        {"language count one too few", with(good, 10, 0), TableReadStatus::kTrailingBytes},
        {"negative code count", with(good, 14, -2), TableReadStatus::kBadCount},
        {"code count beyond the file", with(good, 14, 40), TableReadStatus::kBadCount},
        {"negative block count", with(good, 22, INT32_MIN), TableReadStatus::kBadCount},
        {"block count one unit too long", with(good, 22, 6), TableReadStatus::kBadCount},
        {"odd byte after the last language", odd, TableReadStatus::kTrailingBytes},
        {"more languages than the bytes left could hold", with(two_languages, 10, 5),
         TableReadStatus::kBadCount},
    };
}

TEST(TableFormatTest, DamagedFilesFailCleanly) {
    for (const DamagedCase& c : DamagedFiles()) {
        SCOPED_TRACE(c.what);
        TranslationTable table = SampleTable();
        const TranslationTable before = table;
        EXPECT_EQ(ReadTable(c.bytes, table), c.status);
        EXPECT_EQ(table, before);
    }
}

TEST(TableFormatTest, EveryTruncationOfAGoodFileFails) {
    const auto bytes = WriteTable(SampleTable());
    ASSERT_TRUE(bytes);
    for (std::size_t size = 0; size < bytes->size(); ++size) {
        SCOPED_TRACE(size);
        TranslationTable table;
        EXPECT_TRUE(table.AddLang(u"XX"));
        const TranslationTable before = table;
        EXPECT_NE(ReadTable(std::span(bytes->data(), size), table), TableReadStatus::kOk);
        EXPECT_EQ(table, before);
    }
}

TEST(TableFormatTest, LineBreaksAndNulInCodesAreKept) {
    // A code is a counted string, never split.
    const Bytes file = File(u"", {{std::u16string_view(u"A\r\0B", 4), u"x=y"}});
    TranslationTable table;
    ASSERT_EQ(ReadTable(file, table), TableReadStatus::kOk);
    EXPECT_EQ(table.Resources[0].code, std::u16string(u"A\r\0B", 4));
    EXPECT_EQ(table.Resources[0].lines.Translate(u"x"), u"y");
}

}  // namespace
}  // namespace korv
