// Message boxes as desktop notifications on a private session bus: the notification server's
// stand-in sees the call's arguments, the trace line is written with or without a server, and a
// server that never answers, or a bus that went away, holds nothing up.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/fake/fake_system.h"
#include "platform/linux/linux_bus.h"
#include "platform/linux/linux_notifications.h"
#include "tests/linux/private_session_bus.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;
using korv::testing::PrivateSessionBus;
using korv::testing::RunUntil;
using Clock = std::chrono::steady_clock;

// What one Notify call carried.
struct Notification {
    std::string app_name;
    std::uint32_t replaces_id = 0;
    std::string app_icon;
    std::string summary;
    std::string body;
    std::size_t actions = 0;
    std::int32_t expire_timeout = 0;
};

// The desktop's notification server: owns the name on its own connection, served by the test's
// loop, and keeps every Notify call it answers.
class NotificationServer {
  public:
    NotificationServer(const std::string& address, LinuxMainLoop& loop, const DebugOutput& debug) {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", OnNotify, 0),
            SD_BUS_VTABLE_END,
        };
        bus_ = LinuxBus::Attach(ConnectSessionBus(address), loop, debug);
        sd_bus_slot* slot = nullptr;
        if (!bus_ || sd_bus_add_object_vtable(bus_->Get(), &slot, kNotificationsObjectPath,
                                              kNotificationsInterface, vtable, this) < 0)
            return;
        object_.reset(slot);
        owned_ = RequestBusName(bus_->Get(), kNotificationsBusName) == BusNameResult::Owned;
        bus_->Refresh();
    }
    [[nodiscard]] bool Running() const { return owned_; }

    std::vector<Notification> received;

  private:
    static int OnNotify(sd_bus_message* call, void* self, sd_bus_error*) {
        Notification got;
        const char* strings[4] = {};
        char** actions = nullptr;
        int read = sd_bus_message_read(call, "sus", &strings[0], &got.replaces_id, &strings[1]);
        if (read >= 0)
            read = sd_bus_message_read(call, "ss", &strings[2], &strings[3]);
        if (read >= 0)
            read = sd_bus_message_read_strv(call, &actions);
        if (read >= 0)
            read = sd_bus_message_skip(call, "a{sv}");
        if (read >= 0)
            read = sd_bus_message_read(call, "i", &got.expire_timeout);
        for (char** action = actions; action != nullptr && *action != nullptr; ++action) {
            ++got.actions;
            free(*action);
        }
        free(actions);
        if (read < 0)
            return read;
        got.app_name = strings[0];
        got.app_icon = strings[1];
        got.summary = strings[2];
        got.body = strings[3];
        auto& server = *static_cast<NotificationServer*>(self);
        server.received.push_back(got);
        return sd_bus_reply_method_return(call, "u",
                                          static_cast<std::uint32_t>(server.received.size()));
    }

    std::unique_ptr<LinuxBus> bus_;
    SdBusSlot object_;
    bool owned_ = false;
};

class Notifications : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(daemon_.Address().empty()) << "dbus-daemon did not start";
        bus_ = LinuxBus::Attach(ConnectSessionBus(daemon_.Address()), loop_, debug_);
        ASSERT_TRUE(bus_);
        boxes_ = std::make_unique<LinuxNotifications>(*bus_, debug_, [this] { return title_; });
    }

    // Runs the loop for `time`, whatever happens.
    void RunFor(std::chrono::milliseconds time) {
        const auto end = Clock::now() + time;
        static_cast<void>(RunUntil(
            loop_, [&] { return Clock::now() > end; }, time + 1s));
    }

    PrivateSessionBus daemon_;
    LinuxMainLoop loop_;
    fake::RecordingDebugOutput debug_;
    std::u16string title_ = u"GAMING MOUSE MONITOR";
    std::unique_ptr<LinuxBus> bus_;
    std::unique_ptr<LinuxNotifications> boxes_;
};

TEST_F(Notifications, EachBoxReachesTheServerAsANotificationAndIsTraced) {
    NotificationServer server(daemon_.Address(), loop_, debug_);
    ASSERT_TRUE(server.Running());
    struct Case {
        std::u16string title, caption, text;
        std::string sent_title, sent_caption, sent_text;
    };
    const Case cases[] = {
        {u"GAMING MOUSE MONITOR", u"GAMING MOUSE MONITOR",
         u"The sound server is not connected; the microphone mute is not toggled",
         "GAMING MOUSE MONITOR", "GAMING MOUSE MONITOR",
         "The sound server is not connected; the microphone mute is not toggled"},
        // A title in another language, and a caption that is not the title.
        {u"\u6e38\u620f\u9f20\u6807", u"Error", u"uiHook.dll can not be found!",
         "\xe6\xb8\xb8\xe6\x88\x8f\xe9\xbc\xa0\xe6\xa0\x87", "Error",
         "uiHook.dll can not be found!"},
        // Markup characters go through as they are: the server decides what they mean.
        {u"T", u"<b>&", u"", "T", "<b>&", ""},
    };
    for (const Case& one : cases) {
        title_ = one.title;
        const std::size_t before = server.received.size();
        debug_.lines.clear();
        boxes_->ShowError(one.text, one.caption);
        EXPECT_EQ(debug_.lines, std::vector<std::u16string>{one.caption + u": " + one.text});
        ASSERT_TRUE(RunUntil(loop_, [&] { return server.received.size() > before; }));
        const Notification& got = server.received.back();
        EXPECT_EQ(got.app_name, one.sent_title);
        EXPECT_EQ(got.replaces_id, 0u);
        EXPECT_EQ(got.app_icon, "korvanth417-monitor");
        EXPECT_EQ(got.summary, one.sent_caption);
        EXPECT_EQ(got.body, one.sent_text);
        EXPECT_EQ(got.actions, 0u);
        EXPECT_EQ(got.expire_timeout, -1);
    }
    RunFor(100ms);
    EXPECT_EQ(server.received.size(), std::size(cases)) << "one notification per box";
}

// Without a server, and with a bus that is gone, the trace line is all there is; the bus stays
// usable in the first case, and a server that comes later gets the next box.
TEST_F(Notifications, WithoutAServerTheTraceLineIsAllThereIs) {
    boxes_->ShowError(u"first", u"Caption");
    RunFor(100ms);
    EXPECT_EQ(debug_.lines, std::vector<std::u16string>{u"Caption: first"});
    EXPECT_TRUE(bus_->Connected());

    NotificationServer server(daemon_.Address(), loop_, debug_);
    ASSERT_TRUE(server.Running());
    boxes_->ShowError(u"second", u"Caption");
    ASSERT_TRUE(RunUntil(loop_, [&] { return server.received.size() == 1; }));
    EXPECT_EQ(server.received.front().body, "second");

    daemon_.Stop();
    ASSERT_TRUE(RunUntil(loop_, [&] { return !bus_->Connected(); }));
    debug_.lines.clear();
    boxes_->ShowError(u"third", u"Caption");
    EXPECT_EQ(debug_.lines, std::vector<std::u16string>{u"Caption: third"});
}

// A server that owns the name and never reads: each box returns at once, and the loop goes on
// serving its timers while the calls wait for an answer.
TEST_F(Notifications, AServerThatNeverAnswersHoldsNothingUp) {
    const SdBusConnection hanging = ConnectSessionBus(daemon_.Address());
    ASSERT_TRUE(hanging);
    ASSERT_EQ(RequestBusName(hanging.get(), kNotificationsBusName), BusNameResult::Owned);

    const auto begin = Clock::now();
    for (int box = 0; box < 3; ++box)
        boxes_->ShowError(u"text", u"Caption");
    EXPECT_LT(Clock::now() - begin, 500ms) << "a box waited for the server";
    EXPECT_EQ(debug_.lines.size(), 3u);

    bool fired = false;
    const auto timer = loop_.CreateTimer([&] { fired = true; });
    timer->Start(20ms);
    const auto started = Clock::now();
    ASSERT_TRUE(RunUntil(
        loop_, [&] { return fired; }, 2s));
    EXPECT_LT(Clock::now() - started, 1s);
    boxes_->ShowError(u"more", u"Caption");
    EXPECT_EQ(debug_.lines.back(), u"Caption: more");
}

}  // namespace
}  // namespace korv::os_linux
