#include "hid/ui_hid_event.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/fake/fake_device_notifications.h"
#include "platform/fake/fake_main_loop.h"
#include "platform/fake/fake_system.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

class HidEventTest : public ::testing::Test {
  protected:
    std::unique_ptr<TuiHIDEvent> Create() {
        auto event = std::make_unique<TuiHIDEvent>(notifications_, loop_, debug_);
        event->OnDeviceArrival = [this] { ++arrivals_; };
        event->OnDeviceRemove = [this] { ++removals_; };
        event->OnDeviceChange = [this] { ++changes_; };
        return event;
    }

    fake::FakeMainLoop loop_;
    fake::FakeDeviceNotifications notifications_;
    fake::RecordingDebugOutput debug_;
    int arrivals_ = 0;
    int removals_ = 0;
    int changes_ = 0;
};

TEST_F(HidEventTest, StartUpArrivalOnceAfter1500Ms) {
    const auto event = Create();
    loop_.Advance(1499ms);
    EXPECT_EQ(arrivals_, 0);
    loop_.Advance(1ms);
    EXPECT_EQ(arrivals_, 1);
    loop_.Advance(60s);
    EXPECT_EQ(arrivals_, 1);
}

TEST_F(HidEventTest, RegistersOnceNamesTheBackendsClassAndPostsOneNodesChanged) {
    notifications_.class_name = u"{4d1e55b2-f16f-11cf-88cb-001111000030}";
    const auto event = Create();
    EXPECT_EQ(event->FUsbGuid(), u"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(notifications_.registrations, 1);
    EXPECT_TRUE(event->Registered());
    EXPECT_TRUE(debug_.lines.empty());
    EXPECT_EQ(changes_, 0);  // posted, not raised inside the constructor
    EXPECT_EQ(notifications_.DeliverPosted(), 1);
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(arrivals_ + removals_, 0);
}

// A registration the platform refuses is traced once, with the call and its code; the start-up
// arrival still opens the device, and the posted NodesChanged still comes when the registration
// could receive it.
TEST_F(HidEventTest, ARefusedRegistrationIsTracedAndTheStartUpArrivalStillComes) {
    struct Case {
        const char* what;
        bool creates_window;
        DeviceNotificationFailure failure;
        std::u16string trace;
        int posted;
    };
    const Case cases[] = {
        {"notices refused",
         true,
         {u"RegisterDeviceNotificationW", 87},
         u"Device notifications: RegisterDeviceNotificationW failed, error 87; devices plugged in "
         u"later are not noticed",
         1},
        {"no window",
         false,
         {u"CreateWindowExW", 1406},
         u"Device notifications: CreateWindowExW failed, error 1406; devices plugged in later are "
         u"not noticed",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake::FakeDeviceNotifications notifications;
        notifications.creates_window = c.creates_window;
        notifications.refusal = c.failure;
        fake::RecordingDebugOutput debug;
        int arrivals = 0;
        TuiHIDEvent event(notifications, loop_, debug);
        event.OnDeviceArrival = [&] { ++arrivals; };
        EXPECT_FALSE(event.Registered());
        EXPECT_EQ(debug.lines, std::vector<std::u16string>{c.trace});
        EXPECT_EQ(notifications.DeliverPosted(), c.posted);
        notifications.Deliver(DeviceEventKind::Arrival, u"\\\\?\\hid#vid_1&pid_2#1");
        EXPECT_EQ(arrivals, 0);  // the platform does not send its notices
        loop_.Advance(1500ms);
        EXPECT_EQ(arrivals, 1);
        EXPECT_EQ(debug.lines.size(), 1u);
    }
}

TEST_F(HidEventTest, EachKindOfEventRaisesItsOwnEvent) {
    struct Case {
        DeviceEvent event;
        int arrivals, removals, changes;
    };
    const Case cases[] = {
        {{DeviceEventKind::Arrival, u"\\\\?\\hid#vid_1&pid_2#1"}, 1, 0, 0},
        {{DeviceEventKind::Removal, u"\\\\?\\hid#vid_1&pid_2#1"}, 0, 1, 0},
        {{DeviceEventKind::NodesChanged, u""}, 0, 0, 1},
    };
    const auto event = Create();
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.event.kind));
        arrivals_ = removals_ = changes_ = 0;
        notifications_.Deliver(c.event);
        EXPECT_EQ(arrivals_, c.arrivals);
        EXPECT_EQ(removals_, c.removals);
        EXPECT_EQ(changes_, c.changes);
    }
}

TEST_F(HidEventTest, DestroyingUnregistersAndEndsTheStartUpTimer) {
    auto event = Create();
    EXPECT_EQ(notifications_.LiveRegistrations(), 1u);
    event.reset();
    EXPECT_EQ(notifications_.unregistrations, 1);
    EXPECT_EQ(notifications_.LiveRegistrations(), 0u);
    loop_.Advance(1500ms);
    notifications_.Deliver(DeviceEventKind::Arrival, u"\\\\?\\hid#vid_1&pid_2#1");
    EXPECT_EQ(arrivals_, 0);
}

}  // namespace
}  // namespace korv
