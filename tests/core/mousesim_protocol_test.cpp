// The simulated mouse's words, natively: the reports it sends, the numbers, bytes, commands and
// arguments it accepts, and its review of the settings file's declarations.
#include "programs/mousesim/sim_protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace korv::sim {
namespace {

std::vector<std::wstring> Words(std::wstring_view line) {
    return SplitWords(line);
}

TEST(MouseSimReports, KeyAndEventReportsAreEightBytesIdentifierFirst) {
    EXPECT_EQ(KeyReport(0), (Report{7, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(KeyReport(1u << 4), (Report{7, 0x10, 0, 0, 0, 0, 0, 0}));
    // The 24-bit mask, low byte first; bits above 23 are not sent.
    EXPECT_EQ(KeyReport(0xFF123456u), (Report{7, 0x56, 0x34, 0x12, 0, 0, 0, 0}));
    EXPECT_EQ(EventReport(kProfileSwitchKind, 3), (Report{8, 1, 3, 0, 0, 0, 0, 0}));
    EXPECT_EQ(KeyReport(0).size(), kReportLength);
    EXPECT_EQ(Hex(Report{0x07, 0x10, 0xAB}), L"07 10 AB");
    EXPECT_EQ(Hex(Report{}), L"");
}

TEST(MouseSimWords, NumbersAndHexBytes) {
    struct Case {
        std::wstring_view text;
        std::uint32_t max;
        std::optional<std::uint32_t> number;
    };
    const Case numbers[] = {
        {L"0", 23, 0},
        {L"23", 23, 23},
        {L"24", 23, std::nullopt},
        {L"0x17", 23, 23},
        {L"0X0f", 255, 15},
        {L"0x", 255, std::nullopt},
        {L"", 255, std::nullopt},
        {L"-1", 255, std::nullopt},
        {L"1 2", 255, std::nullopt},
        {L"0x1g", 255, std::nullopt},
        {L"4294967296", 0xFFFFFFFF, std::nullopt},
        {L"4294967295", 0xFFFFFFFF, 0xFFFFFFFFu},
        {L"00012", 255, 12},
    };
    for (const Case& c : numbers)
        EXPECT_EQ(ParseNumber(c.text, c.max), c.number)
            << std::string(c.text.begin(), c.text.end());

    EXPECT_EQ(ParseHexBytes(Words(L"07 10 00")), (Report{7, 0x10, 0}));
    EXPECT_EQ(ParseHexBytes(Words(L"071000 aB")), (Report{7, 0x10, 0, 0xAB}));
    EXPECT_EQ(ParseHexBytes(Words(L"7 10")), std::nullopt);  // a half byte
    EXPECT_EQ(ParseHexBytes(Words(L"0g")), std::nullopt);
    EXPECT_EQ(ParseHexBytes({}), std::nullopt);
    EXPECT_EQ(ParseHexBytes({std::wstring(2 * kMaxRawReport, L'0')})->size(), kMaxRawReport);
    EXPECT_EQ(ParseHexBytes({std::wstring(2 * kMaxRawReport + 2, L'0')}), std::nullopt);
}

TEST(MouseSimWords, CommandsAndTheirArguments) {
    struct Case {
        std::wstring_view line;
        std::optional<Verb> verb;
        int button = 0;
        std::uint8_t kind = 0;
        std::uint8_t value = 0;
    };
    const Case cases[] = {
        {L"press 4", Verb::kPress, 4},
        {L"  release\t0x17 ", Verb::kRelease, 23},
        {L"click 0", Verb::kClick, 0},
        {L"press 24", std::nullopt},
        {L"press", std::nullopt},
        {L"press 1 2", std::nullopt},
        {L"profile 3", Verb::kProfile, 0, kProfileSwitchKind, 3},
        {L"profile 255", Verb::kProfile, 0, kProfileSwitchKind, 255},
        {L"profile 256", std::nullopt},
        {L"event 2 0x10", Verb::kEvent, 0, 2, 16},
        {L"event 2", std::nullopt},
        {L"event 256 1", std::nullopt},
        {L"unplug", Verb::kUnplug},
        {L"unplug now", std::nullopt},
        {L"replug", Verb::kReplug},
        {L"status", Verb::kStatus},
        {L"quit", Verb::kQuit},
        {L"Press 4", std::nullopt},  // verbs are lower case
        {L"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
        const std::optional<Command> command = ParseCommand(Words(c.line));
        ASSERT_EQ(command.has_value(), c.verb.has_value());
        if (!command)
            continue;
        EXPECT_EQ(command->verb, *c.verb);
        EXPECT_EQ(command->button, c.button);
        EXPECT_EQ(command->kind, c.kind);
        EXPECT_EQ(command->value, c.value);
    }
    const auto report = ParseCommand(Words(L"report 07 10 00"));
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->bytes, (Report{7, 0x10, 0}));
    EXPECT_TRUE(SendsReport(Verb::kReport));
    EXPECT_FALSE(SendsReport(Verb::kStatus));
}

TEST(MouseSimWords, InvocationTakesThePipeAnywhere) {
    using Mode = Invocation::Mode;
    const auto serve = ParseInvocation({L"serve", L"--pipe", L"other"});
    ASSERT_TRUE(serve.has_value());
    EXPECT_EQ(serve->mode, Mode::kServe);
    EXPECT_EQ(serve->pipe, L"other");

    const auto command = ParseInvocation({L"--pipe", L"p", L"press", L"4"});
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->mode, Mode::kCommand);
    EXPECT_EQ(command->pipe, L"p");
    EXPECT_EQ(command->command, (std::vector<std::wstring>{L"press", L"4"}));

    // The Linux program names its socket with --name, and takes no --pipe.
    const auto named = ParseInvocation({L"status", L"--name", L"s"}, L"--name");
    ASSERT_TRUE(named.has_value());
    EXPECT_EQ(named->pipe, L"s");
    EXPECT_FALSE(ParseInvocation({L"--pipe", L"p", L"status"}, L"--name").has_value());
    EXPECT_FALSE(ParseInvocation({L"--name", L"p", L"status"}).has_value());

    const auto help = ParseInvocation({L"/?"});
    ASSERT_TRUE(help.has_value());
    EXPECT_EQ(help->mode, Mode::kHelp);
    EXPECT_EQ(help->pipe, kDefaultPipe);

    for (const std::vector<std::wstring>& bad :
         std::vector<std::vector<std::wstring>>{{L"--pipe"},
                                                {L"--pipe", L"a\\b", L"serve"},
                                                {L"--pipe", L"a/b", L"serve"},
                                                {L"--pipe", L"", L"serve"},
                                                {L"--pipe", std::wstring(201, L'p'), L"serve"},
                                                {L"serve", L"now"},
                                                {L"press", L"99"}}) {
        EXPECT_FALSE(ParseInvocation(bad).has_value()) << bad.size();
    }
}

TEST(MouseSimSettings, TheDefaultEntryDeclaresTheMouseAsTheMonitorReadsIt) {
    const auto entry = ParseSimulatedEntry(DefaultEntryValue(L"KORVANTH417-SIM-2"));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(*entry, (SimulatedHidInterface{
                          u"KORVANTH417-SIM-2",
                          u"HID\\KORVANTH417_SIMULATED&Col01",
                          {kMouseUsage, kMouseUsagePage, kReportLength, kReportLength, 0}}));
}

TEST(MouseSimSettings, ReviewFindsThePipesFirstDeclarationAndSaysWhatIsWrong) {
    const std::wstring good = DefaultEntryValue(L"sim-a");
    const std::wstring other_pipe = DefaultEntryValue(L"sim-b");
    const std::wstring wrong_usage = L"SIM-A, HID\\X, 0xFF00, 1, 8, 8, 0";
    const std::wstring short_input = L"sim-a, HID\\X, 0xFFA0, 1, 7, 8, 0";

    EXPECT_EQ(ReviewSimulatedEntries({}, L"sim-a").declared_by, 0u);
    const EntriesReview plain = ReviewSimulatedEntries({other_pipe, good}, L"sim-a");
    EXPECT_EQ(plain.declared_by, 2u);
    EXPECT_TRUE(plain.problems.empty());

    // Pipe names compare without letter case; a wrong declaration is still the declaration.
    const EntriesReview wrong = ReviewSimulatedEntries({wrong_usage, good}, L"sim-a");
    EXPECT_EQ(wrong.declared_by, 1u);
    ASSERT_EQ(wrong.problems.size(), 1u);
    EXPECT_EQ(wrong.problems[0].rfind(L"sim1 declares the pipe with another usage page", 0), 0u);

    EXPECT_EQ(ReviewSimulatedEntries({short_input}, L"sim-a").problems.size(), 1u);

    // Nor with trailing dots or blanks, which the system drops from a pipe's name.
    const std::wstring dotted = L"Sim-A.., HID\\X, 0xFFA0, 1, 8, 8, 0";
    EXPECT_EQ(ReviewSimulatedEntries({dotted}, L"sim-a").declared_by, 1u);
    EXPECT_EQ(ReviewSimulatedEntries({good}, L"sim-a. ").declared_by, 1u);

    const EntriesReview broken = ReviewSimulatedEntries({L"nonsense", good}, L"sim-a");
    EXPECT_EQ(broken.declared_by, 2u);
    ASSERT_EQ(broken.problems.size(), 1u);
    EXPECT_EQ(broken.problems[0].rfind(L"sim1=nonsense is not PIPE, HARDWARE-ID", 0), 0u);
}

// A Linux socket's name is a file name: it matches only as it is written, and the review speaks
// of a socket.
TEST(MouseSimSettings, ASocketIsDeclaredOnlyByItsExactName) {
    const std::wstring exact = DefaultEntryValue(L"sim-a");
    const std::wstring wrong_usage = L"sim-a, HID\\X, 0xFF00, 1, 8, 8, 0";
    for (const std::wstring_view other : {L"SIM-A", L"sim-a.", L"Sim-A.."}) {
        const std::wstring entry = DefaultEntryValue(other);
        EXPECT_EQ(ReviewSimulatedEntries({entry}, L"sim-a", ServedBy::kSocket).declared_by, 0u);
        EXPECT_EQ(ReviewSimulatedEntries({entry, exact}, L"sim-a", ServedBy::kSocket).declared_by,
                  2u);
    }
    const EntriesReview wrong =
        ReviewSimulatedEntries({L"nonsense", wrong_usage}, L"sim-a", ServedBy::kSocket);
    EXPECT_EQ(wrong.declared_by, 2u);
    ASSERT_EQ(wrong.problems.size(), 2u);
    EXPECT_EQ(wrong.problems[0].rfind(L"sim1=nonsense is not NAME, HARDWARE-ID", 0), 0u);
    EXPECT_EQ(wrong.problems[1].rfind(L"sim2 declares the socket with another usage page", 0), 0u);
}

}  // namespace
}  // namespace korv::sim
