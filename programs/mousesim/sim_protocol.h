#pragma once
// The simulated mouse's words, free of platform calls so that the program and its tests share
// them: the command line, the input reports it sends, and the config.ini entry by which the
// monitor learns of a simulated interface.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_file.h"
#include "base/ascii_text.h"

namespace korv::sim {

using Report = std::vector<std::uint8_t>;

inline constexpr std::size_t kReportLength = 8;  // identifier byte and seven data bytes
inline constexpr std::uint8_t kKeyReportId = 7;
inline constexpr std::uint8_t kEventReportId = 8;
inline constexpr std::uint8_t kProfileSwitchKind = 1;
inline constexpr int kButtonCount = 24;
inline constexpr std::size_t kMaxRawReport = 1024;
inline constexpr std::size_t kMaxSimulatedEntries = 16;
inline constexpr std::uint32_t kMouseUsagePage = 0xFFA0;
inline constexpr std::uint32_t kMouseUsage = 1;

inline constexpr std::wstring_view kDefaultPipe = L"KORVANTH417-SIM-1";
inline constexpr std::wstring_view kSimulatedSection = L"SimulatedHIDDeviceList";
inline constexpr std::wstring_view kSimulatedHardwareId = L"HID\\KORVANTH417_SIMULATED&Col01";

inline constexpr std::wstring_view kUsage =
    LR"(Usage: KORVANTH417SIM.exe serve [--pipe NAME]
       KORVANTH417SIM.exe [--pipe NAME] COMMAND

A simulated KORVANTH417 mouse. "serve" plugs it in as the message-mode named pipe
\\.\pipe\NAME (default KORVANTH417-SIM-1) and serves it until "quit" or Ctrl+C. The other
commands go to the simulator running on that pipe:
  press N            button N (0-23) down: sends key report 7 with the buttons held down
  release N          button N up: sends key report 7
  click N            press, about 30 ms, release
  profile P          device event report 8: profile switch to P (0-4; others are ignored)
  event KIND VALUE   device event report 8 of any kind and value (0-255)
  report HEX...      raw bytes of any length (1-1024), e.g. report 07 10 00 00 00 00 00 00
  unplug             closes the pipe and announces the removal
  replug             unplugs if needed, plugs in again and announces the arrival
  status             plugged in or not, clients connected, buttons held down
  quit               unplugs and ends the simulator
Numbers are decimal or 0x-hex. Profiles count from 0 and buttons from 0, as the configuration
program counts them ("profile 2" here is its profile 2). The monitor reads the pipe only when the config.ini beside it
declares it in the section [SimulatedHIDDeviceList], for example:
  sim1=KORVANTH417-SIM-1, HID\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0
Exit codes: 0 done, 1 bad arguments, 2 no simulator running, 3 the command failed.)";

// ---- Reports

inline Report KeyReport(std::uint32_t mask) {
    return {kKeyReportId,
            static_cast<std::uint8_t>(mask & 0xFF),
            static_cast<std::uint8_t>((mask >> 8) & 0xFF),
            static_cast<std::uint8_t>((mask >> 16) & 0xFF),
            0,
            0,
            0,
            0};
}

inline Report EventReport(std::uint8_t kind, std::uint8_t value) {
    return {kEventReportId, kind, value, 0, 0, 0, 0, 0};
}

// "07 10 00": two upper-case digits a byte, one blank between.
inline std::wstring Hex(const std::uint8_t* bytes, std::size_t size) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0)
            text += L' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

inline std::wstring Hex(const Report& report) {
    return Hex(report.data(), report.size());
}

// ---- Words and numbers

inline bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

inline std::wstring_view Trim(std::wstring_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

inline std::vector<std::wstring> SplitWords(std::wstring_view line) {
    std::vector<std::wstring> words;
    std::wstring word;
    for (const wchar_t c : line) {
        if (IsBlank(c) || c == L'\r' || c == L'\n') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

inline std::wstring JoinWords(const std::vector<std::wstring>& words) {
    std::wstring line;
    for (const auto& word : words)
        line += (line.empty() ? L"" : L" ") + word;
    return line;
}

inline std::optional<unsigned> HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return static_cast<unsigned>(c - L'0');
    if (c >= L'a' && c <= L'f')
        return static_cast<unsigned>(c - L'a' + 10);
    if (c >= L'A' && c <= L'F')
        return static_cast<unsigned>(c - L'A' + 10);
    return std::nullopt;
}

// Decimal or 0x-hex, no sign and no blanks, at most `max`.
inline std::optional<std::uint32_t> ParseNumber(std::wstring_view text, std::uint32_t max) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        const auto digit = HexDigit(c);
        if (!digit || *digit >= base)
            return std::nullopt;
        value = value * base + *digit;
        if (value > max)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// Bytes written as hex pairs, one or more pairs a word: "07 10 00" or "071000".
inline std::optional<Report> ParseHexBytes(const std::vector<std::wstring>& words) {
    Report bytes;
    for (const auto& word : words) {
        if (word.size() % 2 != 0)
            return std::nullopt;
        for (std::size_t i = 0; i < word.size(); i += 2) {
            const auto high = HexDigit(word[i]);
            const auto low = HexDigit(word[i + 1]);
            if (!high || !low)
                return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
        }
    }
    if (bytes.empty() || bytes.size() > kMaxRawReport)
        return std::nullopt;
    return bytes;
}

// ---- Commands

enum class Verb {
    kPress,
    kRelease,
    kClick,
    kProfile,
    kEvent,
    kReport,
    kUnplug,
    kReplug,
    kStatus,
    kQuit
};

struct Command {
    Verb verb = Verb::kStatus;
    int button = 0;          // press, release, click
    std::uint8_t kind = 0;   // profile (always the profile switch), event
    std::uint8_t value = 0;  // profile, event
    Report bytes{};          // report
};

inline bool SendsReport(Verb verb) {
    return verb == Verb::kPress || verb == Verb::kRelease || verb == Verb::kClick ||
           verb == Verb::kProfile || verb == Verb::kEvent || verb == Verb::kReport;
}

inline std::optional<Command> ParseButtonCommand(Verb verb, const std::vector<std::wstring>& args) {
    if (args.size() != 1)
        return std::nullopt;
    const auto button = ParseNumber(args[0], kButtonCount - 1);
    if (!button)
        return std::nullopt;
    return Command{.verb = verb, .button = static_cast<int>(*button)};
}

inline std::optional<Command> ParseEventCommand(const std::vector<std::wstring>& args) {
    if (args.size() != 2)
        return std::nullopt;
    const auto kind = ParseNumber(args[0], 0xFF);
    const auto value = ParseNumber(args[1], 0xFF);
    if (!kind || !value)
        return std::nullopt;
    return Command{.verb = Verb::kEvent,
                   .kind = static_cast<std::uint8_t>(*kind),
                   .value = static_cast<std::uint8_t>(*value)};
}

// A command and its arguments, as typed after the program name; nothing when they are not one.
inline std::optional<Command> ParseCommand(const std::vector<std::wstring>& words) {
    if (words.empty())
        return std::nullopt;
    const std::wstring& verb = words[0];
    const std::vector<std::wstring> args(words.begin() + 1, words.end());
    if (verb == L"press")
        return ParseButtonCommand(Verb::kPress, args);
    if (verb == L"release")
        return ParseButtonCommand(Verb::kRelease, args);
    if (verb == L"click")
        return ParseButtonCommand(Verb::kClick, args);
    if (verb == L"event")
        return ParseEventCommand(args);
    if (verb == L"profile") {
        const auto profile = args.size() == 1 ? ParseNumber(args[0], 0xFF) : std::nullopt;
        if (!profile)
            return std::nullopt;
        return Command{.verb = Verb::kProfile,
                       .kind = kProfileSwitchKind,
                       .value = static_cast<std::uint8_t>(*profile)};
    }
    if (verb == L"report") {
        auto bytes = ParseHexBytes(args);
        if (!bytes)
            return std::nullopt;
        return Command{.verb = Verb::kReport, .bytes = std::move(*bytes)};
    }
    static constexpr std::pair<std::wstring_view, Verb> kPlain[] = {{L"unplug", Verb::kUnplug},
                                                                    {L"replug", Verb::kReplug},
                                                                    {L"status", Verb::kStatus},
                                                                    {L"quit", Verb::kQuit}};
    for (const auto& [name, plain] : kPlain) {
        if (verb == name && args.empty())
            return Command{.verb = plain};
    }
    return std::nullopt;
}

// The program's own arguments: "--pipe NAME" (or the Linux program's "--name NAME") anywhere,
// then "serve", "--help" or a command.
struct Invocation {
    enum class Mode { kHelp, kServe, kCommand } mode = Mode::kHelp;
    std::wstring pipe{kDefaultPipe};
    std::vector<std::wstring> command;  // kCommand: the command's words, already checked
};

inline bool IsPipeName(std::wstring_view name) {
    return !name.empty() && name.size() <= 200 && name.find_first_of(L"\\/") == name.npos;
}

// `name_option` names the device: "--pipe" for the Windows program's pipe, "--name" for the
// Linux program's socket.
inline std::optional<Invocation> ParseInvocation(const std::vector<std::wstring>& args,
                                                 std::wstring_view name_option = L"--pipe") {
    Invocation invocation;
    std::vector<std::wstring> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != name_option) {
            rest.push_back(args[i]);
        } else if (i + 1 < args.size() && IsPipeName(args[i + 1])) {
            invocation.pipe = args[++i];
        } else {
            return std::nullopt;
        }
    }
    if (rest.size() == 1 && (rest[0] == L"--help" || rest[0] == L"-h" || rest[0] == L"/?"))
        return invocation;
    if (rest.size() == 1 && rest[0] == L"serve") {
        invocation.mode = Invocation::Mode::kServe;
        return invocation;
    }
    if (!ParseCommand(rest))
        return std::nullopt;
    invocation.mode = Invocation::Mode::kCommand;
    invocation.command = std::move(rest);
    return invocation;
}

// ---- The config.ini entry that declares a simulated interface

inline std::wstring DefaultEntryValue(std::wstring_view pipe) {
    return std::wstring(pipe) + L", " + std::wstring(kSimulatedHardwareId) +
           L", 0xFFA0, 0x0001, 8, 8, 0";
}

// The entry as the monitor reads it (one parser for both programs).
inline std::optional<SimulatedHidInterface> ParseSimulatedEntry(std::wstring_view value) {
    return ParseSimulatedInterface(std::u16string(value.begin(), value.end()));
}

// What the entries sim1, sim2, ... (their values, in order) say about one pipe.
struct EntriesReview {
    std::size_t declared_by = 0;         // 1 for sim1, ...; 0 when no entry names the pipe
    std::vector<std::wstring> problems;  // one line each
};

// What serves the device, which decides how its declared name is compared: a Windows pipe's as
// the system compares pipe names, without regard to ASCII case and without trailing dots and
// blanks; a Linux socket's as file names compare, exactly.
enum class ServedBy { kPipe, kSocket };

inline bool NamesServedDevice(std::u16string_view declared, std::u16string_view served,
                              ServedBy served_by) {
    if (served_by == ServedBy::kSocket)
        return declared == served;
    const auto system_name = [](std::u16string_view name) {
        return name.substr(0, name.find_last_not_of(u". ") + 1);
    };
    return korv::EqualsIgnoringAsciiCase(system_name(declared), system_name(served));
}

inline EntriesReview ReviewSimulatedEntries(const std::vector<std::wstring>& values,
                                            std::wstring_view pipe,
                                            ServedBy served_by = ServedBy::kPipe) {
    const bool socket = served_by == ServedBy::kSocket;
    EntriesReview review;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::wstring key = L"sim" + std::to_wstring(i + 1);
        const auto entry = ParseSimulatedEntry(values[i]);
        if (!entry) {
            review.problems.push_back(key + L"=" + values[i] + L" is not " +
                                      (socket ? L"NAME" : L"PIPE") +
                                      L", HARDWARE-ID, USAGE-PAGE, USAGE, "
                                      L"INPUT-LENGTH, OUTPUT-LENGTH, FEATURE-LENGTH");
            continue;
        }
        const std::u16string served(pipe.begin(), pipe.end());
        if (!NamesServedDevice(entry->pipe_name, served, served_by) || review.declared_by != 0)
            continue;
        review.declared_by = i + 1;
        const HidCapabilities& caps = entry->capabilities;
        if (caps.usage_page != kMouseUsagePage || caps.usage != kMouseUsage ||
            caps.input_report_length != kReportLength) {
            review.problems.push_back(
                key + L" declares the " + (socket ? L"socket" : L"pipe") +
                L" with another usage page, usage or input length; the "
                L"monitor reads only usage page 0xFFA0, usage 1 with 8-byte input reports");
        }
    }
    return review;
}

}  // namespace korv::sim
