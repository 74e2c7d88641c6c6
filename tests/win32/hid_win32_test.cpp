// The HID interface classes on Wine's real device-setup and HID functions and named pipes: Wine's
// own two virtual HID interfaces for the walk, the capabilities and a read that only a cancel
// ends; and simulated interfaces over message-mode named pipes served by the test itself.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <future>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/message_pipe_server.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_hid_device.h"
#include "platform/win32/win32_pipe_hid.h"

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

// A platform interface of the walk with what it says about itself.
struct ExaminedInterface {
    HidInterfaceInfo info;
    HidCapabilities capabilities;
};

std::vector<ExaminedInterface> ExaminePlatformInterfaces(const Win32HidInterfaces& interfaces) {
    std::vector<ExaminedInterface> examined;
    for (const HidInterfaceInfo& info : interfaces.Enumerate()) {
        const auto opened = interfaces.Open(info.path, HidOpenMode::Control);
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
    const auto opened = interfaces.Open(mouse->info.path, HidOpenMode::Control);
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
    auto opened = interfaces.Open(keyboard->info.path, HidOpenMode::Reading);
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

// The platform's errors as the reader acts on them. A wait that failed (a bad handle) is not a
// cancelled read, which would end the reader as if the device had gone.
TEST(Win32HidInterfaces, ErrorsMapToTheKindsTheReaderActsOn) {
    const struct {
        DWORD error;
        HidFailureKind kind;
    } cases[] = {
        {ERROR_DEVICE_NOT_CONNECTED, HidFailureKind::DeviceGone},
        {ERROR_BROKEN_PIPE, HidFailureKind::DeviceGone},
        {ERROR_FILE_NOT_FOUND, HidFailureKind::DeviceGone},
        {ERROR_OPERATION_ABORTED, HidFailureKind::Cancelled},
        {ERROR_ACCESS_DENIED, HidFailureKind::AccessDenied},
        {ERROR_SHARING_VIOLATION, HidFailureKind::AccessDenied},
        {ERROR_INVALID_HANDLE, HidFailureKind::Invalid},
        {ERROR_PIPE_BUSY, HidFailureKind::Other},
        {ERROR_TIMEOUT, HidFailureKind::Other},
        {ERROR_GEN_FAILURE, HidFailureKind::Other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(HidFailureKindOf(c.error), c.kind);
        const HidFailure failure = HidFailureOf("WaitForMultipleObjects", c.error);
        EXPECT_EQ(failure.code, c.error);
        EXPECT_EQ(failure.kind, c.kind);
    }
}

TEST(Win32HidInterfaces, OpeningAMissingInterfaceNamesTheFailingCall) {
    const Win32HidInterfaces interfaces;
    const auto opened =
        interfaces.Open(u"\\\\?\\hid#no_such_device#0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                        HidOpenMode::Control);
    EXPECT_EQ(opened.device, nullptr);
    EXPECT_EQ(opened.failure.operation, "CreateFileW");
    EXPECT_EQ(opened.failure.kind, HidFailureKind::DeviceGone) << opened.failure.code;
    EXPECT_NE(opened.failure.code, 0u);
}

Bytes Pattern(std::size_t size, std::uint8_t first) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// A simulated interface declared to the pipe class, whose pipe the test serves with one
// instance at a time.
class PipeHidInterfaceTest : public ::testing::Test {
  protected:
    PipeHidInterfaceTest()
        : pipe_name_(L"korv-hid-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(GetTickCount64())),
          declared_{FromWide(pipe_name_), u"SIM\\VID_1234&PID_5678&Col01", {1, 0xFFA0, 8, 8, 0}},
          interfaces_({declared_}) {}

    std::u16string Path() const { return PipeHidPath(declared_.pipe_name); }

    bool Listed() const {
        const auto found = interfaces_.Enumerate();
        return std::any_of(found.begin(), found.end(),
                           [&](const HidInterfaceInfo& info) { return info.path == Path(); });
    }

    // A new server instance, the only one; `buffer_bytes` bounds what a client may write
    // before the server reads.
    void Serve(DWORD buffer_bytes = kMessagePipeBufferBytes) {
        server_.reset();
        server_ = MessagePipeInstance::Create(ToWide(Path()), 1, 0, buffer_bytes).instance;
        ASSERT_NE(server_, nullptr);
    }

    // Serves the pipe and opens it.
    std::unique_ptr<HidDevice> Connect(HidOpenMode mode = HidOpenMode::Reading,
                                       DWORD buffer_bytes = kMessagePipeBufferBytes) {
        Serve(buffer_bytes);
        if (server_ == nullptr)
            return nullptr;
        auto opened = interfaces_.Open(Path(), mode);
        EXPECT_NE(opened.device, nullptr) << opened.failure.operation << " " << opened.failure.code;
        EXPECT_TRUE(server_->WaitForClient(kGenerousMs));
        return std::move(opened.device);
    }

    bool Send(const Bytes& message) { return server_->Write(message, kGenerousMs) == 0; }

    std::wstring pipe_name_;
    PipeHidDeclaration declared_;
    Win32PipeHidInterfaces interfaces_;
    std::unique_ptr<MessagePipeInstance> server_;
};

TEST_F(PipeHidInterfaceTest, ListedOnlyWhileItsPipeExists) {
    EXPECT_FALSE(Listed());
    Serve();
    const auto found = interfaces_.Enumerate();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, u"\\\\.\\pipe\\" + declared_.pipe_name);
    EXPECT_EQ(found[0].hardware_ids, std::vector<std::u16string>{declared_.hardware_id});

    // Its one instance taken by a reader: still present.
    const auto opened = interfaces_.Open(Path(), HidOpenMode::Reading);
    ASSERT_NE(opened.device, nullptr);
    EXPECT_TRUE(Listed());

    server_.reset();
    EXPECT_FALSE(Listed());
}

TEST_F(PipeHidInterfaceTest, IdentifyingGivesTheDeclarationWithoutConnecting) {
    Serve();
    const auto identified = interfaces_.Open(Path(), HidOpenMode::Identify);
    ASSERT_NE(identified.device, nullptr);
    const auto result = identified.device->Capabilities();
    ASSERT_TRUE(result.capabilities.has_value());
    EXPECT_EQ(*result.capabilities, declared_.capabilities);
    EXPECT_FALSE(server_->WaitForClient(200));  // the instance is still free
    // A device that was only identified has no transfers.
    Bytes buffer(8);
    const HidReadResult read = identified.device->Read(buffer);
    EXPECT_EQ(read.status, HidReadResult::Status::Refused);
    EXPECT_EQ(read.failure.kind, HidFailureKind::Invalid);
    const auto write = identified.device->Write(buffer);
    ASSERT_TRUE(write.has_value());
    EXPECT_EQ(write->kind, HidFailureKind::Invalid);
    // An undeclared pipe is not opened at all.
    const auto undeclared = interfaces_.Open(u"\\\\.\\pipe\\korv-undeclared", HidOpenMode::Control);
    EXPECT_EQ(undeclared.device, nullptr);
    EXPECT_EQ(undeclared.failure.kind, HidFailureKind::DeviceGone);
}

TEST_F(PipeHidInterfaceTest, CapabilitiesComeFromTheDeclarationAndFeaturesAreNotSupported) {
    const auto device = Connect(HidOpenMode::Control);
    ASSERT_NE(device, nullptr);
    const auto result = device->Capabilities();
    ASSERT_TRUE(result.capabilities.has_value());
    EXPECT_EQ(*result.capabilities, declared_.capabilities);
    EXPECT_EQ(device->MaxButtonUsages(), 0u);
    EXPECT_FALSE(device->ButtonUsages(Bytes(8)).has_value());
    Bytes feature(8);
    for (const auto& failure : {device->GetFeature(feature), device->SetFeature(feature)}) {
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->code, static_cast<std::uint32_t>(ERROR_NOT_SUPPORTED));
        EXPECT_EQ(failure->kind, HidFailureKind::Invalid);
    }
}

// A pipe whose every instance is taken fails to open at once, naming the call that failed with
// its own code; it used to wait half a second and report the wait's timeout as CreateFileW's.
TEST_F(PipeHidInterfaceTest, ABusyPipeFailsToOpenAtOnceWithCreateFilesOwnError) {
    const auto first = Connect();
    ASSERT_NE(first, nullptr);
    for (const HidOpenMode mode : {HidOpenMode::Reading, HidOpenMode::Control}) {
        const auto start = std::chrono::steady_clock::now();
        const auto second = interfaces_.Open(Path(), mode);
        EXPECT_LT(MillisecondsSince(start), 100.0);
        EXPECT_EQ(second.device, nullptr);
        EXPECT_EQ(second.failure.operation, "CreateFileW");
        EXPECT_EQ(second.failure.code, static_cast<std::uint32_t>(ERROR_PIPE_BUSY));
    }
}

TEST_F(PipeHidInterfaceTest, EachServerMessageIsOneReportOfItsOwnSize) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    const std::vector<Bytes> messages = {Pattern(8, 0x07), Pattern(3, 0x08), Pattern(1, 0x00),
                                         Pattern(8, 0x10), Pattern(0, 0x00)};
    for (const Bytes& message : messages)
        ASSERT_TRUE(Send(message));
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

TEST_F(PipeHidInterfaceTest, ReadWaitingForTheServerGetsTheNextMessage) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    Bytes buffer(8);
    PendingRead read(*device, buffer);
    EXPECT_TRUE(read.StillWaitingAfter(100ms));
    ASSERT_TRUE(Send(Pattern(8, 0x07)));
    const std::optional<HidReadResult> outcome = read.Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->status, HidReadResult::Status::Report);
    EXPECT_EQ(outcome->size, 8u);
    EXPECT_EQ(buffer, Pattern(8, 0x07));
}

TEST_F(PipeHidInterfaceTest, MessageLongerThanTheBufferFailsWithoutOverrunAndIsSkipped) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    for (const std::size_t long_size : {9u, 20u, 1000u}) {
        SCOPED_TRACE(long_size);
        ASSERT_TRUE(Send(Pattern(long_size, 0x40)));
        ASSERT_TRUE(Send(Pattern(8, 0x07)));
        std::array<std::uint8_t, 16> storage;
        storage.fill(0xEE);
        const std::span<std::uint8_t> buffer(storage.data(), 8);

        const HidReadResult first = device->Read(buffer);
        EXPECT_EQ(first.status, HidReadResult::Status::Failed);
        EXPECT_EQ(first.failure.code, static_cast<std::uint32_t>(ERROR_MORE_DATA));
        EXPECT_EQ(first.failure.kind, HidFailureKind::Other);
        EXPECT_TRUE(std::all_of(storage.begin() + 8, storage.end(),
                                [](std::uint8_t b) { return b == 0xEE; }));

        const HidReadResult next = device->Read(buffer);
        ASSERT_EQ(next.status, HidReadResult::Status::Report);
        EXPECT_EQ(next.size, 8u);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Pattern(8, 0x07));
    }
}

TEST_F(PipeHidInterfaceTest, ServerGoingAwayIsADeviceGone) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    Bytes buffer(8);
    PendingRead read(*device, buffer);
    EXPECT_TRUE(read.StillWaitingAfter(100ms));
    server_.reset();
    const std::optional<HidReadResult> outcome = read.Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->status, HidReadResult::Status::Failed);
    EXPECT_EQ(outcome->failure.kind, HidFailureKind::DeviceGone) << outcome->failure.code;
    // A read issued afterwards is not even started, for the same reason.
    const HidReadResult later = device->Read(buffer);
    EXPECT_EQ(later.status, HidReadResult::Status::Refused);
    EXPECT_EQ(later.failure.kind, HidFailureKind::DeviceGone) << later.failure.code;
    // Nor is a write.
    const auto write = device->Write(Pattern(8, 0x21));
    ASSERT_TRUE(write.has_value());
    EXPECT_EQ(write->operation, "WriteFile");
    EXPECT_EQ(write->kind, HidFailureKind::DeviceGone) << write->code;
}

TEST_F(PipeHidInterfaceTest, CancelWhileWaitingEndsTheReadAndEveryLaterOne) {
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
    ASSERT_TRUE(Send(Pattern(8, 0x07)));
    EXPECT_EQ(device->Read(buffer).status, HidReadResult::Status::Cancelled);
}

// Output reports go out whole, as the HID class takes them: a shorter one is padded with zeros
// to the interface's output report length; one of that length or longer goes as it is.
TEST_F(PipeHidInterfaceTest, OutputReportsArePaddedToTheOutputReportLengthInEitherMode) {
    struct Case {
        Bytes report;
        Bytes received;
    };
    const Case cases[] = {
        {{0x05, 0x01, 0xAB}, {0x05, 0x01, 0xAB, 0, 0, 0, 0, 0}},
        {{0x05}, {0x05, 0, 0, 0, 0, 0, 0, 0}},
        {Pattern(8, 0x21), Pattern(8, 0x21)},
        {Pattern(9, 0x21), Pattern(9, 0x21)},
    };
    for (const HidOpenMode mode : {HidOpenMode::Control, HidOpenMode::Reading}) {
        const auto device = Connect(mode);
        ASSERT_NE(device, nullptr);
        for (const Case& c : cases) {
            EXPECT_FALSE(device->Write(c.report).has_value());
            EXPECT_EQ(server_->Receive(kGenerousMs), c.received);
        }
    }
}

// A write that the device never takes ends after a bounded time, or at once on CancelRead from
// another thread; it used to wait for ever.
TEST_F(PipeHidInterfaceTest, AWriteTheServerNeverTakesEndsInBoundedTimeOrWhenCancelled) {
    // A pipe buffer of a few reports, which the server never reads.
    const auto device = Connect(HidOpenMode::Control, 16);
    ASSERT_NE(device, nullptr);
    const auto write_until_one_fails = [&] {
        for (int i = 0; i < 1000; ++i) {
            if (auto failure = device->Write(Pattern(8, 0x30)))
                return failure;
        }
        return std::optional<HidFailure>();
    };
    auto start = std::chrono::steady_clock::now();
    auto timed_out = std::async(std::launch::async, write_until_one_fails);
    if (timed_out.wait_for(10s) != std::future_status::ready) {
        server_.reset();  // breaks the pipe, so that the write ends and the test with it
        FAIL() << "a write still waits after 10 s";
    }
    const std::optional<HidFailure> failure = timed_out.get();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->operation, "WriteFile");
    EXPECT_EQ(failure->kind, HidFailureKind::Other);
    EXPECT_EQ(failure->code, static_cast<std::uint32_t>(ERROR_TIMEOUT));
    EXPECT_GE(MillisecondsSince(start), kHidWriteTimeoutMs - 50.0);

    // The buffer is still full: the next write waits until it is cancelled.
    auto cancelled = std::async(std::launch::async, [&] { return device->Write(Pattern(8, 1)); });
    EXPECT_EQ(cancelled.wait_for(200ms), std::future_status::timeout);
    start = std::chrono::steady_clock::now();
    device->CancelRead();
    ASSERT_EQ(cancelled.wait_for(10s), std::future_status::ready);
    EXPECT_LT(MillisecondsSince(start), kHidWriteTimeoutMs / 2.0);
    const std::optional<HidFailure> cancel = cancelled.get();
    ASSERT_TRUE(cancel.has_value());
    EXPECT_EQ(cancel->kind, HidFailureKind::Cancelled);
}

// The same pipe declared in several spellings that the system takes for one name is one
// interface, listed once under its first declaration.
TEST(PipeHidInterfaces, APipeDeclaredInSeveralSpellingsIsListedOnce) {
    const std::wstring name = L"korv-spelling-" + std::to_wstring(GetCurrentProcessId());
    std::wstring upper = name;
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    const HidCapabilities caps{1, 0xFFA0, 8, 8, 0};
    const Win32PipeHidInterfaces interfaces({{FromWide(name) + u". ", u"HID\\FIRST", caps},
                                             {FromWide(upper), u"HID\\SECOND", caps},
                                             {FromWide(name) + u".", u"HID\\THIRD", caps},
                                             {FromWide(name) + u" ", u"HID\\FOURTH", caps},
                                             {FromWide(name), u"HID\\FIFTH", caps}});
    const auto server =
        MessagePipeInstance::Create(L"\\\\.\\pipe\\" + name, PIPE_UNLIMITED_INSTANCES).instance;
    ASSERT_NE(server, nullptr);
    const auto found = interfaces.Enumerate();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, PipeHidPath(FromWide(name)));
    EXPECT_EQ(found[0].hardware_ids, std::vector<std::u16string>{u"HID\\FIRST"});
    // Every spelling opens it.
    for (const std::wstring& spelling : {upper, name + L".", name + L" "}) {
        const auto opened = interfaces.Open(PipeHidPath(FromWide(spelling)), HidOpenMode::Identify);
        EXPECT_NE(opened.device, nullptr) << Narrow(FromWide(spelling));
    }
}

}  // namespace
}  // namespace korv::win32
