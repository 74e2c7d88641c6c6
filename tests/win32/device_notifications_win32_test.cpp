// Device-interface notifications on Wine: a registration's hidden top-level window receives the
// WM_DEVICECHANGE broadcasts another thread sends as the platform (or the simulated mouse) does,
// and passes on arrivals and removals of its class with their path, and NodesChanged; nothing
// once destroyed.

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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
// Another interface class: USB devices.
constexpr GUID kUsbDeviceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr wchar_t kPath[] =
    L"\\\\?\\hid#vid_1234&pid_5678&mi_01#7&1&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";

class RecordingListener : public DeviceChangeListener {
  public:
    void OnDeviceEvent(const DeviceEvent& event) override { events.push_back(event); }
    std::vector<DeviceEvent> events;
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
    wchar_t rest_of_name[160];
};

InterfaceBroadcast InterfaceHeader(const GUID& interface_class, std::wstring_view path = kPath) {
    InterfaceBroadcast broadcast{};
    broadcast.header.dbcc_size = sizeof broadcast;
    broadcast.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast.header.dbcc_classguid = interface_class;
    std::copy(path.begin(), path.end(), broadcast.header.dbcc_name);
    return broadcast;
}

std::u16string Path(std::wstring_view path) {
    return std::u16string(path.begin(), path.end());
}

class Win32DeviceNotificationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeviceNotificationStart start = notifications_.Register(listener_);
        EXPECT_FALSE(start.failure.has_value())
            << std::string(start.failure->call.begin(), start.failure->call.end()) << " "
            << start.failure->error;
        registration_ = std::move(start.registration);
        ASSERT_NE(registration_, nullptr);
    }

    Win32DeviceNotifications notifications_;
    RecordingListener listener_;
    std::unique_ptr<DeviceNotificationRegistration> registration_;
};

// Arrivals and removals of the HID class come with their interface path; a volume and an
// interface of another class come not at all. The last arrival shows that all were handled.
TEST_F(Win32DeviceNotificationsTest, HidInterfacesArriveAndGoWithTheirPathOthersAreLeftOut) {
    const InterfaceBroadcast hid = InterfaceHeader(kHidClass);
    const InterfaceBroadcast usb = InterfaceHeader(kUsbDeviceClass);
    const InterfaceBroadcast last = InterfaceHeader(kHidClass, L"\\\\?\\hid#last");
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1 << 4;

    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &hid), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEREMOVECOMPLETE, &hid), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &volume), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &usb), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEREMOVECOMPLETE, &usb), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &last), 0);
    EXPECT_TRUE(PumpUntil([&] { return listener_.events.size() >= 3; }));
    EXPECT_EQ(listener_.events, (std::vector<DeviceEvent>{
                                    {DeviceEventKind::Arrival, Path(kPath)},
                                    {DeviceEventKind::Removal, Path(kPath)},
                                    {DeviceEventKind::Arrival, u"\\\\?\\hid#last"},
                                }));
}

// The path is read no further than the broadcast's size says, even without its terminating zero.
TEST_F(Win32DeviceNotificationsTest, ThePathEndsWhereTheBroadcastEnds) {
    InterfaceBroadcast cut = InterfaceHeader(kHidClass);
    cut.header.dbcc_size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + 6 * sizeof(wchar_t);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &cut), 0);
    EXPECT_TRUE(PumpUntil([&] { return !listener_.events.empty(); }));
    EXPECT_EQ(listener_.events,
              (std::vector<DeviceEvent>{{DeviceEventKind::Arrival, Path(kPath).substr(0, 6)}}));
}

// Nodes changed, from the system or posted by the registration itself, has no path; the other
// events of WM_DEVICECHANGE and an arrival without a broadcast are left out.
TEST_F(Win32DeviceNotificationsTest, NodesChangedComesOtherEventsDoNot) {
    const InterfaceBroadcast hid = InterfaceHeader(kHidClass);
    EXPECT_GT(Broadcast(DBT_DEVICEQUERYREMOVE, &hid), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, nullptr), 0);
    EXPECT_GT(Broadcast(DBT_DEVNODES_CHANGED, nullptr), 0);
    EXPECT_TRUE(PumpUntil([&] { return !listener_.events.empty(); }));
    ASSERT_TRUE(registration_->PostNodesChanged());
    EXPECT_TRUE(PumpUntil([&] { return listener_.events.size() >= 2; }));
    EXPECT_EQ(listener_.events, (std::vector<DeviceEvent>{{DeviceEventKind::NodesChanged, u""},
                                                          {DeviceEventKind::NodesChanged, u""}}));
}

TEST_F(Win32DeviceNotificationsTest, PostedNodesChangedArrivesThroughTheMessageLoop) {
    ASSERT_TRUE(registration_->PostNodesChanged());
    EXPECT_TRUE(listener_.events.empty());
    EXPECT_TRUE(PumpUntil([&] { return !listener_.events.empty(); }));
    EXPECT_EQ(listener_.events, (std::vector<DeviceEvent>{{DeviceEventKind::NodesChanged, u""}}));
}

TEST_F(Win32DeviceNotificationsTest, NothingArrivesOnceTheRegistrationIsDestroyed) {
    ASSERT_TRUE(registration_->PostNodesChanged());
    registration_.reset();
    const InterfaceBroadcast hid = InterfaceHeader(kHidClass);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &hid), 0);
    PumpUntil([] { return false; }, 200ms);
    EXPECT_TRUE(listener_.events.empty());
}

// The backend names its class as the registry writes a GUID; one made for another class hears
// only that class.
TEST(Win32DeviceNotificationsClass, TheClassIsNamedByTheBackendAndIsTheOnlyOneHeard) {
    EXPECT_EQ(Win32DeviceNotifications().InterfaceClassName(),
              u"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    Win32DeviceNotifications usb(kUsbDeviceClass);
    EXPECT_EQ(usb.InterfaceClassName(), u"{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    RecordingListener listener;
    DeviceNotificationStart start = usb.Register(listener);
    ASSERT_NE(start.registration, nullptr);
    EXPECT_FALSE(start.failure.has_value());
    const InterfaceBroadcast hid = InterfaceHeader(kHidClass);
    const InterfaceBroadcast device = InterfaceHeader(kUsbDeviceClass, L"\\\\?\\usb#1");
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &hid), 0);
    EXPECT_GT(Broadcast(DBT_DEVICEARRIVAL, &device), 0);
    EXPECT_TRUE(PumpUntil([&] { return !listener.events.empty(); }));
    EXPECT_EQ(listener.events,
              (std::vector<DeviceEvent>{{DeviceEventKind::Arrival, u"\\\\?\\usb#1"}}));
}

}  // namespace
}  // namespace korv::win32
