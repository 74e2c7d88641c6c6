// libFuzzer target for the translation table reader: any bytes must give a clean result, and
// a table that reads must write and read back the same.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "lang/table_format.h"
#include "lang/translation_table.h"

namespace {

void Check(bool condition, int line) {
    if (condition)
        return;
    std::fprintf(stderr, "check failed at line %d\n", line);
    std::abort();
}

#define CHECK(condition) Check((condition), __LINE__)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    korv::TranslationTable table;
    table.Resources.push_back({u"XX", {}});  // reading appends behind what is there
    const korv::TranslationTable before = table;
    if (korv::ReadTable(bytes, table) != korv::TableReadStatus::kOk) {
        CHECK(table == before);  // all or nothing
        return 0;
    }
    CHECK(table.Resources.size() >= 1 && table.Resources.front() == before.Resources.front());
    table.Resources.erase(table.Resources.begin());

    // Lookups over whatever was read.
    for (const korv::Language& language : table.Resources) {
        CHECK(table.GetLangList(language.code) != nullptr);
        for (const std::u16string& line : language.lines) {
            const std::size_t equals = line.find(u'=');
            if (equals == std::u16string::npos)
                continue;
            // The translation of a line's name comes from a line of the list with that name.
            const std::u16string name = line.substr(0, equals);
            CHECK(language.lines.Contains(name + u"=" + language.lines.Translate(name)));
        }
    }

    const auto written = korv::WriteTable(table);
    CHECK(written.has_value());
    korv::TranslationTable again;
    CHECK(korv::ReadTable(*written, again) == korv::TableReadStatus::kOk);
    CHECK(again == table);
    return 0;
}
