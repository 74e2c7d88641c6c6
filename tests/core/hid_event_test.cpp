#include "hid/ui_hid_event.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/fake/fake_device_notifications.h"
#include "platform/fake/fake_main_loop.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

class HidEventTest : public ::testing::Test {
  protected:
    std::unique_ptr<TuiHIDEvent> Create(std::u16string_view interface_class = kHidInterfaceClass) {
        auto event = std::make_unique<TuiHIDEvent>(notifications_, loop_, interface_class);
        event->OnDeviceArrival = [this] { ++arrivals_; };
        event->OnDeviceRemove = [this] { ++removals_; };
        event->OnDeviceChange = [this] { ++changes_; };
        return event;
    }

    fake::FakeMainLoop loop_;
    fake::FakeDeviceNotifications notifications_;
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

TEST_F(HidEventTest, StartUpArrivalAlsoWithoutNotifications) {
    notifications_.creates_window = false;
    const auto event = Create();
    EXPECT_FALSE(event->Registered());
    loop_.Advance(1500ms);
    EXPECT_EQ(arrivals_, 1);
    EXPECT_EQ(notifications_.nodes_changed_posts, 0);
}

TEST_F(HidEventTest, RegistersForTheHidClassAndPostsOneNodesChanged) {
    const auto event = Create(u"");
    EXPECT_EQ(event->FUsbGuid(), u"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(notifications_.registered_classes,
              std::vector<std::u16string>{u"{4d1e55b2-f16f-11cf-88cb-001111000030}"});
    EXPECT_TRUE(event->Registered());
    EXPECT_EQ(changes_, 0);  // posted, not raised inside the constructor
    EXPECT_EQ(notifications_.DeliverPosted(), 1);
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(arrivals_ + removals_, 0);
}

TEST_F(HidEventTest, RaisesArrivalAndRemovalOnlyForDeviceInterfaces) {
    struct Case {
        std::uint32_t event;
        std::optional<std::uint32_t> device_type;
        int arrivals, removals, changes;
    };
    const Case cases[] = {
        {0x8000, 5, 1, 0, 0},             // arrival of a device interface
        {0x8004, 5, 0, 1, 0},             // its removal
        {0x8000, 2, 0, 0, 0},             // a volume
        {0x8004, 3, 0, 0, 0},             // a port
        {0x8000, std::nullopt, 0, 0, 0},  // no broadcast header
        {0x0007, std::nullopt, 0, 0, 1},  // nodes changed
        {0x8001, 5, 0, 0, 0},             // query remove: ignored
        {0x0018, 5, 0, 0, 0},             // configuration changed: ignored
    };
    const auto event = Create();
    for (const Case& c : cases) {
        arrivals_ = removals_ = changes_ = 0;
        notifications_.Deliver(c.event, c.device_type);
        EXPECT_EQ(arrivals_, c.arrivals) << std::hex << c.event;
        EXPECT_EQ(removals_, c.removals) << std::hex << c.event;
        EXPECT_EQ(changes_, c.changes) << std::hex << c.event;
    }
}

TEST_F(HidEventTest, DestroyingUnregistersAndEndsTheStartUpTimer) {
    auto event = Create();
    EXPECT_EQ(notifications_.LiveRegistrations(), 1u);
    event.reset();
    EXPECT_EQ(notifications_.unregistrations, 1);
    EXPECT_EQ(notifications_.LiveRegistrations(), 0u);
    loop_.Advance(1500ms);
    notifications_.Deliver(DeviceChangeEvent::Arrival, kDeviceTypeInterface);
    EXPECT_EQ(arrivals_, 0);
}

}  // namespace
}  // namespace korv
