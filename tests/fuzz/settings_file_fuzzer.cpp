// libFuzzer target for the settings file "config.ini": any bytes read through the settings
// reader give values within their limits, and the same text stored in each Unicode encoding
// reads the same (one other encoding per input, chosen by its size). The parsers of single values
// get the whole input as well.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "base/decimal_text.h"
#include "base/ini_file.h"
#include "platform/fake/fake_locale.h"
#include "platform/fake/memory_file_system.h"
#include "tests/fuzz/fuzz_support.h"

namespace korv {
namespace {

using Lines = std::vector<std::u16string>;

void Add(Lines& lines, std::u16string_view what, std::u16string_view value) {
    lines.push_back(std::u16string(what) + u"=" + std::u16string(value));
}

void Add(Lines& lines, std::u16string_view what, std::int64_t value) {
    Add(lines, what, DecimalText(value));
}

// The text a simulated interface is declared with in the settings file.
std::u16string Declaration(const SimulatedHidInterface& sim) {
    const HidCapabilities& caps = sim.capabilities;
    std::u16string text = sim.pipe_name + u"," + sim.hardware_id;
    for (const std::uint16_t number : {caps.usage_page, caps.usage, caps.input_report_length,
                                       caps.output_report_length, caps.feature_report_length}) {
        text += u"," + DecimalText(number);
    }
    return text;
}

// A declared interface keeps to what the reader promises.
void CheckSimulatedInterface(const SimulatedHidInterface& sim) {
    FUZZ_CHECK(!sim.pipe_name.empty() && sim.pipe_name.size() <= 200);
    FUZZ_CHECK(sim.pipe_name.find_first_of(u"\\/") == std::u16string::npos);
    FUZZ_CHECK(!sim.hardware_id.empty());
    FUZZ_CHECK(sim.capabilities.input_report_length != 0);
    // Written back as the settings file declares it, it reads the same.
    FUZZ_CHECK(ParseSimulatedInterface(Declaration(sim)) == sim);
}

// Everything the monitor reads from a settings file, one line per value, checked against the
// reader's limits on the way.
Lines ReadEverything(const SettingsFile& settings) {
    Lines lines;
    const TOptionsFromConfigFile options = settings.ReadOptions();
    FUZZ_CHECK(options.ProfileRegFolder.starts_with(u"software\\"));
    for (const std::u16string* value : {&options.ProfileRegFolder, &options.ProfileFolder,
                                        &options.ProfileNamePrefix, &options.ProfileMacroFolder}) {
        FUZZ_CHECK(value->size() <= kIniMaxValueLength + 9);  // the registry prefix
        Add(lines, u"option", *value);
    }

    const TOtherConfig other = settings.ReadOtherConfig();
    FUZZ_CHECK(other.OfficialWebsite.size() <= kIniMaxValueLength);
    Add(lines, u"NoLogo", other.Nologo);
    Add(lines, u"OfficialWebsite", other.OfficialWebsite);
    Add(lines, u"ShowMicrophoneState", other.ShowMicrophoneState);
    for (const std::u16string& help : other.HelpFile) {
        FUZZ_CHECK(help.find(u'=') != std::u16string::npos);
        Add(lines, u"HelpFile", help);
    }

    const std::vector<std::u16string> ids = settings.ReadIncludeList();
    FUZZ_CHECK(ids.size() <= static_cast<std::size_t>(kMaxIncludeListKeys));
    for (const std::u16string& id : ids) {
        FUZZ_CHECK(!id.empty() && id.size() <= kIniMaxValueLength);
        Add(lines, u"id", id);
    }

    const SimulatedInterfaceList sims = settings.ReadSimulatedInterfaces();
    FUZZ_CHECK(sims.interfaces.size() + sims.rejected.size() <=
               static_cast<std::size_t>(kMaxSimulatedInterfaceKeys));
    for (const SimulatedHidInterface& sim : sims.interfaces) {
        CheckSimulatedInterface(sim);
        Add(lines, u"sim", Declaration(sim));
    }
    for (const std::u16string& rejected : sims.rejected) {
        const std::size_t equals = rejected.find(u'=');
        FUZZ_CHECK(rejected.starts_with(u"sim") && equals != std::u16string::npos);
        FUZZ_CHECK(!ParseSimulatedInterface(std::u16string_view(rejected).substr(equals + 1)));
        Add(lines, u"rejected", rejected);
    }
    return lines;
}

// The text of the input as the reader takes it when the input has no byte-order mark, or
// starts with the UTF-16LE one.
std::u16string TextOf(std::span<const std::uint8_t> bytes, const Locale& locale) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        return text;
    }
    return locale.DecodeSystemText(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<std::uint8_t> Utf16(std::u16string_view text, bool big_endian) {
    std::vector<std::uint8_t> bytes =
        big_endian ? std::vector<std::uint8_t>{0xFE, 0xFF} : std::vector<std::uint8_t>{0xFF, 0xFE};
    for (const char16_t c : text) {
        const auto low = static_cast<std::uint8_t>(c & 0xFF);
        const auto high = static_cast<std::uint8_t>(c >> 8);
        bytes.push_back(big_endian ? high : low);
        bytes.push_back(big_endian ? low : high);
    }
    return bytes;
}

// UTF-8 with its byte-order mark; nothing when the text holds a lone surrogate, which UTF-8
// cannot carry.
std::optional<std::vector<std::uint8_t>> Utf8(std::u16string_view text) {
    std::vector<std::uint8_t> bytes{0xEF, 0xBB, 0xBF};
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            if (cp > 0xDBFF || i + 1 == text.size() || text[i + 1] < 0xDC00 ||
                text[i + 1] > 0xDFFF) {
                return std::nullopt;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (cp < 0x80) {
            bytes.push_back(static_cast<std::uint8_t>(cp));
        } else if (cp < 0x800) {
            bytes.insert(bytes.end(), {static_cast<std::uint8_t>(0xC0 | (cp >> 6)),
                                       static_cast<std::uint8_t>(0x80 | (cp & 0x3F))});
        } else if (cp < 0x10000) {
            bytes.insert(bytes.end(), {static_cast<std::uint8_t>(0xE0 | (cp >> 12)),
                                       static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)),
                                       static_cast<std::uint8_t>(0x80 | (cp & 0x3F))});
        } else {
            bytes.insert(bytes.end(), {static_cast<std::uint8_t>(0xF0 | (cp >> 18)),
                                       static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F)),
                                       static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)),
                                       static_cast<std::uint8_t>(0x80 | (cp & 0x3F))});
        }
    }
    return bytes;
}

bool StartsWithOtherMark(std::span<const std::uint8_t> bytes) {
    const auto starts = [&](std::initializer_list<std::uint8_t> mark) {
        return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
    };
    return starts({0xEF, 0xBB, 0xBF}) || starts({0xFE, 0xFF});
}

// Single values: the number reader agrees with its own decimal output.
void CheckValueParsers(std::u16string_view text) {
    if (const std::optional<std::int32_t> number = ParseSettingsInteger(text))
        FUZZ_CHECK(ParseSettingsInteger(DecimalText(*number)) == number);
    if (const std::optional<SimulatedHidInterface> sim = ParseSimulatedInterface(text))
        CheckSimulatedInterface(*sim);
}

}  // namespace
}  // namespace korv

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korv;
    static const fake::FakeLocale locale;
    const std::span<const std::uint8_t> bytes(data, size);

    // The monitor's own path: the file beside the executable.
    fake::MemoryFileSystem files;
    files.Put(files.ExecutableFolder() + std::u16string(kSettingsFileName), {data, data + size});
    ReadEverything(SettingsFile::Load(files, locale));

    const Lines read = ReadEverything(SettingsFile(IniFile::FromBytes(bytes, locale)));
    if (StartsWithOtherMark(bytes))
        return 0;
    const std::u16string text = TextOf(bytes, locale);
    CheckValueParsers(text);
    // One of the other encodings per input, so that each input costs three reads only.
    std::optional<std::vector<std::uint8_t>> encoded;
    switch (size % 3) {
        case 0:
            encoded = Utf16(text, false);
            break;
        case 1:
            encoded = Utf16(text, true);
            break;
        case 2:
            encoded = Utf8(text);
            break;
    }
    if (encoded)
        FUZZ_CHECK(ReadEverything(SettingsFile(IniFile::FromBytes(*encoded, locale))) == read);
    return 0;
}
