// Device arrivals on Linux, through the real kernel interfaces: udev events sent to the udev
// netlink group inside a private network namespace reach the libudev monitor in the main loop,
// and socket files that appear in and vanish from the simulated interfaces' folder reach it
// through inotify.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/linux_device_notifications.h"
#include "platform/linux/linux_main_loop.h"
#include "tests/linux/sim_test_support.h"
#include "tests/linux/udev_event_sender.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;
using test::ListenOn;
using test::LoopRunner;
using test::TempFolder;
using test::UdevEventSender;

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

std::string Describe(const std::vector<DeviceEvent>& events) {
    std::string text;
    for (const DeviceEvent& event : events)
        text += std::to_string(static_cast<int>(event.kind)) + ":" + Narrow(event.path) + " ";
    return text;
}

class RecordingListener : public DeviceChangeListener {
  public:
    explicit RecordingListener(LoopRunner& runner) : runner_(runner) {}
    void OnDeviceEvent(const DeviceEvent& event) override {
        events.push_back(event);
        if (on_event)
            on_event();
        runner_.Check();
    }

    std::vector<DeviceEvent> events;
    std::function<void()> on_event;

  private:
    LoopRunner& runner_;
};

DeviceEvent Arrival(const std::string& path) {
    return {DeviceEventKind::Arrival, std::u16string(path.begin(), path.end())};
}
DeviceEvent Removal(const std::string& path) {
    return {DeviceEventKind::Removal, std::u16string(path.begin(), path.end())};
}

// A loop, a listener and a socket folder of the test's own.
class DeviceNotificationsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(runtime_.Valid()); }

    std::string SocketFolder() const { return runtime_ / "korvanth417"; }

    bool WaitForEvents(std::size_t count) {
        return runner_.RunUntil([&] { return listener_.events.size() >= count; });
    }

    TempFolder runtime_;
    LinuxMainLoop loop_;
    LoopRunner runner_{loop_};
    RecordingListener listener_{runner_};
};

// Everything of a udev test runs on the namespace's thread: the loop, the monitor's socket and
// the sender's.
TEST_F(DeviceNotificationsTest, UdevAddAndRemoveOfHidrawNodesArriveWithTheirNodesAndNothingElse) {
    const std::string uevent_of_kernel =
        std::string("add@/devices/x/hidraw/hidraw5\0ACTION=add", 40);
    std::string wrong_magic = test::UdevMonitorMessage(test::HidrawEventProperties("add", 5, 9));
    wrong_magic[8] ^= 0xFF;
    std::string properties_beyond_end = test::UdevMonitorMessage({"ACTION=add"});
    properties_beyond_end[16] = 0x7F;  // properties offset far past the message
    const std::vector<std::string> nonsense = {
        "",
        "libudev",
        uevent_of_kernel,
        wrong_magic,
        properties_beyond_end,
        test::UdevMonitorMessage(test::HidrawEventProperties("add", 5, 9)).substr(0, 50),
        test::UdevMonitorMessage({"ACTION=add", "SUBSYSTEM=hidraw", "DEVNAME=/dev/hidraw5"}),
        test::UdevMonitorMessage({"ACTION=add", "DEVPATH=/devices/virtual/input/input5",
                                  "SUBSYSTEM=input", "SEQNUM=10"}),
        test::UdevMonitorMessage(test::HidrawEventProperties("change", 5, 11)),
        test::UdevMonitorMessage(test::HidrawEventProperties("bind", 5, 12)),
        std::string(3000, '\xFF'),
    };
    const int error = test::RunInPrivateNetworkNamespace([&] {
        LinuxMainLoop loop;
        LoopRunner runner(loop);
        RecordingListener listener(runner);
        LinuxDeviceNotifications notifications(loop, "", HidrawEvents::FromUdevDaemon);
        const DeviceNotificationStart start = notifications.Register(listener);
        ASSERT_NE(start.registration, nullptr);
        ASSERT_FALSE(start.failure.has_value()) << Narrow(start.failure->call);
        const UdevEventSender sender;
        ASSERT_TRUE(sender.Valid());

        ASSERT_TRUE(sender.Send(test::HidrawEventProperties("add", 3, 1)));
        for (const std::string& message : nonsense)
            static_cast<void>(sender.SendRaw(message));  // some the kernel refuses already
        ASSERT_TRUE(sender.Send(test::HidrawEventProperties("remove", 3, 2)));
        // Each message is read in its turn: once the removal is in, the nonsense before it was
        // read too.
        EXPECT_TRUE(runner.RunUntil([&] { return listener.events.size() >= 2; }))
            << Describe(listener.events);
        loop.ProcessPending();
        EXPECT_EQ(listener.events,
                  (std::vector<DeviceEvent>{Arrival("/dev/hidraw3"), Removal("/dev/hidraw3")}))
            << Describe(listener.events);
    });
    if (error == EPERM)
        GTEST_SKIP() << "a private network namespace needs CAP_SYS_ADMIN";
    ASSERT_EQ(error, 0);
}

TEST_F(DeviceNotificationsTest, UdevEventsArriveInTheLoopWithoutPollingAndInOrder) {
    const int error = test::RunInPrivateNetworkNamespace([&] {
        LinuxMainLoop loop;
        LoopRunner runner(loop);
        RecordingListener listener(runner);
        LinuxDeviceNotifications notifications(loop, "", HidrawEvents::FromUdevDaemon);
        const DeviceNotificationStart start = notifications.Register(listener);
        ASSERT_FALSE(start.failure.has_value());
        const UdevEventSender sender;
        // More than one wake-up takes.
        std::vector<DeviceEvent> expected;
        for (int i = 0; i < 150; ++i) {
            const bool add = i % 2 == 0;
            ASSERT_TRUE(sender.Send(test::HidrawEventProperties(add ? "add" : "remove", i, i + 1)));
            const std::string node = "/dev/hidraw" + std::to_string(i);
            expected.push_back(add ? Arrival(node) : Removal(node));
        }
        // Nothing is delivered outside the loop.
        EXPECT_TRUE(listener.events.empty());
        EXPECT_TRUE(runner.RunUntil([&] { return listener.events.size() >= expected.size(); }));
        EXPECT_EQ(listener.events, expected);
    });
    if (error == EPERM)
        GTEST_SKIP() << "a private network namespace needs CAP_SYS_ADMIN";
    ASSERT_EQ(error, 0);
}

// Without a udev daemon the kernel's own hidraw nodes tell: a hidrawN character device that
// appears in the dev folder is an arrival, one that goes a removal; other entries are neither.
TEST_F(DeviceNotificationsTest, WithoutAUdevDaemonHidrawNodesOfTheDevFolderArriveAndGo) {
    const std::string dev = runtime_ / "dev";
    ASSERT_EQ(mkdir(dev.c_str(), 0755), 0);
    LinuxDeviceNotifications notifications(loop_, "", HidrawEvents::FromDevFolder, dev);
    const DeviceNotificationStart start = notifications.Register(listener_);
    ASSERT_FALSE(start.failure.has_value()) << Narrow(start.failure->call);
    const std::string node = dev + "/hidraw7";
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(245, 7)) != 0)
        GTEST_SKIP() << "making a character device needs CAP_MKNOD";
    std::ofstream(dev + "/hidraw8") << "a plain file, not a node";
    ASSERT_EQ(mknod((dev + "/tty9").c_str(), S_IFCHR | 0600, makedev(4, 9)), 0);
    ASSERT_TRUE(WaitForEvents(1)) << Describe(listener_.events);
    ASSERT_EQ(unlink(node.c_str()), 0);
    ASSERT_TRUE(WaitForEvents(2)) << Describe(listener_.events);
    loop_.ProcessPending();
    EXPECT_EQ(listener_.events, (std::vector<DeviceEvent>{Arrival(node), Removal(node)}))
        << Describe(listener_.events);
}

TEST_F(DeviceNotificationsTest, TheClassIsHidrawAndTheSocketFolderIsCreatedForItsOwnerOnly) {
    LinuxDeviceNotifications notifications(loop_, SocketFolder());
    EXPECT_EQ(notifications.InterfaceClassName(), u"hidraw");
    const DeviceNotificationStart start = notifications.Register(listener_);
    ASSERT_NE(start.registration, nullptr);
    EXPECT_FALSE(start.failure.has_value()) << Narrow(start.failure->call);
    struct stat status {};
    ASSERT_EQ(stat(SocketFolder().c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST_F(DeviceNotificationsTest, SocketsThatAppearAndVanishAreArrivalsAndRemovalsOtherFilesAreNot) {
    ASSERT_EQ(mkdir(SocketFolder().c_str(), 0700), 0);
    // There before the registration: not an arrival, but its removal is noticed.
    const std::string old_socket = SocketFolder() + "/OLD";
    auto old_server = std::make_unique<UniqueFd>(ListenOn(old_socket));
    ASSERT_TRUE(old_server->Valid());
    LinuxDeviceNotifications notifications(loop_, SocketFolder());
    const DeviceNotificationStart start = notifications.Register(listener_);
    ASSERT_FALSE(start.failure.has_value());

    const std::string plain_file = SocketFolder() + "/plain";
    std::ofstream(plain_file) << "not a socket";
    ASSERT_EQ(mkdir((SocketFolder() + "/sub").c_str(), 0700), 0);
    const std::string device = SocketFolder() + "/KORV-SIM-1";
    UniqueFd server = ListenOn(device);
    ASSERT_TRUE(server.Valid());
    ASSERT_TRUE(WaitForEvents(1)) << Describe(listener_.events);

    ASSERT_EQ(unlink(plain_file.c_str()), 0);
    ASSERT_EQ(rmdir((SocketFolder() + "/sub").c_str()), 0);
    ASSERT_EQ(unlink(device.c_str()), 0);
    ASSERT_EQ(unlink(old_socket.c_str()), 0);
    // A socket renamed into the folder arrives, one renamed out of it is removed.
    const std::string outside = runtime_ / "elsewhere";
    UniqueFd moved = ListenOn(outside);
    ASSERT_TRUE(moved.Valid());
    ASSERT_EQ(rename(outside.c_str(), (SocketFolder() + "/MOVED").c_str()), 0);
    ASSERT_TRUE(WaitForEvents(4)) << Describe(listener_.events);
    ASSERT_EQ(rename((SocketFolder() + "/MOVED").c_str(), outside.c_str()), 0);
    ASSERT_TRUE(WaitForEvents(5)) << Describe(listener_.events);
    loop_.ProcessPending();
    EXPECT_EQ(listener_.events,
              (std::vector<DeviceEvent>{Arrival(device), Removal(device), Removal(old_socket),
                                        Arrival(SocketFolder() + "/MOVED"),
                                        Removal(SocketFolder() + "/MOVED")}))
        << Describe(listener_.events);
}

TEST_F(DeviceNotificationsTest, AFolderRemovedWhileWatchedIsMadeAgainAndStillWatched) {
    LinuxDeviceNotifications notifications(loop_, SocketFolder());
    const DeviceNotificationStart start = notifications.Register(listener_);
    ASSERT_FALSE(start.failure.has_value());
    ASSERT_EQ(rmdir(SocketFolder().c_str()), 0);
    // The folder comes back once the loop has seen it go.
    EXPECT_TRUE(test::PollUntil(loop_, [&] {
        struct stat status {};
        return stat(SocketFolder().c_str(), &status) == 0;
    }));
    UniqueFd server = ListenOn(SocketFolder() + "/LATER");
    ASSERT_TRUE(server.Valid());
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(listener_.events, std::vector<DeviceEvent>{Arrival(SocketFolder() + "/LATER")});
}

TEST_F(DeviceNotificationsTest, NodesChangedIsPostedThroughTheLoopAndNotAfterTheEnd) {
    LinuxDeviceNotifications notifications(loop_, SocketFolder());
    DeviceNotificationStart start = notifications.Register(listener_);
    ASSERT_TRUE(start.registration->PostNodesChanged());
    EXPECT_TRUE(listener_.events.empty());  // not from inside the call
    loop_.ProcessPending();
    EXPECT_EQ(listener_.events, (std::vector<DeviceEvent>{{DeviceEventKind::NodesChanged, {}}}));

    ASSERT_TRUE(start.registration->PostNodesChanged());
    start.registration.reset();
    loop_.ProcessPending();
    EXPECT_EQ(listener_.events.size(), 1u);
}

// A folder that cannot be made refuses the socket notices and names mkdir with its errno; the
// registration still exists, posts its own notices, and udev's are unaffected.
TEST_F(DeviceNotificationsTest, ARefusedFolderNamesTheFailingCallAndKeepsTheRegistration) {
    std::ofstream(runtime_ / "file") << "x";
    struct Case {
        std::string folder;
        std::u16string call;
        std::uint32_t error;
    };
    const Case cases[] = {
        {runtime_ / "missing/korvanth417", u"mkdir", ENOENT},
        {runtime_ / "file", u"mkdir", ENOTDIR},
        {runtime_ / "file/korvanth417", u"mkdir", ENOTDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        LinuxDeviceNotifications notifications(loop_, c.folder);
        DeviceNotificationStart start = notifications.Register(listener_);
        ASSERT_NE(start.registration, nullptr);
        ASSERT_TRUE(start.failure.has_value());
        EXPECT_EQ(start.failure->call, c.call);
        EXPECT_EQ(start.failure->error, c.error);
        listener_.events.clear();
        EXPECT_TRUE(start.registration->PostNodesChanged());
        loop_.ProcessPending();
        EXPECT_EQ(listener_.events.size(), 1u);
    }
}

TEST_F(DeviceNotificationsTest, AListenerMayEndTheRegistrationFromItsCallback) {
    LinuxDeviceNotifications notifications(loop_, SocketFolder());
    DeviceNotificationStart start = notifications.Register(listener_);
    ASSERT_FALSE(start.failure.has_value());
    listener_.on_event = [&] { start.registration.reset(); };
    // Both are read in one batch; the second is not delivered once the registration is gone.
    UniqueFd first = ListenOn(SocketFolder() + "/A");
    UniqueFd second = ListenOn(SocketFolder() + "/B");
    ASSERT_TRUE(first.Valid() && second.Valid());
    EXPECT_TRUE(WaitForEvents(1));
    loop_.ProcessPending();
    EXPECT_EQ(listener_.events, std::vector<DeviceEvent>{Arrival(SocketFolder() + "/A")});
    EXPECT_EQ(start.registration, nullptr);
}

}  // namespace
}  // namespace korv::os_linux
