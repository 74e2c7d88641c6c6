// The HID interfaces backend on Wine's real device-setup and HID functions: Wine's own two
// virtual HID interfaces for the walk, the capabilities and a read that only a cancel ends, and
// simulated interfaces over message-mode named pipes served by the test itself.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_hid.h"

namespace korv::win32 {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr DWORD kGenerousMs = 10000;

std::string Narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

bool IsPipePath(std::u16string_view path) {
    return path.starts_with(u"\\\\.\\pipe\\");
}

// A platform interface of the walk with what it says about itself.
struct ExaminedInterface {
    HidInterfaceInfo info;
    HidCapabilities capabilities;
};

std::vector<ExaminedInterface> ExaminePlatformInterfaces(const Win32HidInterfaces& interfaces) {
    std::vector<ExaminedInterface> examined;
    for (const HidInterfaceInfo& info : interfaces.Enumerate()) {
        if (IsPipePath(info.path))
            continue;
        const auto opened = interfaces.Open(info.path, HidOpenMode::Plain);
        EXPECT_NE(opened.device, nullptr)
            << Narrow(info.path) << ": " << opened.failure.operation << " " << opened.failure.code;
        if (opened.device == nullptr)
            continue;
        const auto result = opened.device->Capabilities();
        EXPECT_TRUE(result.capabilities.has_value())
            << Narrow(info.path) << ": " << result.failure.operation << " " << result.failure.code;
        if (result.capabilities)
            examined.push_back({info, *result.capabilities});
    }
    return examined;
}

const ExaminedInterface* FindByUsage(const std::vector<ExaminedInterface>& examined,
                                     std::uint16_t usage_page, std::uint16_t usage) {
    const auto found = std::find_if(examined.begin(), examined.end(), [&](const auto& e) {
        return e.capabilities.usage_page == usage_page && e.capabilities.usage == usage;
    });
    return found == examined.end() ? nullptr : &*found;
}

// One Read on a thread of its own. A read still waiting when the test ends is cancelled, so a
// failing test does not hang.
class PendingRead {
  public:
    PendingRead(HidDevice& device, std::span<std::uint8_t> buffer)
        : device_(device), result_(std::async(std::launch::async, [this, &device, buffer] {
              entered_ = true;
              return device.Read(buffer);
          })) {}
    PendingRead(const PendingRead&) = delete;
    PendingRead& operator=(const PendingRead&) = delete;
    ~PendingRead() {
        if (result_.valid()) {
            device_.CancelRead();
            result_.wait();
        }
    }

    // Still waiting `time` after the reading thread got to the read (a loaded machine may start
    // that thread late, and a read that has not begun proves nothing).
    bool StillWaitingAfter(std::chrono::milliseconds time) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!entered_ && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        return result_.wait_for(time) == std::future_status::timeout;
    }
    // The outcome, once the read has returned (nothing when it has not within a generous time).
    std::optional<HidReadResult> Outcome() {
        if (result_.wait_for(10s) != std::future_status::ready)
            return std::nullopt;
        return result_.get();
    }

  private:
    HidDevice& device_;
    std::atomic<bool> entered_ = false;
    std::future<HidReadResult> result_;
};

TEST(Win32HidInterfaces, WalkListsWinesVirtualInterfacesWithIdsAndCapabilities) {
    const Win32HidInterfaces interfaces;
    ASSERT_TRUE(interfaces.DeviceSetupBound());
    ASSERT_TRUE(interfaces.HidBound());

    const auto examined = ExaminePlatformInterfaces(interfaces);
    // Wine lists each interface with three identifiers, most specific first
    // ("HID\VID_845E&PID_0001\0&0000&0&0", "HID\VID_845E&PID_0001", "HID"); the middle one
    // names the device in the interface's path.
    for (const auto& e : examined) {
        SCOPED_TRACE(Narrow(e.info.path));
        ASSERT_EQ(e.info.hardware_ids.size(), 3u);
        const std::string device = Narrow(e.info.hardware_ids[1]);
        EXPECT_TRUE(device.starts_with("HID\\VID_")) << device;
        EXPECT_TRUE(Narrow(e.info.hardware_ids[0]).starts_with(device + "\\"));
        EXPECT_EQ(e.info.hardware_ids[2], u"HID");
        std::string in_path = device;
        std::replace(in_path.begin(), in_path.end(), '\\', '#');
        std::transform(in_path.begin(), in_path.end(), in_path.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_NE(Narrow(e.info.path).find(in_path), std::string::npos);
    }
    struct Expected {
        std::uint16_t usage;
        std::uint16_t input_report_length;
    };
    for (const Expected expected : {Expected{2, 2}, Expected{6, 14}}) {
        const ExaminedInterface* found = FindByUsage(examined, 1, expected.usage);
        ASSERT_NE(found, nullptr) << "usage " << expected.usage;
        EXPECT_EQ(found->capabilities.input_report_length, expected.input_report_length);
        EXPECT_TRUE(found->info.path.starts_with(u"\\\\?\\")) << Narrow(found->info.path);
    }
}

TEST(Win32HidInterfaces, VirtualMouseListsItsPressedButtons) {
    const Win32HidInterfaces interfaces;
    const auto examined = ExaminePlatformInterfaces(interfaces);
    const ExaminedInterface* mouse = FindByUsage(examined, 1, 2);
    ASSERT_NE(mouse, nullptr);
    const auto opened = interfaces.Open(mouse->info.path, HidOpenMode::Plain);
    ASSERT_NE(opened.device, nullptr);

    const std::size_t max = opened.device->MaxButtonUsages();
    ASSERT_GT(max, 0u);
    Bytes report(mouse->capabilities.input_report_length, 0);
    const auto none = opened.device->ButtonUsages(report);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
    // The first byte after the identifier holds the buttons, button 1 in bit 0.
    report[1] = 0b101;
    const auto two = opened.device->ButtonUsages(report);
    ASSERT_TRUE(two.has_value());
    EXPECT_EQ(*two, (std::vector<std::uint16_t>{1, 3}));
    EXPECT_LE(two->size(), max);
    // A report of the wrong length cannot be parsed.
    EXPECT_FALSE(opened.device->ButtonUsages(Bytes(1, 0)).has_value());
}

TEST(Win32HidInterfaces, ReadOnAnIdleVirtualDeviceWaitsUntilCancelledFromAnotherThread) {
    const Win32HidInterfaces interfaces;
    const auto examined = ExaminePlatformInterfaces(interfaces);
    const ExaminedInterface* keyboard = FindByUsage(examined, 1, 6);
    ASSERT_NE(keyboard, nullptr);
    auto opened = interfaces.Open(keyboard->info.path, HidOpenMode::OverlappedRead);
    ASSERT_NE(opened.device, nullptr);

    Bytes buffer(keyboard->capabilities.input_report_length);
    PendingRead read(*opened.device, buffer);
    EXPECT_TRUE(read.StillWaitingAfter(200ms));
    std::thread([&] { opened.device->CancelRead(); }).join();
    const std::optional<HidReadResult> outcome = read.Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->status, HidReadResult::Status::Cancelled);
    // The cancel stays: a later read returns at once.
    EXPECT_EQ(opened.device->Read(buffer).status, HidReadResult::Status::Cancelled);
    opened.device.reset();
}

TEST(Win32HidInterfaces, OpeningAMissingInterfaceNamesTheFailingCall) {
    const Win32HidInterfaces interfaces;
    const auto opened = interfaces.Open(
        u"\\\\?\\hid#no_such_device#0#{4d1e55b2-f16f-11cf-88cb-001111000030}", HidOpenMode::Plain);
    EXPECT_EQ(opened.device, nullptr);
    EXPECT_EQ(opened.failure.operation, "CreateFileW");
    EXPECT_NE(opened.failure.code, 0u);
}

// The server end of a simulated interface's pipe: message mode, one instance.
class PipeServer {
  public:
    explicit PipeServer(const std::wstring& name)
        : pipe_(CreateNamedPipeW(
              (L"\\\\.\\pipe\\" + name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
              PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr)),
          event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    bool Valid() const { return pipe_.Valid(); }
    void Close() { pipe_.Reset(); }

    bool WaitForClient() {
        OVERLAPPED overlapped = Overlapped();
        if (ConnectNamedPipe(pipe_.Get(), &overlapped))
            return true;
        if (GetLastError() == ERROR_PIPE_CONNECTED)
            return true;
        return GetLastError() == ERROR_IO_PENDING && Finish(overlapped);
    }

    bool Send(const Bytes& message) {
        OVERLAPPED overlapped = Overlapped();
        DWORD written = 0;
        if (WriteFile(pipe_.Get(), message.data(), static_cast<DWORD>(message.size()), &written,
                      &overlapped)) {
            return true;
        }
        return GetLastError() == ERROR_IO_PENDING && Finish(overlapped);
    }

    std::optional<Bytes> Receive() {
        Bytes message(4096);
        OVERLAPPED overlapped = Overlapped();
        DWORD bytes = 0;
        if (!ReadFile(pipe_.Get(), message.data(), static_cast<DWORD>(message.size()), nullptr,
                      &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            return std::nullopt;
        }
        if (WaitForSingleObject(event_.Get(), kGenerousMs) != WAIT_OBJECT_0 ||
            !GetOverlappedResult(pipe_.Get(), &overlapped, &bytes, FALSE)) {
            CancelIoEx(pipe_.Get(), &overlapped);
            GetOverlappedResult(pipe_.Get(), &overlapped, &bytes, TRUE);
            return std::nullopt;
        }
        message.resize(bytes);
        return message;
    }

  private:
    OVERLAPPED Overlapped() const {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.Get();
        return overlapped;
    }
    bool Finish(OVERLAPPED& overlapped) {
        DWORD bytes = 0;
        if (WaitForSingleObject(event_.Get(), kGenerousMs) != WAIT_OBJECT_0) {
            CancelIoEx(pipe_.Get(), &overlapped);
            GetOverlappedResult(pipe_.Get(), &overlapped, &bytes, TRUE);
            return false;
        }
        return GetOverlappedResult(pipe_.Get(), &overlapped, &bytes, FALSE);
    }

    UniqueHandle pipe_;
    UniqueHandle event_;
};

Bytes Pattern(std::size_t size, std::uint8_t first) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

// A simulated interface declared to the backend, whose pipe the test serves.
class SimulatedHidInterfaceTest : public ::testing::Test {
  protected:
    SimulatedHidInterfaceTest()
        : pipe_name_(L"korv-hid-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(GetTickCount64())),
          declared_{FromWide(pipe_name_), u"SIM\\VID_1234&PID_5678&Col01", {1, 0xFFA0, 8, 8, 0}},
          interfaces_({declared_}) {}

    std::u16string Path() const { return SimulatedInterfacePath(declared_.pipe_name); }

    bool Listed() const {
        const auto found = interfaces_.Enumerate();
        return std::any_of(found.begin(), found.end(),
                           [&](const HidInterfaceInfo& info) { return info.path == Path(); });
    }

    // Serves the pipe and opens it for reading.
    std::unique_ptr<HidDevice> Connect(HidOpenMode mode = HidOpenMode::OverlappedRead) {
        server_.reset();  // one instance at a time
        server_ = std::make_unique<PipeServer>(pipe_name_);
        EXPECT_TRUE(server_->Valid());
        auto opened = interfaces_.Open(Path(), mode);
        EXPECT_NE(opened.device, nullptr) << opened.failure.operation << " " << opened.failure.code;
        EXPECT_TRUE(server_->WaitForClient());
        return std::move(opened.device);
    }

    std::wstring pipe_name_;
    SimulatedHidInterface declared_;
    Win32HidInterfaces interfaces_;
    std::unique_ptr<PipeServer> server_;
};

TEST_F(SimulatedHidInterfaceTest, ListedAfterThePlatformsInterfacesOnlyWhileItsPipeExists) {
    EXPECT_FALSE(Listed());
    server_ = std::make_unique<PipeServer>(pipe_name_);
    ASSERT_TRUE(server_->Valid());
    const auto found = interfaces_.Enumerate();
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.back().path, u"\\\\.\\pipe\\" + declared_.pipe_name);
    EXPECT_EQ(found.back().hardware_ids, std::vector<std::u16string>{declared_.hardware_id});

    // Its one instance taken by a reader: still present.
    const auto opened = interfaces_.Open(Path(), HidOpenMode::OverlappedRead);
    ASSERT_NE(opened.device, nullptr);
    EXPECT_TRUE(Listed());

    server_->Close();
    EXPECT_FALSE(Listed());
}

TEST_F(SimulatedHidInterfaceTest, CapabilitiesComeFromTheDeclarationAndFeaturesAreNotSupported) {
    const auto device = Connect(HidOpenMode::Plain);
    ASSERT_NE(device, nullptr);
    const auto result = device->Capabilities();
    ASSERT_TRUE(result.capabilities.has_value());
    EXPECT_EQ(*result.capabilities, declared_.capabilities);
    EXPECT_EQ(device->MaxButtonUsages(), 0u);
    EXPECT_FALSE(device->ButtonUsages(Bytes(8)).has_value());
    Bytes feature(8);
    const auto get = device->GetFeature(feature);
    ASSERT_TRUE(get.has_value());
    EXPECT_EQ(get->code, static_cast<std::uint32_t>(ERROR_NOT_SUPPORTED));
    const auto set = device->SetFeature(feature);
    ASSERT_TRUE(set.has_value());
    EXPECT_EQ(set->code, static_cast<std::uint32_t>(ERROR_NOT_SUPPORTED));
    // A plain device has no cancellable read.
    const HidReadResult read = device->Read(feature);
    EXPECT_EQ(read.status, HidReadResult::Status::Refused);
    EXPECT_EQ(read.failure.code, static_cast<std::uint32_t>(ERROR_INVALID_FUNCTION));
}

TEST_F(SimulatedHidInterfaceTest, EachServerMessageIsOneReportOfItsOwnSize) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    const std::vector<Bytes> messages = {Pattern(8, 0x07), Pattern(3, 0x08), Pattern(1, 0x00),
                                         Pattern(8, 0x10), Pattern(0, 0x00)};
    for (const Bytes& message : messages)
        ASSERT_TRUE(server_->Send(message));
    for (const Bytes& message : messages) {
        Bytes buffer(8, 0xEE);
        const HidReadResult read = device->Read(buffer);
        ASSERT_EQ(read.status, HidReadResult::Status::Report);
        ASSERT_EQ(read.size, message.size());
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + read.size), message);
        EXPECT_TRUE(std::all_of(buffer.begin() + read.size, buffer.end(),
                                [](std::uint8_t b) { return b == 0xEE; }));
    }
}

TEST_F(SimulatedHidInterfaceTest, ReadWaitingForTheServerGetsTheNextMessage) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    Bytes buffer(8);
    PendingRead read(*device, buffer);
    EXPECT_TRUE(read.StillWaitingAfter(100ms));
    ASSERT_TRUE(server_->Send(Pattern(8, 0x07)));
    const std::optional<HidReadResult> outcome = read.Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->status, HidReadResult::Status::Report);
    EXPECT_EQ(outcome->size, 8u);
    EXPECT_EQ(buffer, Pattern(8, 0x07));
}

TEST_F(SimulatedHidInterfaceTest, MessageLongerThanTheBufferFailsWithoutOverrunAndIsSkipped) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    for (const std::size_t long_size : {9u, 20u, 1000u}) {
        SCOPED_TRACE(long_size);
        ASSERT_TRUE(server_->Send(Pattern(long_size, 0x40)));
        ASSERT_TRUE(server_->Send(Pattern(8, 0x07)));
        std::array<std::uint8_t, 16> storage;
        storage.fill(0xEE);
        const std::span<std::uint8_t> buffer(storage.data(), 8);

        const HidReadResult first = device->Read(buffer);
        EXPECT_EQ(first.status, HidReadResult::Status::Failed);
        EXPECT_EQ(first.failure.code, static_cast<std::uint32_t>(ERROR_MORE_DATA));
        EXPECT_TRUE(std::all_of(storage.begin() + 8, storage.end(),
                                [](std::uint8_t b) { return b == 0xEE; }));

        const HidReadResult next = device->Read(buffer);
        ASSERT_EQ(next.status, HidReadResult::Status::Report);
        EXPECT_EQ(next.size, 8u);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Pattern(8, 0x07));
    }
}

TEST_F(SimulatedHidInterfaceTest, ServerGoingAwayIsDeviceNotConnected) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    Bytes buffer(8);
    PendingRead read(*device, buffer);
    EXPECT_TRUE(read.StillWaitingAfter(100ms));
    server_->Close();
    const std::optional<HidReadResult> outcome = read.Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->status, HidReadResult::Status::Failed);
    EXPECT_EQ(outcome->failure.code, kHidErrorDeviceNotConnected);
    // A read issued afterwards is not even started, for the same reason.
    const HidReadResult later = device->Read(buffer);
    EXPECT_EQ(later.status, HidReadResult::Status::Refused);
    EXPECT_EQ(later.failure.code, kHidErrorDeviceNotConnected);
}

TEST_F(SimulatedHidInterfaceTest, CancelWhileWaitingEndsTheReadAndEveryLaterOne) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    Bytes buffer(8);
    PendingRead read(*device, buffer);
    EXPECT_TRUE(read.StillWaitingAfter(100ms));
    device->CancelRead();
    const std::optional<HidReadResult> outcome = read.Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->status, HidReadResult::Status::Cancelled);
    // A report that arrives afterwards is not read.
    ASSERT_TRUE(server_->Send(Pattern(8, 0x07)));
    EXPECT_EQ(device->Read(buffer).status, HidReadResult::Status::Cancelled);
}

TEST_F(SimulatedHidInterfaceTest, OutputReportsReachTheServerInEitherMode) {
    for (const HidOpenMode mode : {HidOpenMode::Plain, HidOpenMode::OverlappedRead}) {
        const auto device = Connect(mode);
        ASSERT_NE(device, nullptr);
        const Bytes report = Pattern(8, 0x21);
        EXPECT_FALSE(device->Write(report).has_value());
        EXPECT_EQ(server_->Receive(), report);
    }
}

TEST_F(SimulatedHidInterfaceTest, WriteAfterTheServerWentAwayFails) {
    const auto device = Connect(HidOpenMode::Plain);
    ASSERT_NE(device, nullptr);
    server_->Close();
    const auto failure = device->Write(Pattern(8, 0x21));
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->operation, "WriteFile");
    EXPECT_NE(failure->code, 0u);
}

}  // namespace
}  // namespace korv::win32
