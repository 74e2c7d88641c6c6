// The simulated mouse program korvanth417-sim as the monitor and a user meet it: its socket
// opened and read through the socket-served HID class as the monitor reads it, its commands
// run as processes, its plugging in and out seen by the device notifications, and its check of
// the config.ini that the monitor would read. Each test has its own runtime and configuration
// folders, so tests run side by side.

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_device_notifications.h"
#include "platform/linux/linux_socket_hid.h"
#include "programs/mousesim/sim_protocol.h"
#include "tests/linux/child_process.h"
#include "tests/linux/sim_test_support.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::ChildProcess;
using test::PrivateFolder;

constexpr const char* kSimulator = KORV_SIM_PROGRAM;

std::string Hex(const Bytes& bytes) {
    const std::wstring text = sim::Hex(bytes);
    return std::string(text.begin(), text.end());
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WaitFor(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + test::kGenerous;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A runtime folder and a configuration folder of the test's own, and the simulator's commands
// run in them.
class SimulatorPlace {
  public:
    SimulatorPlace() {
        environment_ =
            test::EnvironmentWith({"XDG_RUNTIME_DIR=" + runtime_.Path(),
                                   "XDG_CONFIG_HOME=" + config_.Path(), "HOME=" + config_.Path()});
    }

    [[nodiscard]] bool Valid() const { return runtime_.Valid() && config_.Valid(); }
    std::string SocketFolder() const { return runtime_ / "korvanth417"; }
    std::string SocketFile(const std::string& name) const { return SocketFolder() + "/" + name; }
    std::string ConfigFile() const { return config_ / "korvanth417/config.ini"; }
    std::string LogFile(const std::string& name) const { return runtime_ / (name + ".log"); }

    void WriteConfig(const std::string& text) const {
        std::filesystem::create_directories(config_ / "korvanth417");
        std::ofstream(ConfigFile(), std::ios::binary) << text;
    }

    ChildProcess::Output Run(const std::vector<std::string>& args) const {
        ChildProcess child(kSimulator, args, environment_);
        return child.Finish(test::kGenerous);
    }

    std::unique_ptr<ChildProcess> StartServing(const std::string& name) const {
        return std::make_unique<ChildProcess>(kSimulator,
                                              std::vector<std::string>{"serve", "--name", name},
                                              environment_, LogFile(name));
    }

  private:
    PrivateFolder runtime_;
    PrivateFolder config_;
    std::vector<std::string> environment_;
};

// "korvanth417-sim serve" on a name of the test's own, ended with "quit" (or killed when it does
// not end in time).
class MouseSimOnLinux : public ::testing::Test {
  protected:
    static constexpr const char* kName = "KORV-SIMTEST";

    void SetUp() override {
        ASSERT_TRUE(place_.Valid());
        server_ = place_.StartServing(kName);
        ASSERT_TRUE(server_->Started());
        ASSERT_TRUE(WaitForLog("serving;")) << Log();
    }
    void TearDown() override {
        if (!server_->Wait(0ms)) {
            EXPECT_EQ(Command("quit").exit_code, 0);
            EXPECT_EQ(server_->Wait(test::kGenerous), std::optional<int>(0)) << Log();
        }
    }

    std::string Log() const { return ReadText(place_.LogFile(kName)); }
    bool WaitForLog(const std::string& text) const {
        return WaitFor([&] { return Log().find(text) != std::string::npos; });
    }

    ChildProcess::Output Command(const std::string& line) const {
        std::vector<std::string> args{"--name", kName};
        std::istringstream words(line);
        for (std::string word; words >> word;)
            args.push_back(word);
        return place_.Run(args);
    }

    // Runs the command and checks its exit code; its output and error text.
    std::string Expect(const std::string& line, int exit_code = 0) const {
        const ChildProcess::Output outcome = Command(line);
        EXPECT_EQ(outcome.exit_code, exit_code)
            << line << "\nout: " << outcome.out << "\nerr: " << outcome.err;
        return outcome.out + outcome.err;
    }

    std::u16string DevicePath() const {
        return SocketHidPath(place_.SocketFolder(), u"KORV-SIMTEST");
    }

    // The monitor's view: the socket declared as config.ini declares it.
    LinuxSocketHidInterfaces Interfaces() const {
        const auto entry = sim::ParseSimulatedEntry(sim::DefaultEntryValue(L"KORV-SIMTEST"));
        return LinuxSocketHidInterfaces(
            place_.SocketFolder(), {{entry->pipe_name, entry->hardware_id, entry->capabilities}});
    }

    std::unique_ptr<HidDevice> OpenDevice(const LinuxSocketHidInterfaces& interfaces) const {
        auto opened = interfaces.Open(DevicePath(), HidOpenMode::Reading);
        EXPECT_NE(opened.device, nullptr) << opened.failure.operation << " " << opened.failure.code;
        return std::move(opened.device);
    }

    static std::optional<Bytes> NextReport(HidDevice& device) {
        Bytes buffer(64);
        const HidReadResult read = device.Read(buffer);
        if (read.status != HidReadResult::Status::Report)
            return std::nullopt;
        buffer.resize(read.size);
        return buffer;
    }

    SimulatorPlace place_;
    std::unique_ptr<ChildProcess> server_;
};

TEST_F(MouseSimOnLinux, EveryCommandReachesEveryClientAsWholeReports) {
    struct Case {
        const char* command;
        std::vector<Bytes> reports;  // in order, each one read
        const char* reply;           // the start of the reply
    };
    const Case cases[] = {
        {"press 4",
         {{7, 0x10, 0, 0, 0, 0, 0, 0}},
         "button 4 pressed: sent 07 10 00 00 00 00 00 00"},
        {"press 17", {{7, 0x10, 0, 0x02, 0, 0, 0, 0}}, "button 17 pressed: sent 07 10 00 02"},
        {"release 4", {{7, 0, 0, 0x02, 0, 0, 0, 0}}, "button 4 released: sent 07 00 00 02"},
        {"click 0x09",
         {{7, 0, 0x02, 0x02, 0, 0, 0, 0}, {7, 0, 0, 0x02, 0, 0, 0, 0}},
         "button 9 clicked"},
        {"profile 2", {{8, 1, 2, 0, 0, 0, 0, 0}}, "profile 2: sent 08 01 02 00 00 00 00 00"},
        {"event 6 0x7F", {{8, 6, 0x7F, 0, 0, 0, 0, 0}}, "event kind 6 value 127"},
        {"report 07 1000", {{7, 0x10, 0}}, "report of 3 byte(s): sent 07 10 00"},
        {"report ff", {{0xFF}}, "report of 1 byte(s)"},
    };
    const LinuxSocketHidInterfaces interfaces = Interfaces();
    const auto listed = interfaces.Enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].hardware_ids,
              std::vector<std::u16string>{u"HID\\KORVANTH417_SIMULATED&Col01"});
    const auto first = OpenDevice(interfaces);
    const auto second = OpenDevice(interfaces);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(WaitForLog("client 2 connected"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string reply = Expect(c.command);
        EXPECT_EQ(reply.rfind(c.reply, 0), 0u) << reply;
        EXPECT_NE(reply.find(" to 2 client(s)"), std::string::npos) << reply;
        for (HidDevice* device : {first.get(), second.get()}) {
            for (const Bytes& report : c.reports)
                EXPECT_EQ(Hex(NextReport(*device).value_or(Bytes{})), Hex(report));
        }
    }
}

TEST_F(MouseSimOnLinux, ClientsThatLeaveAreDroppedAndAReportToNoneSaysWhy) {
    const LinuxSocketHidInterfaces interfaces = Interfaces();
    auto staying = OpenDevice(interfaces);
    {
        const auto leaving = OpenDevice(interfaces);
        ASSERT_TRUE(staying && leaving);
        ASSERT_TRUE(WaitForLog("client 2 connected"));
    }
    ASSERT_TRUE(WaitForLog("client 2 left"));
    EXPECT_NE(Expect("press 1").find("to 1 client(s)"), std::string::npos);
    EXPECT_EQ(Hex(NextReport(*staying).value_or(Bytes{})), "07 02 00 00 00 00 00 00");

    staying.reset();
    ASSERT_TRUE(WaitForLog("client 1 left"));
    EXPECT_NE(Expect("release 1")
                  .find("to 0 clients: is the monitor running and does its config.ini declare "
                        "the simulated mouse?"),
              std::string::npos);
}

// Whatever a client sends is an output report: logged, never a reason to stop serving it or
// anyone else. The same goes for nonsense on the control socket.
TEST_F(MouseSimOnLinux, OutputReportsAreLoggedAndNonsenseFromClientsIsHarmless) {
    const LinuxSocketHidInterfaces interfaces = Interfaces();
    const auto device = OpenDevice(interfaces);
    ASSERT_NE(device, nullptr);
    ASSERT_FALSE(device->Write(Bytes{0x05, 0x01, 0xAB}).has_value());
    EXPECT_TRUE(WaitForLog("output report from client 1: 05 01 AB 00 00 00 00 00")) << Log();

    // A raw client: an empty message, one far longer than a report, bytes of every value.
    const UniqueFd raw(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    const sockaddr_un address = test::AddressOf(place_.SocketFile(kName));
    ASSERT_EQ(connect(raw.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    Bytes every_value(256);
    for (int i = 0; i < 256; ++i)
        every_value[i] = static_cast<std::uint8_t>(i);
    for (const Bytes& message : {Bytes{}, Bytes(5000, 0x5A), every_value})
        ASSERT_GE(send(raw.Get(), message.data(), message.size(), MSG_NOSIGNAL), 0);
    EXPECT_TRUE(WaitForLog("(5000 bytes in all)")) << Log();
    EXPECT_TRUE(WaitForLog("FD FE FF")) << Log();

    // The control socket: a command line far too long, bytes that are no text, a silent
    // connection.
    const sockaddr_un control = test::AddressOf(place_.SocketFile(std::string(kName) + "-control"));
    for (const std::string& line : {std::string(10000, 'x'), std::string("\xFF\xFE\0press", 8)}) {
        const UniqueFd client(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        ASSERT_EQ(
            connect(client.Get(), reinterpret_cast<const sockaddr*>(&control), sizeof control), 0);
        ASSERT_GE(send(client.Get(), line.data(), line.size(), MSG_NOSIGNAL), 0);
        char reply[256] = {};
        ASSERT_GT(recv(client.Get(), reply, sizeof reply, 0), 0);
        EXPECT_EQ(reply[0], '-') << reply;
    }
    const UniqueFd silent(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    ASSERT_EQ(connect(silent.Get(), reinterpret_cast<const sockaddr*>(&control), sizeof control),
              0);

    EXPECT_NE(Expect("press 3").find("to 2 client(s)"), std::string::npos);
    EXPECT_EQ(Hex(NextReport(*device).value_or(Bytes{})), "07 08 00 00 00 00 00 00");
}

TEST_F(MouseSimOnLinux, UnplugIsADeviceGoneAndReplugServesAgain) {
    const LinuxSocketHidInterfaces interfaces = Interfaces();
    const auto before = OpenDevice(interfaces);
    ASSERT_NE(before, nullptr);
    ASSERT_TRUE(WaitForLog("client 1 connected"));
    Expect("press 5");
    ASSERT_TRUE(NextReport(*before).has_value());

    std::thread unplug([&] {
        std::this_thread::sleep_for(100ms);  // while the read below waits
        EXPECT_NE(Expect("unplug").find("unplugged: " + place_.SocketFile(kName) +
                                        " (1 client(s) dropped)"),
                  std::string::npos);
    });
    Bytes buffer(8);
    const HidReadResult gone = before->Read(buffer);
    unplug.join();
    EXPECT_EQ(gone.status, HidReadResult::Status::Failed);
    EXPECT_EQ(gone.failure.kind, HidFailureKind::DeviceGone);

    EXPECT_TRUE(interfaces.Enumerate().empty());
    const auto while_unplugged = interfaces.Open(DevicePath(), HidOpenMode::Reading);
    EXPECT_EQ(while_unplugged.device, nullptr);
    EXPECT_EQ(while_unplugged.failure.kind, HidFailureKind::DeviceGone);
    EXPECT_NE(Expect("press 4", 3).find("unplugged"), std::string::npos);
    EXPECT_NE(Expect("status").find("unplugged: " + place_.SocketFile(kName)), std::string::npos);

    EXPECT_NE(Expect("replug").find("plugged in: " + place_.SocketFile(kName)), std::string::npos);
    EXPECT_EQ(interfaces.Enumerate().size(), 1u);
    const auto after = OpenDevice(interfaces);
    ASSERT_NE(after, nullptr);
    ASSERT_TRUE(WaitForLog("client 2 connected"));
    Expect("press 4");  // button 5 went up with the unplug
    EXPECT_EQ(Hex(NextReport(*after).value_or(Bytes{})), "07 10 00 00 00 00 00 00");
    EXPECT_NE(Expect("status").find("1 client(s) connected; buttons down: 4 (mask 0x000010)"),
              std::string::npos);
}

// The monitor learns of the mouse from the socket file: plugging in and out are the arrivals
// and removals of its device notifications.
TEST_F(MouseSimOnLinux, UnplugAndReplugAreRemovalsAndArrivalsOfTheDeviceNotifications) {
    LinuxMainLoop loop;
    test::LoopRunner runner(loop);
    struct Listener : DeviceChangeListener {
        explicit Listener(test::LoopRunner& r) : runner(r) {}
        void OnDeviceEvent(const DeviceEvent& event) override {
            events.push_back(event);
            runner.Check();
        }
        test::LoopRunner& runner;
        std::vector<DeviceEvent> events;
    } listener(runner);
    LinuxDeviceNotifications notifications(loop, place_.SocketFolder());
    const DeviceNotificationStart start = notifications.Register(listener);
    ASSERT_FALSE(start.failure.has_value());

    Expect("unplug");
    Expect("replug");
    Expect("replug");  // while plugged in: out and in again
    const auto for_device = [&] {
        std::vector<DeviceEventKind> kinds;
        for (const DeviceEvent& event : listener.events) {
            if (event.path == DevicePath())
                kinds.push_back(event.kind);
        }
        return kinds;
    };
    EXPECT_TRUE(runner.RunUntil([&] { return for_device().size() >= 4; }));
    EXPECT_EQ(for_device(),
              (std::vector<DeviceEventKind>{DeviceEventKind::Removal, DeviceEventKind::Arrival,
                                            DeviceEventKind::Removal, DeviceEventKind::Arrival}));
}

TEST_F(MouseSimOnLinux, ASecondServeOfTheNameIsRefusedAndAKilledOneLeavesNothingInTheWay) {
    const ChildProcess::Output second = place_.Run({"serve", "--name", kName});
    EXPECT_EQ(second.exit_code, 3);
    EXPECT_NE(second.err.find("a simulated mouse already runs on " + place_.SocketFile(kName)),
              std::string::npos)
        << second.err;
    EXPECT_NE(Expect("status").find("plugged in"), std::string::npos);

    // Killed, it leaves its socket files behind; the next simulator takes the name all the same.
    server_->Kill();
    ASSERT_TRUE(server_->Wait(test::kGenerous).has_value());
    struct stat status {};
    ASSERT_EQ(lstat(place_.SocketFile(kName).c_str(), &status), 0);
    EXPECT_EQ(Expect("status", 2).find("no simulated mouse is running"), 0u);
    server_ = place_.StartServing(kName);
    ASSERT_TRUE(WaitFor([&] {
        const std::string log = Log();
        std::size_t count = 0;
        for (std::size_t at = log.find("serving;"); at != std::string::npos;
             at = log.find("serving;", at + 1))
            ++count;
        return count == 2;
    })) << Log();
    EXPECT_NE(Expect("status").find("plugged in"), std::string::npos);
}

TEST_F(MouseSimOnLinux, SigtermEndsServingAndRemovesTheSockets) {
    const LinuxSocketHidInterfaces interfaces = Interfaces();
    const auto device = OpenDevice(interfaces);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(kill(server_->Pid(), SIGTERM), 0);
    EXPECT_EQ(server_->Wait(test::kGenerous), std::optional<int>(0));
    EXPECT_NE(Log().find("SIGTERM: stopping"), std::string::npos) << Log();
    Bytes buffer(8);
    EXPECT_EQ(device->Read(buffer).failure.kind, HidFailureKind::DeviceGone);
    struct stat status {};
    EXPECT_NE(lstat(place_.SocketFile(kName).c_str(), &status), 0);
    EXPECT_NE(lstat(place_.SocketFile(std::string(kName) + "-control").c_str(), &status), 0);
}

TEST(MouseSimCommandLine, WithoutASimulatorACommandExitsTwoAndSaysHowToStartOne) {
    const SimulatorPlace place;
    ASSERT_TRUE(place.Valid());
    const ChildProcess::Output outcome = place.Run({"press", "4"});
    EXPECT_EQ(outcome.exit_code, 2);
    EXPECT_NE(outcome.err.find("no simulated mouse is running on " +
                               place.SocketFile("KORVANTH417-SIM-1") +
                               "; start it with: korvanth417-sim serve\n"),
              std::string::npos)
        << outcome.err;
    const ChildProcess::Output named = place.Run({"--name", "other", "status"});
    EXPECT_NE(named.err.find("start it with: korvanth417-sim serve --name other"),
              std::string::npos)
        << named.err;
}

// Arguments are checked before any simulator is asked: none runs, so a command that got
// through would exit 2 instead.
TEST(MouseSimCommandLine, BadArgumentsPrintTheUsageAndExitOne) {
    const SimulatorPlace place;
    ASSERT_TRUE(place.Valid());
    const std::vector<std::vector<std::string>> bad = {{},
                                                       {"press"},
                                                       {"press", "24"},
                                                       {"press", "-1"},
                                                       {"press", "0x"},
                                                       {"release", "4", "5"},
                                                       {"profile", "x"},
                                                       {"profile", "256"},
                                                       {"event", "1"},
                                                       {"event", "1", "2", "3"},
                                                       {"report"},
                                                       {"report", "0g"},
                                                       {"report", "071"},
                                                       {"unplug", "now"},
                                                       {"jump", "3"},
                                                       {"serve", "now"},
                                                       {"--name"},
                                                       {"--name", "a/b", "status"},
                                                       {"--pipe", "x", "status"}};
    for (const std::vector<std::string>& args : bad) {
        const ChildProcess::Output outcome = place.Run(args);
        std::string line;
        for (const std::string& a : args)
            line += a + " ";
        EXPECT_EQ(outcome.exit_code, 1) << line;
        EXPECT_NE(outcome.err.find("Usage:"), std::string::npos) << line;
    }
    const ChildProcess::Output help = place.Run({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("[SimulatedHIDDeviceList]"), std::string::npos);
}

TEST(MouseSimSettingsFile, WarnsUnlessAnEntryTheMonitorReadsDeclaresTheSocket) {
    struct Case {
        const char* name;
        const char* config;  // "NAME" stands for the socket's name; nullptr: no file
        bool declared;
        const char* warning = nullptr;
    };
    const Case cases[] = {
        {"no config.ini", nullptr, false},
        {"no section", "[options]\nProfileRegFolder=KORVANTH417GM\n", false},
        {"another socket",
         "[SimulatedHIDDeviceList]\nsim1=OTHER, HID\\X, 0xFFA0, 0x0001, 8, 8, 0\n", false},
        {"second entry, blanks, hex and a byte-order mark",
         "\xEF\xBB\xBF[SimulatedHIDDeviceList]\r\nsim1=OTHER, HID\\X, 0xFFA0, 1, 8, 8, 0\r\n"
         "sim2 =  NAME ,HID\\KORVANTH417_SIMULATED&Col01,0xffa0,0x0001,0x08,8,0\r\n",
         true},
        {"letter case counts in a file name",
         "[SimulatedHIDDeviceList]\nsim1=korv-ini, HID\\X, 0xFFA0, 1, 8, 8, 0\n", false},
        {"reading stops at the first missing key",
         "[SimulatedHIDDeviceList]\nsim2=NAME, HID\\X, 0xFFA0, 1, 8, 8, 0\n", false},
        {"too few fields", "[SimulatedHIDDeviceList]\nsim1=NAME, HID\\X, 0xFFA0, 1, 8\n", false,
         "sim1=KORV-INI, HID\\X, 0xFFA0, 1, 8 is not NAME, HARDWARE-ID"},
        {"another kind of interface",
         "[SimulatedHIDDeviceList]\nsim1=NAME, HID\\X, 0xFF00, 0x0001, 8, 8, 0\n", true,
         "sim1 declares the socket with another usage page"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SimulatorPlace place;
        ASSERT_TRUE(place.Valid());
        if (c.config != nullptr) {
            std::string config = c.config;
            if (const auto at = config.find("NAME"); at != std::string::npos)
                config.replace(at, 4, "KORV-INI");
            place.WriteConfig(config);
        }
        const auto server = place.StartServing("KORV-INI");
        ASSERT_TRUE(WaitFor([&] {
            return ReadText(place.LogFile("KORV-INI")).find("serving;") != std::string::npos;
        }));
        EXPECT_EQ(place.Run({"--name", "KORV-INI", "quit"}).exit_code, 0);
        EXPECT_EQ(server->Wait(test::kGenerous), std::optional<int>(0));
        const std::string log = ReadText(place.LogFile("KORV-INI"));
        // The line to add, whatever its key.
        const std::string advice =
            "=KORV-INI, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0";
        EXPECT_EQ(log.find("config.ini declares the socket as sim") != std::string::npos,
                  c.declared)
            << log;
        EXPECT_EQ(log.find("and the monitor will not look for it") == std::string::npos, c.declared)
            << log;
        if (!c.declared) {
            // Without the user's own file the advice names the installed one, when there is one.
            const std::filesystem::path installed =
                std::filesystem::path(KORV_SIM_PROGRAM).parent_path() /
                "../share/korvanth417/config.ini";
            const std::string named = c.config == nullptr && std::filesystem::exists(installed)
                                          ? installed.lexically_normal().string()
                                          : place.ConfigFile();
            EXPECT_NE(log.find(named), std::string::npos) << log;
            EXPECT_NE(log.find(advice), std::string::npos) << log;
        }
        if (c.warning != nullptr) {
            EXPECT_NE(log.find(c.warning), std::string::npos) << log;
        }
    }
}

}  // namespace
}  // namespace korv::os_linux
