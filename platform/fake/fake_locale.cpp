#include "platform/fake/fake_locale.h"

namespace korv::fake {
namespace {

// Code page 1252 differs from Latin-1 only in 0x80 to 0x9F; its five unassigned bytes map to
// the C1 controls of the same value, as Windows maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::vector<FakeLocaleRecord> StandardLocales() {
    return {
        {0x0409, u"0409", u"English (United States)", u"USA", u"ENU"},
        {0x0804, u"0804", u"Chinese (Simplified, PRC)", u"CHN", u"CHS"},
        {0x0404, u"0404", u"Chinese (Traditional, Taiwan)", u"TWN", u"CHT"},
        {0x0407, u"0407", u"German (Germany)", u"DEU", u"DEU"},
    };
}

std::vector<std::uint32_t> FakeLocale::SupportedLocaleIds() const {
    std::vector<std::uint32_t> ids;
    for (const FakeLocaleRecord& record : locales)
        ids.push_back(record.id);
    return ids;
}

std::optional<std::u16string> FakeLocale::LocaleInfo(std::uint32_t locale_id,
                                                     LocaleItem item) const {
    for (const FakeLocaleRecord& record : locales) {
        if (record.id != locale_id)
            continue;
        switch (item) {
            case LocaleItem::kLanguageId:
                return record.language_id;
            case LocaleItem::kLanguageName:
                return record.language_name;
            case LocaleItem::kAbbreviatedCountryName:
                return record.country_abbreviation;
            case LocaleItem::kAbbreviatedLanguageName:
                return record.language_abbreviation;
        }
    }
    return std::nullopt;
}

std::u16string FakeLocale::DecodeSystemText(std::string_view bytes) const {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
    }
    return out;
}

}  // namespace korv::fake
