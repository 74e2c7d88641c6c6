// Device-interface notifications on Wine: a registration's hidden top-level window receives the
// WM_DEVICECHANGE broadcasts another thread sends as the platform (or the simulated mouse) does,
// with the device type of each header, and its own posted NodesChanged; nothing once destroyed.

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win32/hid_class.h"
#include "platform/win32/win32_device_notifications.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using namespace std::chrono_literals;

constexpr GUID kHidClass = kHidInterfaceClassGuid;
constexpr char16_t kHidClassText[] = u"{4d1e55b2-f16f-11cf-88cb-001111000030}";

using Event = std::pair<std::uint32_t, std::optional<std::uint32_t>>;

class RecordingListener : public DeviceChangeListener {
  public:
    void OnDeviceChange(std::uint32_t event, std::optional<std::uint32_t> device_type) override {
        events.emplace_back(event, device_type);
    }
    std::vector<Event> events;
};

using test::PumpUntil;

// A query broadcast of WM_DEVICECHANGE to every top-level window, sent from a thread of its own
// while this thread handles the messages, past any window of the session that answers late;
// BroadcastSystemMessageW's result (positive when every recipient granted it).
long Broadcast(WPARAM event, const void* header) {
    std::atomic<bool> done = false;
    long result = 0;
    std::thread sender([&] {
        DWORD recipients = BSM_APPLICATIONS;
        result = BroadcastSystemMessageW(BSF_QUERY | BSF_FORCEIFHUNG, &recipients, WM_DEVICECHANGE,
                                         event, reinterpret_cast<LPARAM>(header));
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
    sender.join();
    return result;
}

// What a device-interface arrival or removal carries: the header and the interface path.
struct InterfaceBroadcast {
    DEV_BROADCAST_DEVICEINTERFACE_W header;
    wchar_t rest_of_name[96];
};

InterfaceBroadcast InterfaceHeader(const GUID& interface_class) {
    InterfaceBroadcast broadcast{};
    broadcast.header.dbcc_size = sizeof broadcast;
    broadcast.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast.header.dbcc_classguid = interface_class;
    const wchar_t name[] = L"\\\\.\\pipe\\korv-notification-test";
    std::memcpy(broadcast.header.dbcc_name, name, sizeof name);
    return broadcast;
}

class Win32DeviceNotificationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        registration_ = notifications_.Register(kHidClassText, listener_);
        ASSERT_NE(registration_, nullptr);
    }

    Win32DeviceNotifications notifications_;
    RecordingListener listener_;
    std::unique_ptr<DeviceNotificationRegistration> registration_;
};

TEST_F(Win32DeviceNotificationsTest, ArrivalsAndRemovalsArriveWithTheirDeviceType) {
    EXPECT_TRUE(registration_->Registered());
    const InterfaceBroadcast hid = InterfaceHeader(kHidClass);
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1 << 4;

    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &hid), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEREMOVECOMPLETE, &hid), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &volume), 0);
    EXPECT_TRUE(PumpUntil([&] { return listener_.events.size() >= 3; }));
    EXPECT_EQ(listener_.events, (std::vector<Event>{{0x8000, kDeviceTypeInterface},
                                                    {0x8004, kDeviceTypeInterface},
                                                    {0x8000, DBT_DEVTYP_VOLUME}}));
}

TEST_F(Win32DeviceNotificationsTest, OtherEventsArriveWithoutADeviceType) {
    const InterfaceBroadcast hid = InterfaceHeader(kHidClass);
    EXPECT_GT(Broadcast(DBT_DEVICEQUERYREMOVE, &hid), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, nullptr), 0);
    EXPECT_TRUE(PumpUntil([&] { return listener_.events.size() >= 2; }));
    EXPECT_EQ(listener_.events,
              (std::vector<Event>{{DBT_DEVICEQUERYREMOVE, std::nullopt}, {0x8000, std::nullopt}}));
}

TEST_F(Win32DeviceNotificationsTest, PostedNodesChangedArrivesThroughTheMessageLoop) {
    ASSERT_TRUE(registration_->PostNodesChanged());
    EXPECT_TRUE(listener_.events.empty());
    EXPECT_TRUE(PumpUntil([&] { return !listener_.events.empty(); }));
    EXPECT_EQ(listener_.events, (std::vector<Event>{{7, std::nullopt}}));
}

TEST_F(Win32DeviceNotificationsTest, NothingArrivesOnceTheRegistrationIsDestroyed) {
    ASSERT_TRUE(registration_->PostNodesChanged());
    registration_.reset();
    const InterfaceBroadcast hid = InterfaceHeader(kHidClass);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &hid), 0);
    PumpUntil([] { return false; }, 200ms);
    EXPECT_TRUE(listener_.events.empty());
}

TEST(Win32DeviceNotificationsClass, TextThatIsNotAGuidLeavesTheWindowUnregistered) {
    Win32DeviceNotifications notifications;
    RecordingListener listener;
    std::vector<std::unique_ptr<DeviceNotificationRegistration>> registrations;
    for (const std::u16string_view text :
         {u"", u"4d1e55b2-f16f-11cf-88cb-001111000030", u"{4d1e55b2-f16f-11cf-88cb-00111100003g}",
          u"{4d1e55b2+f16f-11cf-88cb-001111000030}", u"{4d1e55b2-f16f-11cf-88cb-0011110000300}"}) {
        EXPECT_FALSE(ParseGuidText(text).has_value()) << text.size();
        registrations.push_back(notifications.Register(text, listener));
        ASSERT_NE(registrations.back(), nullptr);
        EXPECT_FALSE(registrations.back()->Registered());
        // The window still takes its own events.
        ASSERT_TRUE(registrations.back()->PostNodesChanged());
    }
    EXPECT_TRUE(PumpUntil([&] { return listener.events.size() == registrations.size(); }));
}

TEST(Win32DeviceNotificationsClass, GuidTextParsesInEitherCase) {
    for (const char16_t* text : {kHidClassText, u"{4D1E55B2-F16F-11CF-88CB-001111000030}"}) {
        const std::optional<GUID> parsed = ParseGuidText(text);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_TRUE(IsEqualGUID(*parsed, kHidClass));
    }
}

}  // namespace
}  // namespace korv::win32
