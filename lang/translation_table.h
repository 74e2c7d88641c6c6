#pragma once
// The in-memory model of a translation table: the source texts of the user interface and, for
// each language, a list of lines "source=translation".
//
// Lists are kept sorted by UTF-16 code unit and hold no duplicate lines. Lookups scan every line
// and so do not depend on the order; the order only decides which of two lines with the same
// name comes first.
//
// Threads: plain values without locks; a table or list is used by one thread at a time (the
// language component's, the main thread in the monitor).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii_text.h"

namespace korv {

// A sorted, case-sensitive list of texts without duplicates.
class SortedStringList {
  public:
    // Adds the text unless an equal one is present; true when it was added.
    bool Add(std::u16string text);
    // Replaces the content with the texts, sorted, duplicates dropped.
    void Assign(std::vector<std::u16string> texts);
    bool Remove(std::u16string_view text);
    void Clear() { lines_.clear(); }

    bool Contains(std::u16string_view text) const;
    std::size_t Count() const { return lines_.size(); }
    bool Empty() const { return lines_.empty(); }
    const std::vector<std::u16string>& Lines() const { return lines_; }
    auto begin() const { return lines_.begin(); }
    auto end() const { return lines_.end(); }

    bool operator==(const SortedStringList&) const = default;

  private:
    std::vector<std::u16string> lines_;
};

// The lines of one language. The name of a line is its text before the first '=', the value
// its text after that '='; a line without '=' has no name and no value.
class TranslationList : public SortedStringList {
  public:
    // The value of the first line named `source`, or the empty string. Exact comparison:
    // nothing is trimmed and case matters, so a source containing '=' is never found.
    std::u16string Translate(std::u16string_view source) const;

    // The name of the first line whose value is `translation`, or the empty string.
    std::u16string SourceOf(std::u16string_view translation) const;

    // Replaces the line named `source` by "source=translation" (adds it when there is none);
    // an empty translation removes the line. Refused (false, list unchanged) when the source
    // contains '=' or either text contains a line break or NUL: such a line would be named
    // after another text or split in two when the table is read back.
    [[nodiscard]] bool SetTranslation(std::u16string_view source, std::u16string_view translation);
};

// One language of a table: its code ("CH", "US", "040a") and its lines.
struct Language {
    std::u16string code;
    TranslationList lines;

    bool operator==(const Language&) const = default;
};

// A whole table. Languages keep their insertion order; codes are compared without regard to
// ASCII case, and lookups by code find the first language with a matching code.
struct TranslationTable {
    SortedStringList Original;        // the source texts
    std::vector<Language> Resources;  // the languages

    // Position of the first language with that code, or -1.
    int IndexOfLanguage(std::u16string_view code) const;
    // The lines of the first language with that code, or null.
    TranslationList* GetLangList(std::u16string_view code);
    const TranslationList* GetLangList(std::u16string_view code) const;
    // Appends a language with no lines unless one with that code exists; true when appended.
    [[nodiscard]] bool AddLang(std::u16string_view code);

    bool operator==(const TranslationTable&) const = default;
};

// True for the code units that end a line in a text block: CR, LF, VT, FF, U+2028, U+2029.
bool IsLineBreak(char16_t c);

// Splits a text block into lines. A line ends at CR LF (taken together) or at a single CR, LF,
// VT, FF, U+2028 or U+2029; a NUL ends the block. The break after the last line starts no
// further line, so "a\r\n\r\nb\r\n" gives "a", "", "b". The views point into `block`.
std::vector<std::u16string_view> SplitLines(std::u16string_view block);

}  // namespace korv
