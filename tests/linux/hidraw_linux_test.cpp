// The hidraw backend against FUSE-served nodes and a fake sysfs tree: the walk lists one
// interface per top-level collection with the identifiers Windows gives it, skips nodes whose
// files are missing, oversized or malformed, and never opens a node to identify it; reads keep
// only the reports of their collection and end on CancelRead or unplug; output and feature
// reports reach the node; and the core's reader delivers a report and ends on unplug.

#include "platform/linux/linux_hidraw.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "hid/hid_reader.h"
#include "hid/ui_hid_data.h"
#include "hid/usage_and_page.h"
#include "platform/fake/fake_hid.h"
#include "platform/fake/fake_main_loop.h"
#include "platform/linux/linux_main_loop.h"
#include "tests/linux/fake_hidraw.h"

namespace korv::os_linux {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FakeHidraw;
using test::FakeHidrawIds;
using test::Report;
using Status = HidReadResult::Status;

// "05 01 09 02": bytes as hexadecimal pairs.
Report Hex(std::string_view text) {
    Report bytes;
    for (std::size_t at = 0; at + 1 < text.size(); at += 3)
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(text.substr(at, 2)), 0, 16)));
    return bytes;
}

// The mouse's vendor collection: input reports 7 and 8, output report 9 and feature report 10,
// each of 7 bytes after the identifier.
constexpr std::string_view kVendor =
    "06 A0 FF 09 01 A1 01 15 00 26 FF 00 75 08 95 07 85 07 09 01 81 02 85 08 09 01 81 02 85 09 "
    "09 01 91 02 85 0A 09 01 B1 02 C0";
// A five-button mouse with report identifier 1: buttons, x, y.
constexpr std::string_view kMouseWithId =
    "05 01 09 02 A1 01 85 01 09 01 A1 00 05 09 19 01 29 05 15 00 25 01 95 05 75 01 81 02 95 01 "
    "75 03 81 01 05 01 09 30 09 31 15 81 25 7F 75 08 95 02 81 06 C0 C0";
// The boot-protocol mouse: three buttons, x, y, no report identifiers.
constexpr std::string_view kBootMouse =
    "05 01 09 02 A1 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 05 "
    "81 01 05 01 09 30 09 31 15 81 25 7F 75 08 95 02 81 06 C0 C0";

Report MouseAndVendor() {
    Report bytes = Hex(kMouseWithId);
    const Report vendor = Hex(kVendor);
    bytes.insert(bytes.end(), vendor.begin(), vendor.end());
    return bytes;
}

constexpr HidCapabilities kVendorCaps{1, 0xFFA0, 8, 8, 8};
constexpr HidCapabilities kMouseCaps{2, 1, 4, 0, 0};

// The wired mouse: the boot mouse on interface 0, mouse and vendor collections on interface 1.
const FakeHidrawIds kInterface0{.vendor = 0x1234,
                                .product = 0x5678,
                                .interface_number = 0,
                                .bcd_device = 0x0102,
                                .interfaces = 2};
const FakeHidrawIds kInterface1{.vendor = 0x1234,
                                .product = 0x5678,
                                .interface_number = 1,
                                .bcd_device = 0x0102,
                                .interfaces = 2};

std::u16string Wide(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<std::u16string> Paths(const std::vector<HidInterfaceInfo>& infos) {
    std::vector<std::u16string> paths;
    for (const HidInterfaceInfo& info : infos)
        paths.push_back(info.path);
    return paths;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class HidrawTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(fake_.Valid()); }

    // The mouse's interface 1 as node 0: collection 1 the mouse, collection 2 the vendor's.
    int AddWiredMouse() { return fake_.AddDevice(MouseAndVendor(), kInterface1); }
    std::u16string VendorPath(int node) const { return Wide(fake_.NodePath(node) + "#col02"); }

    std::unique_ptr<HidDevice> OpenVendor(int node, HidOpenMode mode = HidOpenMode::Reading) {
        auto opened = interfaces_.Open(VendorPath(node), mode);
        EXPECT_TRUE(opened.device) << opened.failure.operation << " " << opened.failure.code;
        return std::move(opened.device);
    }

    FakeHidraw fake_;
    fake::ThreadSafeDebugOutput debug_;
    LinuxHidrawInterfaces interfaces_{debug_, fake_.Root()};
};

// ---- The walk ----------------------------------------------------------------------------------

TEST_F(HidrawTest, EachTopLevelCollectionIsAnInterfaceWithTheIdentifiersWindowsGivesIt) {
    const int boot = fake_.AddDevice(Hex(kBootMouse), kInterface0);
    const int wired = AddWiredMouse();
    FakeHidrawIds bluetooth_ids;  // no USB folders above it
    bluetooth_ids.bus = 0x0005;
    bluetooth_ids.vendor = 0x1234;
    bluetooth_ids.product = 0x9ABC;
    const int bluetooth = fake_.AddDevice(Hex(kVendor), bluetooth_ids);
    const auto found = interfaces_.Enumerate();
    ASSERT_EQ(Paths(found), (std::vector<std::u16string>{
                                Wide(fake_.NodePath(boot)), Wide(fake_.NodePath(wired) + "#col01"),
                                VendorPath(wired), Wide(fake_.NodePath(bluetooth))}));
    EXPECT_EQ(found[0].hardware_ids.at(0), u"HID\\VID_1234&PID_5678&REV_0102&MI_00");
    EXPECT_EQ(found[1].hardware_ids.at(0), u"HID\\VID_1234&PID_5678&REV_0102&MI_01&Col01");
    EXPECT_EQ(found[2].hardware_ids.at(0), u"HID\\VID_1234&PID_5678&REV_0102&MI_01&Col02");
    EXPECT_EQ(found[2].hardware_ids.at(1), u"HID\\VID_1234&PID_5678&MI_01&Col02");
    EXPECT_TRUE(debug_.Lines().empty());

    // Identify reads the capabilities from sysfs and opens nothing.
    const std::vector<HidCapabilities> expected{kMouseCaps, kMouseCaps, kVendorCaps, kVendorCaps};
    for (std::size_t i = 0; i < found.size(); ++i) {
        const auto opened = interfaces_.Open(found[i].path, HidOpenMode::Identify);
        ASSERT_TRUE(opened.device);
        EXPECT_EQ(opened.device->Capabilities().capabilities, expected[i]);
    }
    EXPECT_EQ(fake_.Opens(boot) + fake_.Opens(wired) + fake_.Opens(bluetooth), 0);
}

TEST_F(HidrawTest, AnIncludeListWrittenForWindowsSelectsTheSameCollection) {
    fake_.AddDevice(Hex(kBootMouse), kInterface0);
    const int wired = AddWiredMouse();
    fake::FakeMainLoop loop;
    const auto exists = [&](std::vector<std::u16string> include_list) {
        const TuiHIDData hid(interfaces_, loop, debug_, std::move(include_list));
        auto param = std::make_unique<THIDDataParam>();
        param->UsageAndPage = kMouseVendorCollection;
        param->DeviceID = u"*";
        return hid.IsDeviceExist(*param);
    };
    EXPECT_TRUE(exists({u"hid\\vid_1234&pid_5678&mi_01&col02"}));
    EXPECT_TRUE(exists({}));
    EXPECT_FALSE(exists({u"HID\\VID_1234&PID_5678&MI_00"}));
    EXPECT_FALSE(exists({u"HID\\VID_1234&PID_5678&MI_01&Col01"}));
    EXPECT_TRUE(fake_.WaitForOpenFiles(wired, 0, 5s));  // each closed again
}

// What goes wrong in one node's sysfs files; the node is skipped with one trace line, the
// others are listed, and its path does not open.
struct BrokenNode {
    const char* name;
    std::function<void(const FakeHidraw&, int node)> spoil;
    const char16_t* why;
};

TEST_F(HidrawTest, ANodeWithMissingOversizedOrMalformedFilesIsSkippedAndSaysWhy) {
    const auto device_file = [](const char* file, std::string bytes) {
        return [=](const FakeHidraw& fake, int node) {
            WriteFile(fake.SysfsDevicePath(node) + "/" + file, bytes);
        };
    };
    const auto interface_file = [](const char* file, std::string bytes) {
        return [=](const FakeHidraw& fake, int node) {
            WriteFile(fs::path(fake.SysfsDevicePath(node)).parent_path() / file, bytes);
        };
    };
    const std::vector<BrokenNode> cases{
        {"garbage descriptor", device_file("report_descriptor", "\x05\x01\x09\x02\xA1\x01\x26"),
         u"its report descriptor is malformed"},
        {"empty descriptor", device_file("report_descriptor", ""),
         u"its report descriptor is malformed"},
        {"oversized descriptor", device_file("report_descriptor", std::string(4097, '\0')),
         u"its report descriptor is too large"},
        {"oversized uevent",
         device_file("uevent", "HID_ID=0003:00001234:00005678\n" + std::string(5000, 'x')),
         u"its HID device's uevent is too large"},
        {"no HID_ID", device_file("uevent", "DRIVER=hid-generic\n"),
         u"its HID device has no valid HID_ID"},
        {"vendor out of range", device_file("uevent", "HID_ID=0003:00012345:00005678\n"),
         u"its HID device has no valid HID_ID"},
        {"interface number not a number", interface_file("bInterfaceNumber", "zz\n"),
         u"its bInterfaceNumber is not a number"},
        {"oversized interface number", interface_file("bInterfaceNumber", std::string(64, '0')),
         u"its bInterfaceNumber is not a number"},
        {"no device file name",
         [](const FakeHidraw& fake, int node) {
             WriteFile(fake.SysfsNodePath(node) + "/uevent", "DEVNAME=../../etc/passwd\n");
         },
         u"its uevent names no device file"},
        {"a FIFO for a uevent",
         [](const FakeHidraw& fake, int node) {
             const std::string uevent = fake.SysfsNodePath(node) + "/uevent";
             fs::remove(uevent);
             mkfifo(uevent.c_str(), 0600);
         },
         u"its uevent is unreadable"},
        {"no descriptor",
         [](const FakeHidraw& fake, int node) {
             fs::remove(fake.SysfsDevicePath(node) + "/report_descriptor");
         },
         u"its report descriptor is missing"},
    };
    const int good = fake_.AddDevice(Hex(kVendor), kInterface0);
    const int broken = AddWiredMouse();
    for (const BrokenNode& test : cases) {
        SCOPED_TRACE(test.name);
        fake_.Unplug(broken);
        fake_.Replug(broken);
        test.spoil(fake_, broken);
        fake::ThreadSafeDebugOutput debug;
        const LinuxHidrawInterfaces interfaces(debug, fake_.Root());
        EXPECT_EQ(Paths(interfaces.Enumerate()),
                  std::vector<std::u16string>{Wide(fake_.NodePath(good))});
        EXPECT_EQ(debug.Lines(), std::vector<std::u16string>{u"hidraw walk skips hidraw1: " +
                                                             std::u16string(test.why)});
        const auto opened = interfaces.Open(VendorPath(broken), HidOpenMode::Identify);
        EXPECT_FALSE(opened.device);
        EXPECT_EQ(opened.failure.kind, HidFailureKind::DeviceGone);
    }
}

TEST_F(HidrawTest, OnlyThePathsTheWalkGivesOpen) {
    const int single = fake_.AddDevice(Hex(kVendor), kInterface0);
    const int wired = AddWiredMouse();
    for (const std::string& path :
         {fake_.NodePath(single) + "#col01", fake_.NodePath(wired),
          fake_.NodePath(wired) + "#col03", fake_.NodePath(wired) + "#col2",
          fake_.Root() + "/sys/class/hidraw/hidraw0", fake_.Root() + "/dev/hidraw9",
          std::string("/dev/null"), std::string()}) {
        SCOPED_TRACE(path);
        const auto opened = interfaces_.Open(Wide(path), HidOpenMode::Reading);
        EXPECT_FALSE(opened.device);
        EXPECT_EQ(opened.failure.kind, HidFailureKind::DeviceGone);
    }
    EXPECT_EQ(fake_.Opens(single) + fake_.Opens(wired), 0);
}

TEST_F(HidrawTest, OpensFailAsTheNodeRefuses) {
    const int wired = AddWiredMouse();
    fake_.DenyOpens(wired, true);
    auto opened = interfaces_.Open(VendorPath(wired), HidOpenMode::Control);
    EXPECT_FALSE(opened.device);
    EXPECT_EQ(opened.failure.operation, "open");
    EXPECT_EQ(opened.failure.kind, HidFailureKind::AccessDenied);
    // Identify needs no open.
    EXPECT_TRUE(interfaces_.Open(VendorPath(wired), HidOpenMode::Identify).device);
    fake_.DenyOpens(wired, false);
    fake_.Unplug(wired);
    opened = interfaces_.Open(VendorPath(wired), HidOpenMode::Reading);
    EXPECT_FALSE(opened.device);
    EXPECT_EQ(opened.failure.kind, HidFailureKind::DeviceGone);
}

// ---- Reads -------------------------------------------------------------------------------------

TEST_F(HidrawTest, AReadGetsOnlyTheReportsOfItsCollection) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired);
    ASSERT_TRUE(device);
    ASSERT_EQ(fake_.OpenFiles(wired), 1);
    fake_.PushReport(wired, {1, 0x04, 5, 5});  // the mouse collection's
    fake_.PushReport(wired, {7, 0, 0, 8, 0, 0, 0, 0});
    fake_.PushReport(wired, {1, 0, 0, 0});
    fake_.PushReport(wired, {8, 2, 1, 0, 0, 0, 0, 0});
    std::vector<std::uint8_t> buffer(8);
    HidReadResult result = device->Read(buffer);
    ASSERT_EQ(result.status, Status::Report);
    EXPECT_EQ(Report(buffer.begin(), buffer.begin() + result.size),
              (Report{7, 0, 0, 8, 0, 0, 0, 0}));
    result = device->Read(buffer);
    ASSERT_EQ(result.status, Status::Report);
    EXPECT_EQ(Report(buffer.begin(), buffer.begin() + result.size),
              (Report{8, 2, 1, 0, 0, 0, 0, 0}));
}

TEST_F(HidrawTest, AReportLongerThanTheBufferFailsAloneAndTheNextIsRead) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired);
    ASSERT_TRUE(device);
    fake_.PushReport(wired, {7, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    fake_.PushReport(wired, {7, 1});
    std::vector<std::uint8_t> buffer(8);
    HidReadResult result = device->Read(buffer);
    EXPECT_EQ(result.status, Status::Failed);
    EXPECT_EQ(result.failure.kind, HidFailureKind::Other);
    EXPECT_EQ(result.failure.code, static_cast<std::uint32_t>(EMSGSIZE));
    // A short report comes as the HID class hands it over: zeros up to the input length.
    result = device->Read(buffer);
    ASSERT_EQ(result.status, Status::Report);
    EXPECT_EQ(Report(buffer.begin(), buffer.begin() + result.size),
              (Report{7, 1, 0, 0, 0, 0, 0, 0}));
}

// Reports of a collection without identifiers come as on Windows too: a 0 identifier byte
// first (hidraw gives the data alone), zeros up to the input length; their buttons are read from
// the data after that byte.
TEST_F(HidrawTest, AReportWithoutIdentifierGetsAZeroIdentifierByteFirst) {
    const int boot = fake_.AddDevice(Hex(kBootMouse), kInterface0);
    auto opened = interfaces_.Open(Wide(fake_.NodePath(boot)), HidOpenMode::Reading);
    ASSERT_TRUE(opened.device);
    fake_.PushReport(boot, {0x05, 0x06});  // buttons 1 and 3, x 6, y cut off
    std::vector<std::uint8_t> buffer(16);
    const HidReadResult result = opened.device->Read(buffer);
    ASSERT_EQ(result.status, Status::Report);
    const Report got(buffer.begin(), buffer.begin() + result.size);
    EXPECT_EQ(got, (Report{0, 0x05, 0x06, 0}));
    EXPECT_EQ(opened.device->ButtonUsages(got),
              (std::optional<std::vector<std::uint16_t>>{{1, 3}}));
}

// A device with one interface is not composite: Windows names no interface of it, and neither
// does the walk, so an include list written for Windows matches.
TEST_F(HidrawTest, ASingleInterfaceDeviceNamesNoInterface) {
    FakeHidrawIds single = kInterface0;
    single.interfaces = 1;
    fake_.AddDevice(Hex(kBootMouse), single);
    const auto found = interfaces_.Enumerate();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].hardware_ids.at(0), u"HID\\VID_1234&PID_5678&REV_0102");
    EXPECT_EQ(found[0].hardware_ids.at(1), u"HID\\VID_1234&PID_5678");
}

TEST_F(HidrawTest, CancelReadEndsAWaitingReadAndEveryLaterOne) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired);
    ASSERT_TRUE(device);
    HidReadResult result;
    std::thread reader([&] {
        std::vector<std::uint8_t> buffer(8);
        result = device->Read(buffer);
    });
    const bool waiting = fake_.WaitForWaiters(wired, 1, 5s);
    device->CancelRead();
    reader.join();
    ASSERT_TRUE(waiting);
    EXPECT_EQ(result.status, Status::Cancelled);
    EXPECT_EQ(result.failure.kind, HidFailureKind::Cancelled);
    fake_.PushReport(wired, {7, 1});  // queued, yet a read after the cancel does not take it
    std::vector<std::uint8_t> buffer(8);
    EXPECT_EQ(device->Read(buffer).status, Status::Cancelled);
}

TEST_F(HidrawTest, ReadsAfterAnEarlierCancelReturnAtOnce) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired);
    ASSERT_TRUE(device);
    device->CancelRead();
    std::vector<std::uint8_t> buffer(8);
    EXPECT_EQ(device->Read(buffer).status, Status::Cancelled);
    EXPECT_EQ(device->Write(std::vector<std::uint8_t>{9, 1}).value().kind,
              HidFailureKind::Cancelled);
}

TEST_F(HidrawTest, AnUnplugEndsAWaitingReadAsDeviceGoneAfterWhatWasQueued) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired);
    ASSERT_TRUE(device);
    std::vector<HidReadResult> results;
    std::thread reader([&] {
        std::vector<std::uint8_t> buffer(8);
        for (;;) {
            results.push_back(device->Read(buffer));
            if (results.back().status != Status::Report)
                return;
        }
    });
    const bool waiting = fake_.WaitForWaiters(wired, 1, 5s);
    fake_.PushReport(wired, {7, 1});
    fake_.Unplug(wired);
    reader.join();
    ASSERT_TRUE(waiting);
    ASSERT_GE(results.size(), 2u);
    EXPECT_EQ(results.front().status, Status::Report);  // the report pushed before the unplug
    EXPECT_EQ(results.back().status, Status::Failed);
    EXPECT_EQ(results.back().failure.kind, HidFailureKind::DeviceGone);
    // A replugged node is a new device: the old one stays gone, a new open reads again.
    fake_.Replug(wired);
    std::vector<std::uint8_t> buffer(8);
    EXPECT_EQ(device->Read(buffer).failure.kind, HidFailureKind::DeviceGone);
    EXPECT_TRUE(OpenVendor(wired));
}

TEST_F(HidrawTest, ADeviceOpenedToIdentifyRefusesTransfers) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired, HidOpenMode::Identify);
    ASSERT_TRUE(device);
    std::vector<std::uint8_t> buffer(8, 0);
    buffer[0] = 10;
    const HidReadResult read = device->Read(buffer);
    EXPECT_EQ(read.status, Status::Refused);
    EXPECT_EQ(read.failure.kind, HidFailureKind::Invalid);
    EXPECT_EQ(device->Write(buffer).value().kind, HidFailureKind::Invalid);
    EXPECT_EQ(device->GetFeature(buffer).value().kind, HidFailureKind::Invalid);
    EXPECT_EQ(device->SetFeature(buffer).value().kind, HidFailureKind::Invalid);
    device->CancelRead();  // nothing to cancel, and no harm
}

// ---- Output and feature reports ----------------------------------------------------------------

TEST_F(HidrawTest, OutputReportsArePaddedToTheOutputLength) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired, HidOpenMode::Control);
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->Write(std::vector<std::uint8_t>{9, 1, 2}));
    EXPECT_FALSE(device->Write(std::vector<std::uint8_t>{9, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(fake_.Outputs(wired),
              (std::vector<Report>{{9, 1, 2, 0, 0, 0, 0, 0}, {9, 1, 2, 3, 4, 5, 6, 7, 8, 9}}));
    fake_.Unplug(wired);
    const auto failure = device->Write(std::vector<std::uint8_t>{9, 1});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, HidFailureKind::DeviceGone);
}

TEST_F(HidrawTest, AWriteTheNodeDoesNotTakeEndsAfterItsTimeOrOnCancel) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired);
    ASSERT_TRUE(device);
    fake_.HoldWrites(wired, true);
    const auto begin = std::chrono::steady_clock::now();
    auto failure = device->Write(std::vector<std::uint8_t>{9, 1});
    const auto took = std::chrono::steady_clock::now() - begin;
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, HidFailureKind::Other);
    EXPECT_EQ(failure->code, static_cast<std::uint32_t>(ETIMEDOUT));
    EXPECT_GE(took, std::chrono::milliseconds(kHidrawWriteTimeoutMs));
    EXPECT_LT(took, std::chrono::milliseconds(kHidrawWriteTimeoutMs) + 2s);

    std::thread canceller([&] {
        std::this_thread::sleep_for(50ms);
        device->CancelRead();
    });
    failure = device->Write(std::vector<std::uint8_t>{9, 1});
    canceller.join();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, HidFailureKind::Cancelled);
    EXPECT_TRUE(fake_.Outputs(wired).empty());
}

TEST_F(HidrawTest, FeatureReportsAreExchangedByTheHidrawIoctls) {
    const int wired = AddWiredMouse();
    const auto device = OpenVendor(wired, HidOpenMode::Control);
    ASSERT_TRUE(device);
    fake_.SetFeatureReport(wired, {10, 1, 2, 3, 4, 5, 6, 7});
    std::vector<std::uint8_t> buffer{10, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(device->GetFeature(buffer));
    EXPECT_EQ(buffer, (Report{10, 1, 2, 3, 4, 5, 6, 7}));

    EXPECT_FALSE(device->SetFeature(std::vector<std::uint8_t>{10, 9, 8, 7, 6, 5, 4, 3}));
    EXPECT_EQ(fake_.FeaturesSet(wired), (std::vector<Report>{{10, 9, 8, 7, 6, 5, 4, 3}}));

    buffer.assign(8, 0);
    buffer[0] = 11;  // a report the device does not have: it stalls
    auto failure = device->GetFeature(buffer);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->operation, "HIDIOCGFEATURE");
    EXPECT_EQ(failure->code, static_cast<std::uint32_t>(EPIPE));
    EXPECT_EQ(device->GetFeature({}).value().kind, HidFailureKind::Invalid);
    std::vector<std::uint8_t> huge(20000, 10);
    EXPECT_EQ(device->GetFeature(huge).value().kind, HidFailureKind::Invalid);

    fake_.Unplug(wired);
    failure = device->SetFeature(std::vector<std::uint8_t>{10, 1});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, HidFailureKind::DeviceGone);
}

// ---- The core's reader -------------------------------------------------------------------------

struct Delivered {
    std::u16string device_id;
    std::u16string path;
    std::uint8_t report_id;
    Report data;
};

class HidrawReaderTest : public HidrawTest {
  protected:
    // Runs the loop until a handler quits it; false after 10 s.
    bool RunUntilQuit() {
        const auto timeout = loop_.CreateTimer([this] { loop_.Quit(1); });
        timeout->Start(10s);
        return loop_.Run() == 0;
    }

    LinuxMainLoop loop_;
};

TEST_F(HidrawReaderTest, TheCoresReaderDeliversTheVendorReportAndEndsOnUnplug) {
    const int wired = AddWiredMouse();
    TuiHIDData hid(interfaces_, loop_, debug_, {});
    std::vector<Delivered> delivered;
    std::vector<std::u16string> gone;
    hid.OnData = [&](std::u16string_view id, std::u16string_view path, std::uint8_t report_id,
                     const std::uint8_t* data, std::uint16_t size) {
        delivered.push_back(
            {std::u16string(id), std::u16string(path), report_id, Report(data, data + size)});
        loop_.Quit(0);
    };
    hid.OnDeviceNotConnected = [&](std::u16string_view, std::u16string_view path) {
        const std::u16string copy(path);
        ASSERT_TRUE(loop_.PostTask([&, copy] {
            gone.push_back(copy);
            loop_.Quit(0);
        }));
    };
    hid.HidFindAndReadDevice(kMouseVendorCollection, u"*");
    ASSERT_EQ(hid.RunningReaderCount(), 1u);
    ASSERT_TRUE(fake_.WaitForWaiters(wired, 1, 5s));
    fake_.PushReport(wired, {1, 0x04, 0, 0});  // the mouse collection's: not this reader's
    fake_.PushReport(wired, {7, 0, 0, 0x08, 0, 0, 0, 0});
    ASSERT_TRUE(RunUntilQuit());
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].device_id, u"HID\\VID_1234&PID_5678&REV_0102&MI_01&Col02");
    EXPECT_EQ(delivered[0].path, VendorPath(wired));
    EXPECT_EQ(delivered[0].report_id, 7);
    EXPECT_EQ(delivered[0].data, (Report{0, 0, 8, 0, 0, 0, 0}));

    fake_.Unplug(wired);
    ASSERT_TRUE(RunUntilQuit());
    EXPECT_EQ(gone, std::vector<std::u16string>{VendorPath(wired)});
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (hid.RunningReaderCount() != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(hid.RunningReaderCount(), 0u);
    EXPECT_EQ(debug_.Lines(),
              std::vector<std::u16string>{std::u16string(kDeviceNotConnectedTrace)});
    hid.HidStopRead();
    EXPECT_TRUE(fake_.WaitForOpenFiles(wired, 0, 5s));
}

TEST_F(HidrawReaderTest, ButtonsOfTheCollectionReachTheParsedDataHandler) {
    const int wired = AddWiredMouse();
    TuiHIDData hid(interfaces_, loop_, debug_, {});
    std::vector<std::uint32_t> buttons;
    hid.OnParsedData = [&](std::u16string_view, std::u16string_view, std::uint8_t,
                           std::uint32_t button_data) {
        buttons.push_back(button_data);
        if (buttons.size() == 2)
            loop_.Quit(0);
    };
    hid.HidFindAndReadDevice({2, 1}, u"*");
    ASSERT_EQ(hid.RunningReaderCount(), 1u);
    ASSERT_TRUE(fake_.WaitForWaiters(wired, 1, 5s));
    fake_.PushReport(wired, {1, 0x04, 0, 0});           // button 3 down
    fake_.PushReport(wired, {7, 0, 0, 0, 0, 0, 0, 0});  // the vendor collection's
    fake_.PushReport(wired, {1, 0x00, 0, 0});           // and up
    ASSERT_TRUE(RunUntilQuit());
    EXPECT_EQ(buttons, (std::vector<std::uint32_t>{3u << 16, 3u}));
    hid.HidStopRead();
}

std::size_t EntriesOf(const char* folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Each reader owns the node's descriptor and its stop eventfd; unplugs and re-opens leave
// neither behind, nor a thread.
TEST_F(HidrawReaderTest, ReplugsAndReopensLeaveNoDescriptorOrThreadBehind) {
    const int wired = AddWiredMouse();
    TuiHIDData hid(interfaces_, loop_, debug_, {});
    std::atomic<int> gone = 0;
    hid.OnDeviceNotConnected = [&](std::u16string_view, std::u16string_view) { ++gone; };
    const std::size_t descriptors = EntriesOf("/proc/self/fd");
    const std::size_t threads = EntriesOf("/proc/self/task");
    for (int i = 1; i <= 100; ++i) {
        hid.HidStopRead();
        hid.HidFindAndReadDevice(kMouseVendorCollection, u"*");
        ASSERT_EQ(hid.ReadingReaderCount(), 1u);
        ASSERT_TRUE(fake_.WaitForWaiters(wired, 1, 5s));
        if (i % 2 == 0) {  // every other time the device goes away while read
            fake_.Unplug(wired);
            const auto until = std::chrono::steady_clock::now() + 5s;
            while (gone.load() < i / 2 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(1ms);
            ASSERT_EQ(gone.load(), i / 2);
            fake_.Replug(wired);
        }
    }
    hid.HidStopRead();
    EXPECT_TRUE(fake_.WaitForOpenFiles(wired, 0, 5s));
    EXPECT_EQ(EntriesOf("/proc/self/fd"), descriptors);
    EXPECT_EQ(EntriesOf("/proc/self/task"), threads);
}

}  // namespace
}  // namespace korv::os_linux
