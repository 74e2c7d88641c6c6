#include "base/ini_file.h"

#include <algorithm>
#include <utility>

#include "base/ascii_text.h"
#include "ports/locale.h"

namespace korv {
namespace {

// Blanks as the profile API sees them: ASCII white space, plus ^Z (an old DOS end-of-file
// marker that some files still carry). Other Unicode spaces are ordinary characters.
bool IsBlank(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A;
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Names and values end at an embedded NUL, as C strings do on the platform.
std::u16string CutAtNul(std::u16string_view s) {
    return std::u16string(s.substr(0, s.find(u'\0')));
}

// Removes one pair of enclosing quotes (single or double) and cuts the value to fit a
// 2048-unit buffer, in the same order as the profile API: when the quoted value does not fit,
// the closing quote is not removed, and a value that fills the buffer exactly loses its last
// character instead.
std::u16string CopyEntry(std::u16string_view value) {
    bool quoted = false;
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        quoted = true;
        value.remove_prefix(1);
    }
    std::u16string out(value.substr(0, kIniMaxValueLength));
    if (quoted && value.size() <= kIniMaxValueLength + 1 && !out.empty())
        out.pop_back();
    return out;
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

// Decodes one UTF-8 sequence at the start of b; nothing for a malformed, overlong or
// truncated sequence.
std::optional<std::pair<char32_t, std::size_t>> DecodeUtf8Sequence(
    std::span<const std::uint8_t> b) {
    const std::uint8_t lead = b[0];
    if (lead < 0x80)
        return std::pair{char32_t{lead}, std::size_t{1}};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || b.size() < length)
        return std::nullopt;
    char32_t cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((b[k] & 0xC0) != 0x80)
            return std::nullopt;
        cp = (cp << 6) | (b[k] & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;
    }
    return std::pair{cp, length};
}

// Malformed bytes become U+FFFD, one per byte.
std::u16string DecodeUtf8(std::span<const std::uint8_t> b) {
    std::u16string out;
    out.reserve(b.size());
    while (!b.empty()) {
        const auto decoded = DecodeUtf8Sequence(b);
        AppendCodePoint(out, decoded ? decoded->first : char32_t{0xFFFD});
        b = b.subspan(decoded ? decoded->second : 1);
    }
    return out;
}

std::u16string DecodeUtf16(std::span<const std::uint8_t> b, bool big_endian) {
    std::u16string out(b.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i) {
        const unsigned lo = b[2 * i + (big_endian ? 1 : 0)];
        const unsigned hi = b[2 * i + (big_endian ? 0 : 1)];
        out[i] = static_cast<char16_t>(lo | (hi << 8));
    }
    return out;
}

}  // namespace

IniFile IniFile::Parse(std::u16string_view text) {
    IniFile file;
    // Keys before the first section belong to a section without a name, which no lookup finds.
    file.sections_.push_back({});
    while (!text.empty()) {
        const std::size_t end = text.find_first_of(u"\r\n");
        const std::u16string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::u16string_view::npos ? text.size() : end + 1);
        if (line.empty())
            continue;

        if (line.front() == u'[') {
            const std::size_t close = line.rfind(u']');
            if (close != std::u16string_view::npos) {
                file.sections_.push_back({CutAtNul(Trim(line.substr(1, close - 1))), {}});
                continue;
            }
            // Without a closing bracket the line is an ordinary key line.
        }
        Key key;
        const std::size_t eq = line.find(u'=');
        if (eq == std::u16string_view::npos) {
            key.name = CutAtNul(line);
        } else {
            key.name = CutAtNul(Trim(line.substr(0, eq)));
            key.value = CutAtNul(Trim(line.substr(eq + 1)));
        }
        // A key without a name is never found nor listed.
        if (!key.name.empty())
            file.sections_.back().keys.push_back(std::move(key));
    }
    return file;
}

IniFile IniFile::FromBytes(std::span<const std::uint8_t> bytes, const Locale& locale) {
    auto starts_with = [&](std::initializer_list<std::uint8_t> mark) {
        return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
    };
    if (starts_with({0xEF, 0xBB, 0xBF}))
        return Parse(DecodeUtf8(bytes.subspan(3)));
    if (starts_with({0xFF, 0xFE}))
        return Parse(DecodeUtf16(bytes.subspan(2), false));
    if (starts_with({0xFE, 0xFF}))
        return Parse(DecodeUtf16(bytes.subspan(2), true));
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return Parse(locale.DecodeSystemText(text));
}

const IniFile::Section* IniFile::FindSection(std::u16string_view name) const {
    for (const Section& section : sections_) {
        if (!section.name.empty() && EqualsIgnoringAsciiCase(section.name, name))
            return &section;
    }
    return nullptr;
}

std::optional<std::u16string_view> IniFile::RawValue(std::u16string_view section,
                                                     std::u16string_view key) const {
    const Section* found = FindSection(Trim(section));
    key = Trim(key);
    if (found == nullptr || key.empty())
        return std::nullopt;
    for (const Key& k : found->keys) {
        if (EqualsIgnoringAsciiCase(k.name, key)) {
            if (!k.value)
                return std::nullopt;
            return std::u16string_view(*k.value);
        }
    }
    return std::nullopt;
}

std::u16string IniFile::GetString(std::u16string_view section, std::u16string_view key,
                                  std::u16string_view default_value) const {
    return CopyEntry(RawValue(section, key).value_or(default_value));
}

std::vector<std::u16string> IniFile::KeyNames(std::u16string_view section) const {
    std::vector<std::u16string> names;
    if (const Section* found = FindSection(section)) {
        for (const Key& k : found->keys) {
            if (k.value && k.name.front() != u';')
                names.push_back(k.name);
        }
    }
    return names;
}

}  // namespace korv
