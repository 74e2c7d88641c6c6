#include "app/settings_file.h"

#include <algorithm>
#include <limits>

#include "base/ascii_text.h"
#include "base/decimal_text.h"
#include "ports/debug_output.h"
#include "ports/file_system.h"
#include "ports/locale.h"

namespace korv {
namespace {

constexpr std::u16string_view kOptions = u"options";
constexpr std::u16string_view kOtherConfig = u"OtherConfig";
constexpr std::u16string_view kHelpFiles = u"HelpFiles";
constexpr std::u16string_view kIncludeList = u"IncludeHIDDeviceList";

// The registry folder always gets this prefix, the default included: without the key the
// folder is "software\software\KORVANTH417GM", as the configuration program expects.
constexpr std::u16string_view kRegistryFolderPrefix = u"software\\";

std::optional<std::int32_t> ParseHex(std::u16string_view digits) {
    if (digits.empty() || digits.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char16_t c : digits) {
        const int d = HexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> ParseDecimal(std::u16string_view digits, bool negative) {
    if (digits.empty())
        return std::nullopt;
    const std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + negative;
    std::int64_t value = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::u16string IncludeListKey(int number) {
    return u"id" + DecimalText(number);
}

std::u16string_view TrimBlanks(std::u16string_view text) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::vector<std::u16string_view> SplitFields(std::u16string_view value) {
    std::vector<std::u16string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t comma = value.find(u',', start);
        fields.push_back(TrimBlanks(value.substr(start, comma - start)));
        if (comma == std::u16string_view::npos)
            return fields;
        start = comma + 1;
    }
}

std::optional<std::uint16_t> ParseField16(std::u16string_view text) {
    const std::optional<std::int32_t> number = ParseSettingsInteger(text);
    if (!number || *number < 0 || *number > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(*number);
}

bool IsPipeName(std::u16string_view name) {
    constexpr std::size_t kLongestPipeName = 200;
    return !name.empty() && name.size() <= kLongestPipeName &&
           name.find_first_of(u"\\/") == std::u16string_view::npos;
}

}  // namespace

std::optional<std::int32_t> ParseSettingsInteger(std::u16string_view text) {
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        return ParseHex(text.substr(2));
    }
    const bool negative = !text.empty() && text.front() == u'-';
    if (!text.empty() && (text.front() == u'-' || text.front() == u'+'))
        text.remove_prefix(1);
    return ParseDecimal(text, negative);
}

std::u16string SettingsFile::InstalledPath(const FileSystem& files) {
    return files.PathInFolder(files.DataFolder(), kSettingsFileName);
}

SettingsFile SettingsFile::Load(const FileSystem& files, const Locale& locale) {
    return Read(files, locale, InstalledPath(files)).settings;
}

SettingsFile SettingsFile::Load(const FileSystem& files, const Locale& locale,
                                const DebugOutput& debug) {
    return LoadFile(InstalledPath(files), files, locale, debug);
}

SettingsFile SettingsFile::LoadFile(std::u16string_view path, const FileSystem& files,
                                    const Locale& locale, const DebugOutput& debug) {
    Outcome outcome = Read(files, locale, std::u16string(path));
    if (!outcome.problem.empty())
        debug.Trace(outcome.problem);
    return std::move(outcome.settings);
}

SettingsFile::Outcome SettingsFile::Read(const FileSystem& files, const Locale& locale,
                                         const std::u16string& path) {
    const FileRead read = files.ReadWholeFile(path, kMaxSettingsFileSize);
    const std::u16string instead = u"; every setting takes its default";
    switch (read.status) {
        case FileRead::Status::Read:
            return {SettingsFile(IniFile::FromBytes(read.bytes, locale)), {}};
        case FileRead::Status::Missing:
            return {SettingsFile(IniFile{}), {}};
        case FileRead::Status::TooLarge:
            return {SettingsFile(IniFile{}),
                    u"Settings file " + path + u" is " +
                        DecimalText(static_cast<std::int64_t>(read.size)) +
                        u" bytes, above the limit of " +
                        DecimalText(static_cast<std::int64_t>(kMaxSettingsFileSize)) + instead};
        case FileRead::Status::Unreadable:
            break;
    }
    return {SettingsFile(IniFile{}), u"Settings file " + path + u" cannot be read" + instead};
}

TOptionsFromConfigFile SettingsFile::ReadOptions() const {
    TOptionsFromConfigFile options;
    options.ProfileRegFolder =
        std::u16string(kRegistryFolderPrefix) +
        ini_.GetString(kOptions, u"ProfileRegFolder", u"software\\KORVANTH417GM");
    options.ProfileFolder = ini_.GetString(kOptions, u"profileFolder", u"Profile");
    options.ProfileNamePrefix = ini_.GetString(kOptions, u"profilePrefix", u"Profile");
    options.ProfileMacroFolder = ini_.GetString(kOptions, u"profileMacroFolder", u"MacroDB");
    return options;
}

bool SettingsFile::WritesLogFile() const {
    return ParseSettingsInteger(ini_.GetString(kOtherConfig, u"WriteLogFile", u"1")).value_or(1) !=
           0;
}

TOtherConfig SettingsFile::ReadOtherConfig() const {
    TOtherConfig other;
    other.Nologo = ParseSettingsInteger(ini_.GetString(kOtherConfig, u"NoLogo", u"0")).value_or(0);
    other.OfficialWebsite = ini_.GetString(kOtherConfig, u"OfficialWebsite", u"http://");
    other.ShowMicrophoneState =
        ParseSettingsInteger(ini_.GetString(kOtherConfig, u"ShowMicrophoneState", u"1"))
            .value_or(1);
    // A key written twice reads as its first value, so it gives one line.
    std::vector<std::u16string> seen;
    for (const std::u16string& name : ini_.KeyNames(kHelpFiles)) {
        if (std::ranges::any_of(seen,
                                [&](const auto& s) { return EqualsIgnoringAsciiCase(s, name); })) {
            continue;
        }
        seen.push_back(name);
        const std::u16string value = ini_.GetString(kHelpFiles, name, u"");
        if (!value.empty())
            other.HelpFile.push_back(name + u"=" + value);
    }
    return other;
}

std::optional<SimulatedHidInterface> ParseSimulatedInterface(std::u16string_view value) {
    const std::vector<std::u16string_view> fields = SplitFields(value);
    if (fields.size() != 7 || !IsPipeName(fields[0]) || fields[1].empty())
        return std::nullopt;
    std::uint16_t numbers[5];
    for (std::size_t i = 0; i < 5; ++i) {
        const std::optional<std::uint16_t> number = ParseField16(fields[2 + i]);
        if (!number)
            return std::nullopt;
        numbers[i] = *number;
    }
    if (numbers[2] == 0)
        return std::nullopt;  // without input reports there is nothing to read
    return SimulatedHidInterface{std::u16string(fields[0]),
                                 std::u16string(fields[1]),
                                 {numbers[1], numbers[0], numbers[2], numbers[3], numbers[4]}};
}

std::vector<SimulatedHidInterface> SettingsFile::ReadSimulatedInterfaces(
    const DebugOutput& debug) const {
    SimulatedInterfaceList declared = ReadSimulatedInterfaces();
    for (const std::u16string& entry : declared.rejected) {
        debug.Trace(u"config.ini: " + entry +
                    u" is not PIPE, HARDWARE-ID, USAGE-PAGE, USAGE, INPUT-LENGTH, "
                    u"OUTPUT-LENGTH, FEATURE-LENGTH; it is skipped");
    }
    return std::move(declared.interfaces);
}

SimulatedInterfaceList SettingsFile::ReadSimulatedInterfaces() const {
    SimulatedInterfaceList list;
    for (int number = 1; number <= kMaxSimulatedInterfaceKeys; ++number) {
        const std::u16string key = u"sim" + DecimalText(number);
        const std::optional<std::u16string_view> value =
            ini_.RawValue(kSimulatedInterfaceSection, key);
        if (!value)
            break;
        const std::u16string text = ini_.GetString(kSimulatedInterfaceSection, key, u"");
        if (auto declared = ParseSimulatedInterface(text))
            list.interfaces.push_back(std::move(*declared));
        else
            list.rejected.push_back(key + u"=" + text);
    }
    return list;
}

std::vector<std::u16string> SettingsFile::ReadIncludeList() const {
    std::vector<std::u16string> ids;
    for (int number = 1; number <= kMaxIncludeListKeys; ++number) {
        std::u16string id = ini_.GetString(kIncludeList, IncludeListKey(number), u"");
        if (id.empty())
            break;
        ids.push_back(std::move(id));
    }
    return ids;
}

std::unique_ptr<TDM> LoadDataModule(const DataModulePorts& ports, const SettingsFile& settings) {
    return CreateDataModule(ports, {settings.ReadOptions(), settings.ReadOtherConfig()});
}

std::unique_ptr<TDM> LoadDataModule(const DataModulePorts& ports) {
    return LoadDataModule(ports, SettingsFile::Load(ports.files, ports.locale, ports.debug));
}

}  // namespace korv
