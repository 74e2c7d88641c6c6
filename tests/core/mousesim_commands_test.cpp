// The simulated mouse's commands, natively, on a mouse that records what it was asked: the
// reports each command sends, the buttons it keeps held down, and the texts of its replies.
#include "programs/mousesim/sim_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korv::sim {
namespace {

class RecordingMouse final : public SimulatedMouse {
  public:
    std::wstring Path() const override { return L"/run/sim"; }
    bool Plugged() const override { return plugged; }
    std::size_t ClientCount() const override { return clients; }
    Reply PlugIn() override {
        plugged = true;
        return {true, L"plugged in: /run/sim"};
    }
    std::size_t Unplug() override {
        plugged = false;
        return clients;
    }
    std::size_t Send(const Report& report) override {
        sent.push_back(report);
        return clients;
    }

    bool plugged = true;
    std::size_t clients = 1;
    std::vector<Report> sent;
};

struct Step {
    const wchar_t* line;
    bool done;
    std::wstring reply;
    std::vector<Report> sent;  // by this line
};

TEST(MouseSimCommands, EachLineSendsItsReportsAndRepliesWithWhatItDid) {
    const std::wstring to_one = L" to 1 client(s)";
    const std::vector<Step> steps{
        {L"press 4",
         true,
         L"button 4 pressed: sent 07 10 00 00 00 00 00 00" + to_one,
         {KeyReport(0x10)}},
        {L"press 0x10",
         true,
         L"button 16 pressed: sent 07 10 00 01 00 00 00 00" + to_one,
         {KeyReport(0x10010)}},
        {L"status",
         true,
         L"plugged in: /run/sim; 1 client(s) connected; buttons down: 4 16 (mask 0x010010)",
         {}},
        {L"click 23",
         true,
         L"button 23 clicked: sent 07 10 00 81 00 00 00 00 then 07 10 00 01 00 00 00 00" + to_one,
         {KeyReport(0x810010), KeyReport(0x10010)}},
        {L"release 4",
         true,
         L"button 4 released: sent 07 00 00 01 00 00 00 00" + to_one,
         {KeyReport(0x10000)}},
        {L"profile 3",
         true,
         L"profile 3: sent 08 01 03 00 00 00 00 00" + to_one,
         {EventReport(kProfileSwitchKind, 3)}},
        {L"event 9 200",
         true,
         L"event kind 9 value 200: sent 08 09 C8 00 00 00 00 00" + to_one,
         {EventReport(9, 200)}},
        {L"report 01 02", true, L"report of 2 byte(s): sent 01 02" + to_one, {{1, 2}}},
        {L"press 24", false, L"not a command: press 24", {}},
        {L"unplug", true, L"unplugged: /run/sim (1 client(s) dropped)", {}},
        {L"press 1",
         false,
         L"the mouse is unplugged, nothing sent; plug it in with: sim replug",
         {}},
        {L"status", true, L"unplugged: /run/sim", {}},
        {L"unplug", true, L"already unplugged: /run/sim", {}},
        {L"replug", true, L"plugged in: /run/sim", {}},
        // Plugged in again, the mouse holds no buttons down.
        {L"status",
         true,
         L"plugged in: /run/sim; 1 client(s) connected; buttons down: none (mask 0x000000)",
         {}},
    };
    RecordingMouse mouse;
    std::vector<std::wstring> said;
    MouseCommands commands(mouse, L"sim replug",
                           [&](std::wstring_view line) { said.emplace_back(line); });
    for (const Step& step : steps) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(step.line)));
        mouse.sent.clear();
        const Reply reply = commands.ExecuteLine(step.line);
        EXPECT_EQ(reply.done, step.done);
        EXPECT_EQ(reply.text, step.reply);
        EXPECT_EQ(mouse.sent, step.sent);
    }
    EXPECT_TRUE(said.empty());
    EXPECT_FALSE(commands.Quitting());
}

TEST(MouseSimCommands, ReplugUnplugsFirstAndQuitIsRemembered) {
    RecordingMouse mouse;
    mouse.clients = 0;
    std::vector<std::wstring> said;
    MouseCommands commands(mouse, L"sim replug",
                           [&](std::wstring_view line) { said.emplace_back(line); });
    EXPECT_EQ(commands.ExecuteLine(L"press 2").text,
              L"button 2 pressed: sent 07 04 00 00 00 00 00 00 to 0 clients: is the monitor "
              L"running and does its config.ini declare the simulated mouse?");
    EXPECT_EQ(commands.ExecuteLine(L"replug").text, L"plugged in: /run/sim");
    EXPECT_EQ(said, std::vector<std::wstring>{L"unplugged: /run/sim (0 client(s) dropped)"});
    EXPECT_EQ(commands.ExecuteLine(L"status").text,
              L"plugged in: /run/sim; 0 client(s) connected; buttons down: none (mask 0x000000)");
    const Reply quit = commands.ExecuteLine(L"quit");
    EXPECT_TRUE(quit.done);
    EXPECT_EQ(quit.text, L"quitting");
    EXPECT_TRUE(commands.Quitting());
}

TEST(MouseSimCommands, MaskTextHasAtLeastSixDigits) {
    EXPECT_EQ(MaskText(0), L"0x000000");
    EXPECT_EQ(MaskText(0xABCDEF), L"0xABCDEF");
    EXPECT_EQ(MaskText(0x1000000), L"0x1000000");
}

}  // namespace
}  // namespace korv::sim
