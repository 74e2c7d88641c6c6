#include "lang/translation_table.h"

#include <algorithm>
#include <optional>

namespace korv {
namespace {

constexpr char16_t kCR = u'\r';
constexpr char16_t kLF = u'\n';

// The name of a line (its text before the first '='), or nothing for a line without '='.
std::optional<std::u16string_view> LineName(std::u16string_view line) {
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos)
        return std::nullopt;
    return line.substr(0, equals);
}

std::optional<std::u16string_view> LineValue(std::u16string_view line) {
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos)
        return std::nullopt;
    return line.substr(equals + 1);
}

bool HasBreakOrNul(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char16_t c) { return c == u'\0' || IsLineBreak(c); });
}

}  // namespace

bool SortedStringList::Add(std::u16string text) {
    const auto at = std::lower_bound(lines_.begin(), lines_.end(), text);
    if (at != lines_.end() && *at == text)
        return false;
    lines_.insert(at, std::move(text));
    return true;
}

void SortedStringList::Assign(std::vector<std::u16string> texts) {
    std::sort(texts.begin(), texts.end());
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    lines_ = std::move(texts);
}

bool SortedStringList::Remove(std::u16string_view text) {
    const auto at = std::lower_bound(lines_.begin(), lines_.end(), text);
    if (at == lines_.end() || *at != text)
        return false;
    lines_.erase(at);
    return true;
}

bool SortedStringList::Contains(std::u16string_view text) const {
    return std::binary_search(lines_.begin(), lines_.end(), text);
}

std::u16string TranslationList::Translate(std::u16string_view source) const {
    for (const std::u16string& line : Lines()) {
        if (LineName(line) == source)
            return line.substr(source.size() + 1);
    }
    return {};
}

std::u16string TranslationList::SourceOf(std::u16string_view translation) const {
    for (const std::u16string& line : Lines()) {
        if (LineValue(line) == translation)
            return std::u16string(*LineName(line));
    }
    return {};
}

bool TranslationList::SetTranslation(std::u16string_view source, std::u16string_view translation) {
    if (source.find(u'=') != std::u16string_view::npos || HasBreakOrNul(source) ||
        HasBreakOrNul(translation)) {
        return false;
    }
    for (const std::u16string& line : Lines()) {
        if (LineName(line) == source) {
            Remove(std::u16string(line));
            break;
        }
    }
    if (!translation.empty()) {
        std::u16string line(source);
        line += u'=';
        line += translation;
        Add(std::move(line));
    }
    return true;
}

int TranslationTable::IndexOfLanguage(std::u16string_view code) const {
    for (std::size_t i = 0; i < Resources.size(); ++i) {
        if (EqualsIgnoringAsciiCase(Resources[i].code, code))
            return static_cast<int>(i);
    }
    return -1;
}

TranslationList* TranslationTable::GetLangList(std::u16string_view code) {
    const int index = IndexOfLanguage(code);
    return index < 0 ? nullptr : &Resources[static_cast<std::size_t>(index)].lines;
}

const TranslationList* TranslationTable::GetLangList(std::u16string_view code) const {
    const int index = IndexOfLanguage(code);
    return index < 0 ? nullptr : &Resources[static_cast<std::size_t>(index)].lines;
}

bool TranslationTable::AddLang(std::u16string_view code) {
    if (IndexOfLanguage(code) >= 0)
        return false;
    Resources.push_back(Language{std::u16string(code), {}});
    return true;
}

bool IsLineBreak(char16_t c) {
    return c == kCR || c == kLF || c == u'\v' || c == u'\f' || c == u'\u2028' || c == u'\u2029';
}

std::vector<std::u16string_view> SplitLines(std::u16string_view block) {
    block = block.substr(0, block.find(u'\0'));
    std::vector<std::u16string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (!IsLineBreak(block[i]))
            continue;
        lines.push_back(block.substr(start, i - start));
        if (block[i] == kCR && i + 1 < block.size() && block[i + 1] == kLF)
            ++i;
        start = i + 1;
    }
    if (start < block.size())
        lines.push_back(block.substr(start));
    return lines;
}

}  // namespace korv
