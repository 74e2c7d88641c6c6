// The monitor and the configuration program on a private session bus: the monitor's name and
// object (reloads answered after they ran, folded when they queue up, calls that do not fit
// refused), the mute property and its signal, the peer's notices and its profile question,
// which never waits, against a running, an absent, a refusing, a hanging and a stopped
// configuration program, starting the program, the bus going away, and an idle connection that
// wakes nothing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/fake/fake_system.h"
#include "platform/linux/bus_names.h"
#include "platform/linux/linux_bus.h"
#include "platform/linux/linux_config_peer.h"
#include "platform/linux/linux_config_service.h"
#include "platform/linux/linux_monitor_client.h"
#include "platform/linux/linux_monitor_service.h"
#include "tests/linux/private_session_bus.h"
#include "tests/linux/service_thread.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;
using korv::testing::ChildProcess;
using korv::testing::PrivateSessionBus;
using korv::testing::RunUntil;
using Clock = std::chrono::steady_clock;

// The configuration program's bus side on a thread of its own, with its own loop and
// connection, as the stand-in runs it; keeps the lines it logs and the profile switches it acted
// on, each of which takes it `acting` (as storing records and asking for a reload do).
class PeerThread {
  public:
    explicit PeerThread(const std::string& address,
                        std::chrono::milliseconds acting = std::chrono::milliseconds(0))
        : thread_(address, [this, acting](LinuxBus& bus) -> std::shared_ptr<void> {
              const auto log = [this](std::string_view line) {
                  const std::lock_guard lock(mutex_);
                  lines_.emplace_back(line);
              };
              const auto act = [this, acting](std::uint32_t slot) {
                  std::this_thread::sleep_for(acting);
                  const std::lock_guard lock(mutex_);
                  switched_.push_back(slot);
              };
              std::shared_ptr<LinuxConfigService> service =
                  LinuxConfigService::Create(bus, log, &bus.Loop(), act);
              if (!service || service->OwnName() != BusNameResult::Owned)
                  return nullptr;
              return service;
          }) {}
    [[nodiscard]] bool Running() const { return thread_.Running(); }
    [[nodiscard]] std::vector<std::string> Lines() const {
        const std::lock_guard lock(mutex_);
        return lines_;
    }
    [[nodiscard]] std::vector<std::uint32_t> Switched() const {
        const std::lock_guard lock(mutex_);
        return switched_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::uint32_t> switched_;
    korv::testing::ServiceThread thread_;  // last: it ends before what it writes to
};

// A connection that owns a name and then never reads another message: a program that hangs.
SdBusConnection HangingOwnerOf(const std::string& address, const char* name) {
    SdBusConnection bus = ConnectSessionBus(address);
    if (!bus || RequestBusName(bus.get(), name) != BusNameResult::Owned)
        return nullptr;
    return bus;
}

std::chrono::milliseconds Since(Clock::time_point begin) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
}

// Runs busctl against the bus while the loop serves the monitor; its exit code and output.
struct ToolResult {
    int exit_code = -1;
    std::string output;
};
ToolResult Busctl(LinuxMainLoop& loop, const std::string& address, std::vector<std::string> args) {
    std::vector<std::string> command{"busctl", "--address=" + address, "--timeout=5"};
    command.insert(command.end(), args.begin(), args.end());
    ChildProcess tool(command);
    if (!tool.Started() || !RunUntil(loop, [&] { return tool.Ended(); }))
        return {};
    return {tool.ExitCode(), tool.RestOfOutput()};
}

// busctl's arguments for a verb ("call", "get-property", ...) on the monitor's object.
std::vector<std::string> MonitorObject(std::vector<std::string> verb_and_rest) {
    verb_and_rest.insert(verb_and_rest.begin() + 1, {kMonitorBusName, kMonitorObjectPath});
    return verb_and_rest;
}

class MonitorBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(daemon_.Address().empty()) << "dbus-daemon did not start";
        bus_ = LinuxBus::Attach(ConnectSessionBus(daemon_.Address()), loop_, debug_);
        ASSERT_TRUE(bus_);
        service_ = LinuxMonitorService::Create(
            *bus_, {.reload_profiles = [this](std::int32_t id) { profile_ids_.push_back(id); },
                    .reload_settings = [this] { ++settings_reloads_; },
                    .toggle_microphone = [this] { microphone_.ToggleMute(); },
                    .microphone_muted = [this] { return microphone_.Muted(); }});
        ASSERT_TRUE(service_);
        ASSERT_EQ(service_->OwnName(), BusNameResult::Owned);
    }

    [[nodiscard]] std::unique_ptr<LinuxBus> SecondConnection() {
        return LinuxBus::Attach(ConnectSessionBus(daemon_.Address()), loop_, debug_);
    }

    PrivateSessionBus daemon_;
    LinuxMainLoop loop_;
    fake::RecordingDebugOutput debug_;
    fake::FakeMicrophone microphone_;
    std::vector<std::int32_t> profile_ids_;
    int settings_reloads_ = 0;
    std::unique_ptr<LinuxBus> bus_;
    std::unique_ptr<LinuxMonitorService> service_;
};

TEST_F(MonitorBusTest, ASecondMonitorFindsTheNameTaken) {
    const auto second_bus = SecondConnection();
    ASSERT_TRUE(second_bus);
    const auto second = LinuxMonitorService::Create(*second_bus, {});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->OwnName(), BusNameResult::AlreadyOwned);
    // The first keeps it and still answers.
    EXPECT_EQ(Busctl(loop_, daemon_.Address(),
                     MonitorObject({"call", kMonitorInterface, "ReloadSettings"}))
                  .exit_code,
              0);
    EXPECT_EQ(settings_reloads_, 1);
}

struct NameCase {
    int connection;  // the first or the second connection
    BusNameResult expected;
    const char* what;
};

// The name is asked for on fresh connections, whose Hello is still unanswered; a bus that went
// away answers Failed.
TEST(LinuxBus, AskingForANameOnAFreshConnection) {
    PrivateSessionBus daemon;
    const SdBusConnection connections[] = {ConnectSessionBus(daemon.Address()),
                                           ConnectSessionBus(daemon.Address())};
    ASSERT_TRUE(connections[0] && connections[1]);
    const NameCase cases[] = {
        {0, BusNameResult::Owned, "a free name is taken"},
        {0, BusNameResult::Owned, "its owner asks again"},
        {1, BusNameResult::AlreadyOwned, "another connection finds it taken"},
    };
    for (const NameCase& name : cases)
        EXPECT_EQ(RequestBusName(connections[name.connection].get(), "com.korvanth417.Test"),
                  name.expected)
            << name.what;
    daemon.Stop();
    EXPECT_EQ(RequestBusName(connections[1].get(), "com.korvanth417.Other"), BusNameResult::Failed);
}

// A request pushed out early gets the name while the program is still starting; a call the name
// brings meanwhile waits, and finds the object put on the bus before the wait.
TEST(LinuxBus, AnEarlyNameRequestServesItsFirstCallOnlyAfterTheWait) {
    PrivateSessionBus daemon;
    const SdBusConnection program = ConnectSessionBus(daemon.Address());
    const SdBusConnection caller = ConnectSessionBus(daemon.Address());
    ASSERT_TRUE(program && caller);
    BusNameRequest request(program.get(), "com.korvanth417.Test");
    const auto owned = [&caller] {
        return sd_bus_call_method(caller.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "GetNameOwner", nullptr, nullptr, "s",
                                  "com.korvanth417.Test") >= 0;
    };
    const auto deadline = Clock::now() + 5s;
    for (request.Push(); !owned() && Clock::now() < deadline; request.Push())
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(owned()) << "the request did not leave before the wait";

    std::optional<bool> answered_ok;
    sd_bus_slot* call_slot = nullptr;
    ASSERT_GE(sd_bus_call_method_async(
                  caller.get(), &call_slot, "com.korvanth417.Test", "/test", "com.korvanth417.T",
                  "Answer",
                  [](sd_bus_message* reply, void* result, sd_bus_error*) {
                      *static_cast<std::optional<bool>*>(result) =
                          !sd_bus_message_is_method_error(reply, nullptr);
                      return 0;
                  },
                  &answered_ok, ""),
              0);
    const SdBusSlot call(call_slot);
    ASSERT_GE(sd_bus_flush(caller.get()), 0);
    std::this_thread::sleep_for(50ms);  // the call waits in the program's socket

    static const sd_bus_vtable vtable[] = {SD_BUS_VTABLE_START(0),
                                           SD_BUS_METHOD(
                                               "Answer", "", "",
                                               [](sd_bus_message* m, void*, sd_bus_error*) {
                                                   return sd_bus_reply_method_return(m, "");
                                               },
                                               0),
                                           SD_BUS_VTABLE_END};
    sd_bus_slot* object_slot = nullptr;
    ASSERT_GE(sd_bus_add_object_vtable(program.get(), &object_slot, "/test", "com.korvanth417.T",
                                       vtable, nullptr),
              0);
    const SdBusSlot object(object_slot);
    EXPECT_EQ(request.Wait(), BusNameResult::Owned);
    std::atomic<bool> stop = false;
    std::thread serving([&] {
        while (!stop)
            if (sd_bus_process(program.get(), nullptr) == 0)
                static_cast<void>(sd_bus_wait(program.get(), 10'000));
    });
    while (!answered_ok && Clock::now() < deadline + 5s)
        if (sd_bus_process(caller.get(), nullptr) == 0)
            static_cast<void>(sd_bus_wait(caller.get(), 10'000));
    stop = true;
    serving.join();
    ASSERT_TRUE(answered_ok.has_value());
    EXPECT_TRUE(*answered_ok) << "the call reached the program before its object was there";
}

TEST(LinuxBus, NoBusAtTheAddressGivesNoConnection) {
    EXPECT_FALSE(ConnectSessionBus("unix:path=/nonexistent/korv/bus"));
    EXPECT_FALSE(ConnectSessionBus("not an address"));
}

TEST_F(MonitorBusTest, MethodsCalledFromOutsideReachTheirHandlers) {
    EXPECT_EQ(Busctl(loop_, daemon_.Address(),
                     MonitorObject({"call", kMonitorInterface, "ReloadProfiles", "i", "3"}))
                  .exit_code,
              0);
    EXPECT_EQ(profile_ids_, std::vector<std::int32_t>{3});
    EXPECT_EQ(Busctl(loop_, daemon_.Address(),
                     MonitorObject({"call", kMonitorInterface, "ReloadSettings"}))
                  .exit_code,
              0);
    EXPECT_EQ(settings_reloads_, 1);
    EXPECT_EQ(Busctl(loop_, daemon_.Address(),
                     MonitorObject({"call", kMonitorInterface, "ToggleMicrophone"}))
                  .exit_code,
              0);
    EXPECT_EQ(microphone_.toggles, 1);
    EXPECT_EQ(Busctl(loop_, daemon_.Address(),
                     MonitorObject({"get-property", kMonitorInterface, kMicrophoneMutedProperty}))
                  .output,
              "b true\n");
    EXPECT_EQ(profile_ids_.size(), 1u);
}

TEST_F(MonitorBusTest, AnUnreadableMuteStateReadsAsNotMuted) {
    microphone_.muted = true;
    microphone_.readable = false;
    EXPECT_EQ(Busctl(loop_, daemon_.Address(),
                     MonitorObject({"get-property", kMonitorInterface, kMicrophoneMutedProperty}))
                  .output,
              "b false\n");
}

// The configuration program's call returns once the monitor reloaded: the stand-in's command
// that ends after it knows the monitor acts on the new records.
TEST_F(MonitorBusTest, TheConfigurationProgramsCallReturnsAfterTheReloadRan) {
    std::atomic<int> reloads{0};
    service_.reset();
    service_ = LinuxMonitorService::Create(
        *bus_, {.reload_profiles = [&](std::int32_t) { ++reloads; },
                .reload_settings = [&] { ++reloads; },
                .toggle_microphone = [&] { microphone_.ToggleMute(); },
                .microphone_muted = [&] { return microphone_.Muted(); }});
    ASSERT_TRUE(service_);
    struct Seen {
        MonitorAnswer answer;
        int reloads_by_then;
    };
    std::vector<Seen> seen;
    std::optional<bool> muted;
    std::atomic<bool> done{false};
    std::thread client([&] {
        LinuxMonitorClient monitor(ConnectSessionBus(daemon_.Address()));
        const MonitorAnswer first = monitor.ReloadProfiles(4);
        seen.push_back({first, reloads});
        const MonitorAnswer second = monitor.ReloadSettings();
        seen.push_back({second, reloads});
        const MonitorAnswer third = monitor.ToggleMicrophone();
        seen.push_back({third, reloads});
        muted = monitor.MicrophoneMuted();
        done = true;
    });
    const bool finished = RunUntil(loop_, [&] { return done.load(); });
    client.join();
    ASSERT_TRUE(finished);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].answer, MonitorAnswer::Done);
    EXPECT_EQ(seen[0].reloads_by_then, 1);
    EXPECT_EQ(seen[1].answer, MonitorAnswer::Done);
    EXPECT_EQ(seen[1].reloads_by_then, 2);
    EXPECT_EQ(seen[2].answer, MonitorAnswer::Done);
    EXPECT_EQ(microphone_.toggles, 1);
    EXPECT_EQ(muted, std::optional<bool>(true));
}

// Hundreds of reload requests that wait in the queue cost a few reloads, not hundreds; the last
// identifier is the one recorded, and every caller gets its answer.
TEST_F(MonitorBusTest, QueuedReloadRequestsFoldIntoOneAndEveryCallerIsAnswered) {
    const auto client = SecondConnection();
    ASSERT_TRUE(client);
    constexpr int kCalls = 300;
    int answers = 0;
    std::vector<SdBusSlot> pending;
    for (int i = 0; i < kCalls; ++i) {
        sd_bus_slot* slot = nullptr;
        ASSERT_GE(sd_bus_call_method_async(
                      client->Get(), &slot, kMonitorBusName, kMonitorObjectPath, kMonitorInterface,
                      "ReloadProfiles",
                      [](sd_bus_message* reply, void* count, sd_bus_error*) {
                          if (!sd_bus_message_is_method_error(reply, nullptr))
                              ++*static_cast<int*>(count);
                          return 0;
                      },
                      &answers, "i", i),
                  0);
        pending.emplace_back(slot);
    }
    ASSERT_GE(sd_bus_flush(client->Get()), 0);
    std::this_thread::sleep_for(300ms);  // they reach the monitor's socket
    ASSERT_TRUE(RunUntil(loop_, [&] { return answers == kCalls; }));
    ASSERT_FALSE(profile_ids_.empty());
    EXPECT_LE(profile_ids_.size(), 30u);
    EXPECT_EQ(profile_ids_.back(), kCalls - 1);
}

// Calls with the wrong arguments, writes to the read-only property and unknown methods get an
// error reply; no handler runs, and the object answers as before.
TEST_F(MonitorBusTest, CallsThatDoNotFitAreRefusedAndChangeNothing) {
    const std::vector<std::vector<std::string>> refused{
        {"call", kMonitorInterface, "ReloadProfiles", "s", "3"},
        {"call", kMonitorInterface, "ReloadProfiles"},
        {"call", kMonitorInterface, "ReloadProfiles", "x", "99999999999"},
        {"call", kMonitorInterface, "ToggleMicrophone", "b", "true"},
        {"call", kMonitorInterface, "Explode"},
        {"set-property", kMonitorInterface, kMicrophoneMutedProperty, "b", "true"},
        {"call", "com.korvanth417.Other", "ReloadSettings"},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(args[2]);
        EXPECT_NE(Busctl(loop_, daemon_.Address(), MonitorObject(args)).exit_code, 0);
    }
    EXPECT_TRUE(profile_ids_.empty());
    EXPECT_EQ(settings_reloads_, 0);
    EXPECT_EQ(microphone_.toggles, 0);
    EXPECT_EQ(Busctl(loop_, daemon_.Address(),
                     MonitorObject({"call", kMonitorInterface, "ToggleMicrophone"}))
                  .exit_code,
              0);
    EXPECT_EQ(microphone_.toggles, 1);
}

TEST_F(MonitorBusTest, AChangeOfTheMuteStateIsSignalled) {
    const auto watcher = SecondConnection();
    ASSERT_TRUE(watcher);
    std::vector<std::pair<std::string, int>> changes;  // (property, value) of each signal
    sd_bus_slot* raw = nullptr;
    ASSERT_GE(
        sd_bus_match_signal(
            watcher->Get(), &raw, kMonitorBusName, kMonitorObjectPath,
            "org.freedesktop.DBus.Properties", "PropertiesChanged",
            [](sd_bus_message* signal, void* into, sd_bus_error*) {
                const char* interface = nullptr;
                const char* name = nullptr;
                int value = -1;
                if (sd_bus_message_read(signal, "s", &interface) > 0 &&
                    std::string_view(interface) == kMonitorInterface &&
                    sd_bus_message_read(signal, "a{sv}", 1, &name, "b", &value) > 0)
                    static_cast<std::vector<std::pair<std::string, int>>*>(into)->emplace_back(
                        name, value);
                return 0;
            },
            &changes),
        0);
    const SdBusSlot match(raw);
    watcher->Refresh();
    ASSERT_TRUE(service_->EmitMutedChanged(true));
    ASSERT_TRUE(service_->EmitMutedChanged(false));
    ASSERT_TRUE(RunUntil(loop_, [&] { return changes.size() == 2; }));
    EXPECT_EQ(changes[0], std::make_pair(std::string(kMicrophoneMutedProperty), 1));
    EXPECT_EQ(changes[1], std::make_pair(std::string(kMicrophoneMutedProperty), 0));
}

TEST_F(MonitorBusTest, TheClientFindsNoMonitorOrOneThatDoesNotAnswer) {
    service_.reset();
    bus_.reset();  // the monitor's name goes with its connection
    LinuxMonitorClient nobody(ConnectSessionBus(daemon_.Address()));
    auto begin = Clock::now();
    EXPECT_EQ(nobody.ReloadSettings(), MonitorAnswer::NoMonitor);
    EXPECT_EQ(nobody.MicrophoneMuted(), std::nullopt);
    EXPECT_LT(Since(begin), 500ms);
    EXPECT_EQ(LinuxMonitorClient(nullptr).ReloadProfiles(1), MonitorAnswer::NoMonitor);

    const SdBusConnection hanging = HangingOwnerOf(daemon_.Address(), kMonitorBusName);
    ASSERT_TRUE(hanging);
    LinuxMonitorClient impatient(ConnectSessionBus(daemon_.Address()), 200ms);
    begin = Clock::now();
    EXPECT_EQ(impatient.ReloadProfiles(2), MonitorAnswer::NoAnswer);
    EXPECT_GE(Since(begin), 190ms);
    EXPECT_LT(Since(begin), 1000ms);
}

class PeerBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(daemon_.Address().empty()) << "dbus-daemon did not start";
        bus_ = LinuxBus::Attach(ConnectSessionBus(daemon_.Address()), loop_, debug_);
        ASSERT_TRUE(bus_);
        peer_ = std::make_unique<LinuxConfigPeer>(*bus_, program_, debug_);
    }

    // Every call of the port, in one order: what each returned.
    struct Outcome {
        PeerDelivery device_event_2, device_event_6, profile_switch;
        bool shown;
        PeerDelivery monitor_exit;
    };
    Outcome CallEverything() {
        return {peer_->NotifyDeviceEvent(PeerDeviceEvent::Kind2, 5),
                peer_->NotifyDeviceEvent(PeerDeviceEvent::Kind6, 255), peer_->AskProfileSwitched(3),
                peer_->Show(), peer_->NotifyMonitorExit()};
    }

    PrivateSessionBus daemon_;
    LinuxMainLoop loop_;
    fake::RecordingDebugOutput debug_;
    std::string program_ = "/nonexistent/korvanth417-config";
    std::unique_ptr<LinuxBus> bus_;
    std::unique_ptr<LinuxConfigPeer> peer_;
};

TEST_F(PeerBusTest, EachCallReachesThePeerWithItsArgumentsInOrder) {
    const PeerThread config(daemon_.Address());
    ASSERT_TRUE(config.Running());
    const Outcome outcome = CallEverything();
    EXPECT_EQ(outcome.device_event_2, PeerDelivery::Delivered);
    EXPECT_EQ(outcome.device_event_6, PeerDelivery::Delivered);
    EXPECT_EQ(outcome.profile_switch, PeerDelivery::Delivered);
    EXPECT_TRUE(outcome.shown);
    EXPECT_EQ(outcome.monitor_exit, PeerDelivery::Delivered);
    ASSERT_TRUE(RunUntil(loop_, [&] { return config.Lines().size() >= 5; }));
    EXPECT_EQ(config.Lines(), (std::vector<std::string>{
                                  "7042 UM_DEVICE_NOTIFY_2 wParam=5 lParam=0",
                                  "7043 UM_DEVICE_NOTIFY_6 wParam=255 lParam=0",
                                  "7040 UM_PROFILE_SWITCHED wParam=3 lParam=0",
                                  "brought to the front",
                                  "7036 UM_MONITOR_EXIT wParam=0 lParam=0",
                              }));
    EXPECT_TRUE(debug_.lines.empty());
    EXPECT_EQ(peer_->ProgramName(), u"korvanth417-config");
}

// The monitor waits for the answer to a profile switch: the configuration program answers at
// once and acts on the switch afterwards, however long that takes.
TEST_F(PeerBusTest, AProfileSwitchIsAnsweredBeforeItIsActedOn) {
    const PeerThread config(daemon_.Address(), 1500ms);
    ASSERT_TRUE(config.Running());
    const auto begin = Clock::now();
    const ToolResult call = Busctl(
        loop_, daemon_.Address(),
        {"call", kConfigBusName, kConfigObjectPath, kConfigInterface, "ProfileSwitched", "u", "3"});
    EXPECT_EQ(call.exit_code, 0) << call.output;
    EXPECT_LT(Since(begin), 1000ms);
    ASSERT_TRUE(RunUntil(loop_, [&] { return !config.Switched().empty(); }));
    EXPECT_EQ(config.Switched(), (std::vector<std::uint32_t>{3}));
    EXPECT_EQ(config.Lines(),
              (std::vector<std::string>{"7040 UM_PROFILE_SWITCHED wParam=3 lParam=0"}));
}

TEST_F(PeerBusTest, WithoutAPeerEveryCallFindsNoneAtOnce) {
    const auto begin = Clock::now();
    const Outcome outcome = CallEverything();
    EXPECT_LT(Since(begin), 500ms);
    EXPECT_EQ(outcome.device_event_2, PeerDelivery::NoPeer);
    EXPECT_EQ(outcome.device_event_6, PeerDelivery::NoPeer);
    EXPECT_EQ(outcome.profile_switch, PeerDelivery::NoPeer);
    EXPECT_FALSE(outcome.shown);
    EXPECT_EQ(outcome.monitor_exit, PeerDelivery::NoPeer);
    EXPECT_TRUE(debug_.lines.empty());
}

// The slots of the ProfileSwitched calls that reach `peer`, a connection that answers none of
// them, within `time`.
std::vector<std::uint32_t> ReceivedSlots(sd_bus* peer, std::chrono::milliseconds time) {
    std::vector<std::uint32_t> slots;
    const auto end = Clock::now() + time;
    while (Clock::now() < end) {
        sd_bus_message* raw = nullptr;
        const int result = sd_bus_process(peer, &raw);
        const SdBusMessage message(raw);
        std::uint32_t slot = 0;
        if (message &&
            sd_bus_message_is_method_call(message.get(), kConfigInterface, "ProfileSwitched") > 0 &&
            sd_bus_message_read(message.get(), "u", &slot) > 0)
            slots.push_back(slot);
        if (result < 0)
            break;
        if (result == 0)
            sd_bus_wait(peer, 10'000);
    }
    return slots;
}

// Runs the loop for `time`.
void RunFor(LinuxMainLoop& loop, std::chrono::milliseconds time) {
    static_cast<void>(RunUntil(
        loop, [] { return false; }, time));
}

// A process that owns the configuration program's name and is then stopped (SIGSTOP): nothing
// it was sent is read. Killed by its process id when the test ends.
class StoppedPeer {
  public:
    explicit StoppedPeer(const std::string& address) {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            const SdBusConnection bus = HangingOwnerOf(address, kConfigBusName);
            const char owned = bus ? 1 : 0;
            if (write(ready[1], &owned, 1) != 1 || !bus)
                _exit(1);
            for (;;)
                pause();
        }
        close(ready[1]);
        char owned = 0;
        pollfd told{ready[0], POLLIN, 0};
        const bool owns =
            pid_ > 0 && poll(&told, 1, 5000) == 1 && read(ready[0], &owned, 1) == 1 && owned == 1;
        close(ready[0]);
        int status = 0;
        stopped_ = owns && kill(pid_, SIGSTOP) == 0 && waitpid(pid_, &status, WUNTRACED) == pid_ &&
                   WIFSTOPPED(status);
    }
    ~StoppedPeer() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    StoppedPeer(const StoppedPeer&) = delete;
    StoppedPeer& operator=(const StoppedPeer&) = delete;
    [[nodiscard]] bool Stopped() const { return stopped_; }

  private:
    pid_t pid_ = -1;
    bool stopped_ = false;
};

// A peer that hangs: a connection of this process that reads nothing, or a stopped process.
enum class Hang { ReadsNothing, Stopped };

class HangingPeer {
  public:
    HangingPeer(Hang hang, const std::string& address) {
        if (hang == Hang::ReadsNothing)
            connection_ = HangingOwnerOf(address, kConfigBusName);
        else
            process_ = std::make_unique<StoppedPeer>(address);
    }
    [[nodiscard]] bool Ready() const { return connection_ || (process_ && process_->Stopped()); }

  private:
    SdBusConnection connection_;
    std::unique_ptr<StoppedPeer> process_;
};

class HangingPeerTest : public PeerBusTest, public ::testing::WithParamInterface<Hang> {};

INSTANTIATE_TEST_SUITE_P(, HangingPeerTest, ::testing::Values(Hang::ReadsNothing, Hang::Stopped),
                         [](const ::testing::TestParamInfo<Hang>& info) {
                             return info.param == Hang::ReadsNothing ? "ReadsNothing" : "Stopped";
                         });

// The profile switch is on its way at once; the loop's tasks, the notices, the window and the
// end do not wait for the peer; the missing answer is traced when the answer time is up.
TEST_P(HangingPeerTest, HoldsUpNothingAndIsTracedWhenTheAnswerTimeIsUp) {
    const HangingPeer hanging(GetParam(), daemon_.Address());
    ASSERT_TRUE(hanging.Ready());
    const auto asked = Clock::now();
    EXPECT_EQ(peer_->AskProfileSwitched(1), PeerDelivery::Delivered);
    EXPECT_LT(Since(asked), 50ms);

    bool pressed = false;  // a mute press reaches the main thread as a task
    ASSERT_TRUE(loop_.PostTask([&] { pressed = true; }));
    ASSERT_TRUE(RunUntil(loop_, [&] { return pressed; }));
    EXPECT_LT(Since(asked), 100ms);
    auto begin = Clock::now();
    EXPECT_EQ(peer_->NotifyDeviceEvent(PeerDeviceEvent::Kind2, 1), PeerDelivery::Delivered);
    EXPECT_TRUE(peer_->Show());
    EXPECT_EQ(peer_->NotifyMonitorExit(), PeerDelivery::Delivered);
    EXPECT_LT(Since(begin), 300ms);
    EXPECT_TRUE(debug_.lines.empty());

    ASSERT_TRUE(RunUntil(loop_, [&] { return !debug_.lines.empty(); }));
    EXPECT_GE(Since(asked), kPeerAnswerTimeout - 10ms);
    EXPECT_LT(Since(asked), kPeerAnswerTimeout + 500ms);
    EXPECT_EQ(debug_.lines, std::vector<std::u16string>{std::u16string(kPeerNoAnswerTrace)});
}

// A call to the monitor that waits in its socket while the question goes out (sd-bus may read
// it into its own queue during the owner lookup, where the socket no longer shows it) is served
// at once, long before the peer's answer time is up.
TEST_P(HangingPeerTest, AMutePressOverTheBusIsServedWhileTheQuestionIsOnItsWay) {
    fake::FakeMicrophone microphone;
    MonitorRequests requests;
    requests.toggle_microphone = [&] { microphone.ToggleMute(); };
    const auto service = LinuxMonitorService::Create(*bus_, std::move(requests));
    ASSERT_TRUE(service);
    ASSERT_EQ(service->OwnName(), BusNameResult::Owned);
    const HangingPeer hanging(GetParam(), daemon_.Address());
    ASSERT_TRUE(hanging.Ready());
    loop_.ProcessPending();  // nothing left for the bus to do
    ChildProcess toggle({"busctl", "--address=" + daemon_.Address(), "call", kMonitorBusName,
                         kMonitorObjectPath, kMonitorInterface, "ToggleMicrophone"});
    ASSERT_TRUE(toggle.Started());
    std::this_thread::sleep_for(200ms);  // the call waits in the monitor's socket
    const auto asked = Clock::now();
    EXPECT_EQ(peer_->AskProfileSwitched(0), PeerDelivery::Delivered);
    EXPECT_TRUE(RunUntil(
        loop_, [&] { return microphone.toggles == 1; }, 2s));
    EXPECT_LT(Since(asked), 300ms);
    EXPECT_TRUE(RunUntil(loop_, [&] { return toggle.Ended(); }));
    EXPECT_EQ(toggle.ExitCode(), 0);
}

// Switches while a question is on its way are not queued: the one that waits is replaced, and
// the peer is asked once more, for the latest slot, when the first question's time is up.
TEST_F(PeerBusTest, SwitchesWhileAQuestionIsOnItsWayFoldIntoTheLatest) {
    const SdBusConnection hanging = HangingOwnerOf(daemon_.Address(), kConfigBusName);
    ASSERT_TRUE(hanging);
    for (const std::uint8_t slot : std::initializer_list<std::uint8_t>{0, 1, 2, 3})
        EXPECT_EQ(peer_->AskProfileSwitched(slot), PeerDelivery::Delivered);
    EXPECT_EQ(ReceivedSlots(hanging.get(), 300ms), std::vector<std::uint32_t>{0});
    ASSERT_TRUE(RunUntil(loop_, [&] { return debug_.lines.size() == 1; }));
    EXPECT_EQ(ReceivedSlots(hanging.get(), 300ms), std::vector<std::uint32_t>{3});
    ASSERT_TRUE(RunUntil(loop_, [&] { return debug_.lines.size() == 2; }));
    RunFor(loop_, 200ms);
    EXPECT_TRUE(ReceivedSlots(hanging.get(), 300ms).empty());
    EXPECT_EQ(debug_.lines, std::vector<std::u16string>(2, std::u16string(kPeerNoAnswerTrace)));
}

// How a running peer answers ProfileSwitched.
enum class Manner {
    Answers,
    Refuses,              // with an error reply
    CallsTheMonitorBack,  // calls ReloadProfiles(slot) and waits for it before it answers
};

// A peer on a thread of its own that owns the name and answers in the way it is given; keeps
// the slots it was asked about.
class AnsweringPeer {
  public:
    AnsweringPeer(const std::string& address, Manner manner) : manner_(manner) {
        std::promise<bool> ready;
        std::future<bool> owned = ready.get_future();
        thread_ = std::thread([this, address, &ready] {
            const SdBusConnection bus = HangingOwnerOf(address, kConfigBusName);
            ready.set_value(bus != nullptr);
            if (bus)
                Serve(bus.get());
        });
        ready_ = owned.get();
    }
    ~AnsweringPeer() {
        stop_ = true;
        thread_.join();
    }
    [[nodiscard]] bool Ready() const { return ready_; }
    [[nodiscard]] std::vector<std::uint32_t> Slots() const {
        const std::lock_guard lock(mutex_);
        return slots_;
    }

  private:
    void Serve(sd_bus* bus) {
        while (!stop_) {
            sd_bus_message* raw = nullptr;
            const int result = sd_bus_process(bus, &raw);
            const SdBusMessage message(raw);
            if (result < 0)
                return;
            if (message && sd_bus_message_is_method_call(message.get(), kConfigInterface,
                                                         "ProfileSwitched") > 0)
                Answer(bus, message.get());
            if (result == 0)
                sd_bus_wait(bus, 20'000);
        }
    }
    void Answer(sd_bus* bus, sd_bus_message* call) {
        std::uint32_t slot = 0;
        if (sd_bus_message_read(call, "u", &slot) <= 0)
            return;
        {
            const std::lock_guard lock(mutex_);
            slots_.push_back(slot);
        }
        if (manner_ == Manner::Refuses) {
            sd_bus_reply_method_errorf(call, "com.korvanth417.Config1.Error.Busy", "busy");
            return;
        }
        if (manner_ == Manner::CallsTheMonitorBack) {
            SdBusError error;
            sd_bus_message* reply = nullptr;
            sd_bus_call_method(bus, kMonitorBusName, kMonitorObjectPath, kMonitorInterface,
                               "ReloadProfiles", error.Get(), &reply, "i",
                               static_cast<std::int32_t>(slot));
            sd_bus_message_unref(reply);
        }
        sd_bus_reply_method_return(call, "");
    }

    Manner manner_;
    std::thread thread_;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> slots_;
};

struct AnswerCase {
    const char* name;
    Manner manner;
    std::size_t traces;  // of kPeerNoAnswerTrace
};

class AnsweringPeerTest : public PeerBusTest, public ::testing::WithParamInterface<AnswerCase> {};

INSTANTIATE_TEST_SUITE_P(
    , AnsweringPeerTest,
    ::testing::Values(AnswerCase{"Answers", Manner::Answers, 0},
                      AnswerCase{"Refuses", Manner::Refuses, 2},
                      AnswerCase{"CallsTheMonitorBack", Manner::CallsTheMonitorBack, 0}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

// A peer that answers is asked about the first switch and, once it answered, about the latest;
// a refusal is traced as it comes; a peer that calls the monitor back before it answers is
// served meanwhile, with no wait on either side.
TEST_P(AnsweringPeerTest, IsToldTheFirstAndTheLatestSwitchAsItAnswers) {
    std::vector<std::int32_t> reloads;
    MonitorRequests requests;
    requests.reload_profiles = [&](std::int32_t id) { reloads.push_back(id); };
    const auto service = LinuxMonitorService::Create(*bus_, std::move(requests));
    ASSERT_TRUE(service);
    ASSERT_EQ(service->OwnName(), BusNameResult::Owned);
    const AnsweringPeer config(daemon_.Address(), GetParam().manner);
    ASSERT_TRUE(config.Ready());
    const auto asked = Clock::now();
    for (const std::uint8_t slot : std::initializer_list<std::uint8_t>{0, 1, 2, 3})
        EXPECT_EQ(peer_->AskProfileSwitched(slot), PeerDelivery::Delivered);
    EXPECT_LT(Since(asked), 200ms);
    // The second question goes out once the first was answered: long before its time is up.
    EXPECT_TRUE(RunUntil(
        loop_, [&] { return config.Slots().size() == 2; }, 500ms));
    RunFor(loop_, kPeerAnswerTimeout + 200ms);
    EXPECT_EQ(config.Slots(), (std::vector<std::uint32_t>{0, 3}));
    EXPECT_EQ(debug_.lines,
              std::vector<std::u16string>(GetParam().traces, std::u16string(kPeerNoAnswerTrace)));
    if (GetParam().manner == Manner::CallsTheMonitorBack) {
        EXPECT_EQ(reloads, (std::vector<std::int32_t>{0, 3}));
    }
}

// Destroying the peer cancels the question on its way (no answer or time-out calls back into
// it) and drops the switch that waits.
TEST_F(PeerBusTest, DestroyingThePeerDropsItsQuestionAndTheSwitchThatWaits) {
    const SdBusConnection hanging = HangingOwnerOf(daemon_.Address(), kConfigBusName);
    ASSERT_TRUE(hanging);
    EXPECT_EQ(peer_->AskProfileSwitched(0), PeerDelivery::Delivered);
    EXPECT_EQ(peer_->AskProfileSwitched(4), PeerDelivery::Delivered);
    peer_.reset();
    RunFor(loop_, kPeerAnswerTimeout + 300ms);
    EXPECT_TRUE(debug_.lines.empty());
    EXPECT_EQ(ReceivedSlots(hanging.get(), 200ms), std::vector<std::uint32_t>{0});
}

// The names of processes that are children of this one, zombies included.
std::vector<std::string> ChildrenNamed(std::string_view prefix) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto open = text.find('(');
        const auto close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        const std::string name = text.substr(open + 1, close - open - 1);
        if (parent == getpid() && name.starts_with(prefix))
            found.push_back(name + " " + state);
    }
    return found;
}

TEST_F(PeerBusTest, StartRunsTheProgramFromItsFolderAndReapsIt) {
    const korv::os_linux::testing::TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string program = folder.Path() + "/" + kConfigProgramFile;
    {
        std::ofstream script(program);
        // Written aside and renamed, so the file the test waits for appears whole.
        script << "#!/bin/sh\npwd > \"$0.part\" && mv \"$0.part\" \"$0.ran\"\n";
    }
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    LinuxConfigPeer peer(*bus_, program, debug_);
    EXPECT_TRUE(peer.Start());
    ASSERT_TRUE(RunUntil(loop_, [&] { return std::filesystem::exists(program + ".ran"); }));
    std::ifstream ran(program + ".ran");
    std::string working_folder;
    std::getline(ran, working_folder);
    EXPECT_EQ(working_folder, folder.Path());
    // Ended and reaped: no zombie of it stays behind.
    EXPECT_TRUE(RunUntil(loop_, [] { return ChildrenNamed("korvanth417").empty(); }))
        << ChildrenNamed("korvanth417").front();

    EXPECT_FALSE(peer_->Start());  // there is no such program
}

// A question on its way when the bus goes away ends without a trace of its own.
TEST_F(PeerBusTest, TheBusGoingAwayLeavesNothingWatchedAndNoPeer) {
    const SdBusConnection hanging = HangingOwnerOf(daemon_.Address(), kConfigBusName);
    ASSERT_TRUE(hanging);
    EXPECT_EQ(peer_->AskProfileSwitched(2), PeerDelivery::Delivered);
    EXPECT_EQ(peer_->AskProfileSwitched(3), PeerDelivery::Delivered);
    daemon_.Stop();
    ASSERT_TRUE(RunUntil(loop_, [&] { return !bus_->Connected(); }));
    EXPECT_EQ(debug_.lines, std::vector<std::u16string>{u"Session bus connection lost"});
    const Outcome outcome = CallEverything();
    EXPECT_EQ(outcome.profile_switch, PeerDelivery::NoPeer);
    EXPECT_EQ(outcome.monitor_exit, PeerDelivery::NoPeer);
    EXPECT_FALSE(outcome.shown);
}

// What the loop's epoll set watches: each descriptor and the events it waits for.
std::vector<std::pair<int, std::uint32_t>> WatchedDescriptors() {
    std::vector<std::pair<int, std::uint32_t>> watched;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != "anon_inode:[eventpoll]")
            continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        for (std::string line; std::getline(info, line);) {
            int fd = -1;
            unsigned events = 0;
            if (std::sscanf(line.c_str(), "tfd: %d events: %x", &fd, &events) == 2)
                watched.emplace_back(fd, events);
        }
    }
    return watched;
}

// "socket", "anon_inode:[eventfd]", "anon_inode:[timerfd]", ...
std::string DescriptorKind(int fd) {
    std::error_code error;
    const std::string target =
        std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return target.starts_with("socket:") ? "socket" : target;
}

long VoluntarySwitchesOfThisThread() {
    std::ifstream status("/proc/thread-self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("voluntary_ctxt_switches:"))
            return std::stol(line.substr(line.find(':') + 1));
    return -1;
}

// Serving its name after a call, the monitor's loop watches the task wake-up, the bus socket
// for input only and the bus's timer, disarmed; a second of idling costs only the wake-up that
// ends it.
TEST_F(PeerBusTest, AnIdleConnectionWakesNothing) {
    const auto service = LinuxMonitorService::Create(*bus_, {});
    ASSERT_TRUE(service);
    ASSERT_EQ(service->OwnName(), BusNameResult::Owned);
    ASSERT_EQ(Busctl(loop_, daemon_.Address(),
                     MonitorObject({"call", kMonitorInterface, "ReloadSettings"}))
                  .exit_code,
              0);
    EXPECT_EQ(peer_->NotifyMonitorExit(), PeerDelivery::NoPeer);
    loop_.ProcessPending();

    std::map<std::string, std::vector<std::uint32_t>> watched;
    for (const auto& [fd, events] : WatchedDescriptors()) {
        watched[DescriptorKind(fd)].push_back(events &
                                              ~static_cast<std::uint32_t>(EPOLLHUP | EPOLLERR));
        if (DescriptorKind(fd) == "socket") {
            EXPECT_EQ(fd, sd_bus_get_fd(bus_->Get()));
        }
        if (DescriptorKind(fd) == "anon_inode:[timerfd]") {
            std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
            const std::string text((std::istreambuf_iterator<char>(info)), {});
            EXPECT_NE(text.find("it_value: (0, 0)"), std::string::npos) << text;
        }
    }
    const std::vector<std::uint32_t> input{EPOLLIN};
    EXPECT_EQ(
        watched,
        (std::map<std::string, std::vector<std::uint32_t>>{
            {"socket", input}, {"anon_inode:[eventfd]", input}, {"anon_inode:[timerfd]", input}}));

    // Counted once the thread that ends the loop exists: starting a thread may wait for memory.
    std::thread ender([&] {
        std::this_thread::sleep_for(1s);
        loop_.Quit(0);
    });
    // Only the run is counted: joining the thread that ended it may wait for that thread.
    const long before = VoluntarySwitchesOfThisThread();
    EXPECT_EQ(loop_.Run(), 0);
    const long after = VoluntarySwitchesOfThisThread();
    ender.join();
    EXPECT_LE(after - before, 2);
}

}  // namespace
}  // namespace korv::os_linux
