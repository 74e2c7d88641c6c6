#include "programs/cfgstandin/mic_state_setting.h"

#include <algorithm>
#include <vector>

#include "app/settings_file.h"
#include "ports/file_system.h"

namespace korv {
namespace {

constexpr std::string_view kSection = "OtherConfig";
constexpr std::string_view kKey = "ShowMicrophoneState";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The section's name when the line is a section header, else nothing.
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = Trimmed(line);
    if (line.size() < 2 || line.front() != '[')
        return std::nullopt;
    const std::size_t end = line.find(']');
    if (end == std::string_view::npos)
        return std::nullopt;
    return Trimmed(line.substr(1, end - 1));
}

bool IsKeyLine(std::string_view line, std::string_view key) {
    const std::size_t equals = line.find('=');
    return equals != std::string_view::npos && SameName(Trimmed(line.substr(0, equals)), key);
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

}  // namespace

std::optional<std::string> WithSettingsValue(std::string_view text, std::string_view section,
                                             std::string_view key, std::string_view value) {
    if (text.size() >= 2 &&
        ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF')))
        return std::nullopt;
    // A UTF-8 byte-order mark is not part of the first line (the monitor's reader skips it
    // too); it stays at the front of the file.
    const std::string_view mark =
        text.starts_with(kUtf8ByteOrderMark) ? kUtf8ByteOrderMark : std::string_view();
    text.remove_prefix(mark.size());
    const bool crlf = text.empty() || text.find("\r\n") != std::string_view::npos;
    const std::string entry = std::string(key) + "=" + std::string(value) + (crlf ? "\r" : "");
    const std::vector<std::string_view> views = Lines(text);
    std::vector<std::string> lines(views.begin(), views.end());
    std::optional<std::size_t> header;  // of the first section of the name: the one read
    bool done = false;
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        if (const auto name = SectionOf(lines[i])) {
            if (header)
                break;
            if (SameName(*name, section))
                header = i;
        } else if (header && IsKeyLine(lines[i], key)) {
            lines[i] = entry;
            done = true;
        }
    }
    if (!done && header)
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*header) + 1, entry);
    if (!done && !header) {
        lines.push_back("[" + std::string(section) + "]" + (crlf ? "\r" : ""));
        lines.push_back(entry);
    }
    std::string result(mark);
    for (const std::string& line : lines)
        result += line + "\n";
    return result;
}

std::optional<bool> ReadMicrophoneStateShown(std::u16string_view path, const FileSystem& files,
                                             const Locale& locale) {
    const FileRead read = files.ReadWholeFile(path, kMaxSettingsFileSize);
    if (read.status == FileRead::Status::Missing)
        return true;  // the monitor's default
    if (read.status != FileRead::Status::Read)
        return std::nullopt;
    const IniFile ini = IniFile::FromBytes(read.bytes, locale);
    return ParseSettingsInteger(ini.GetString(u"OtherConfig", u"ShowMicrophoneState", u"1"))
               .value_or(1) != 0;
}

std::u16string WriteMicrophoneStateShown(std::u16string_view path, const FileSystem& files,
                                         bool shown) {
    const FileRead read = files.ReadWholeFile(path, kMaxSettingsFileSize);
    if (read.status != FileRead::Status::Read && read.status != FileRead::Status::Missing)
        return u"the settings file cannot be read; ShowMicrophoneState is unchanged";
    const std::string text(read.bytes.begin(), read.bytes.end());
    const std::optional<std::string> edited =
        WithSettingsValue(text, kSection, kKey, shown ? "1" : "0");
    if (!edited)
        return u"the settings file is in UTF-16; set ShowMicrophoneState in it by hand";
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(edited->data()), edited->size());
    if (!files.WriteWholeFile(path, bytes))
        return u"the settings file cannot be written; ShowMicrophoneState is unchanged";
    // The monitor reads the settings file at its start only.
    return shown ? u"ShowMicrophoneState=1: the tray icon will show when the microphone is "
                   u"muted, from the monitor's next start"
                 : u"ShowMicrophoneState=0: the tray icon will stay plain, from the monitor's "
                   u"next start";
}

}  // namespace korv
