#include "lang/table_format.h"

#include <algorithm>
#include <limits>
#include <string>

namespace korv {
namespace {

constexpr std::u16string_view kLineEnd = u"\r\n";

// Takes the fields of the layout off the front of the data, checking each against what is left.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    TableReadStatus status() const { return status_; }
    bool ok() const { return status_ == TableReadStatus::kOk; }
    std::size_t left() const { return bytes_.size(); }

    // A count that must be 0 or more and, as a number of items of `item_size` bytes, fit in
    // the bytes left.
    std::size_t Count(std::size_t item_size) {
        if (!ok())
            return 0;
        if (bytes_.size() < 4) {
            status_ = TableReadStatus::kTruncated;
            return 0;
        }
        const std::uint32_t raw = static_cast<std::uint32_t>(bytes_[0]) |
                                  static_cast<std::uint32_t>(bytes_[1]) << 8 |
                                  static_cast<std::uint32_t>(bytes_[2]) << 16 |
                                  static_cast<std::uint32_t>(bytes_[3]) << 24;
        bytes_ = bytes_.subspan(4);
        const auto count = static_cast<std::int32_t>(raw);
        if (count < 0 || static_cast<std::size_t>(count) > bytes_.size() / item_size) {
            status_ = TableReadStatus::kBadCount;
            return 0;
        }
        return static_cast<std::size_t>(count);
    }

    std::u16string CountedString() {
        const std::size_t units = Count(2);
        if (!ok())
            return {};
        std::u16string text(units, u'\0');
        for (std::size_t i = 0; i < units; ++i) {
            text[i] = static_cast<char16_t>(bytes_[2 * i] | bytes_[2 * i + 1] << 8);
        }
        bytes_ = bytes_.subspan(2 * units);
        return text;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    TableReadStatus status_ = TableReadStatus::kOk;
};

// The distinct lines of a block. Duplicates are dropped before any line is copied, so a block
// of many equal lines costs no more than one.
std::vector<std::u16string> DistinctLines(std::u16string_view block) {
    std::vector<std::u16string_view> views = SplitLines(block);
    std::sort(views.begin(), views.end());
    views.erase(std::unique(views.begin(), views.end()), views.end());
    return {views.begin(), views.end()};
}

class Writer {
  public:
    bool ok() const { return ok_; }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

    void Count(std::size_t count) {
        if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            ok_ = false;
            return;
        }
        const auto value = static_cast<std::uint32_t>(count);
        for (int shift = 0; shift < 32; shift += 8)
            bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
    }

    void Units(std::u16string_view text) {
        for (char16_t c : text) {
            bytes_.push_back(static_cast<std::uint8_t>(c & 0xFF));
            bytes_.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    }

    void CountedString(std::u16string_view text) {
        Count(text.size());
        Units(text);
    }

    // Every text followed by CR LF, as one counted string. A text that would not read back as
    // one line fails the write.
    void Block(const SortedStringList& texts) {
        std::u16string block;
        for (const std::u16string& text : texts) {
            if (std::any_of(text.begin(), text.end(),
                            [](char16_t c) { return c == u'\0' || IsLineBreak(c); })) {
                ok_ = false;
            }
            block += text;
            block += kLineEnd;
        }
        CountedString(block);
    }

  private:
    std::vector<std::uint8_t> bytes_;
    bool ok_ = true;
};

}  // namespace

TableReadStatus ReadTable(std::span<const std::uint8_t> bytes, TranslationTable& table) {
    Reader reader(bytes);
    const std::u16string sources = reader.CountedString();
    // Each language takes at least its two counts.
    const std::size_t language_count = reader.Count(8);
    std::vector<Language> languages;
    for (std::size_t i = 0; i < language_count && reader.ok(); ++i) {
        Language language;
        language.code = reader.CountedString();
        const std::u16string block = reader.CountedString();
        language.lines.Assign(DistinctLines(block));
        languages.push_back(std::move(language));
    }
    if (!reader.ok())
        return reader.status();
    if (reader.left() != 0)
        return TableReadStatus::kTrailingBytes;

    table.Original.Assign(DistinctLines(sources));
    for (Language& language : languages)
        table.Resources.push_back(std::move(language));
    return TableReadStatus::kOk;
}

std::optional<std::vector<std::uint8_t>> WriteTable(const TranslationTable& table) {
    Writer writer;
    writer.Block(table.Original);
    writer.Count(table.Resources.size());
    for (const Language& language : table.Resources) {
        writer.CountedString(language.code);
        writer.Block(language.lines);
    }
    if (!writer.ok())
        return std::nullopt;
    return writer.Take();
}

std::u16string_view Describe(TableReadStatus status) {
    switch (status) {
        case TableReadStatus::kOk:
            return u"ok";
        case TableReadStatus::kTruncated:
            return u"truncated";
        case TableReadStatus::kBadCount:
            return u"a count is negative or larger than the data";
        case TableReadStatus::kTrailingBytes:
            return u"data after the last language";
    }
    return u"unknown";
}

}  // namespace korv
