// The simulated HID class on Linux against real SOCK_SEQPACKET servers in a private folder:
// listed while the socket file exists, identified without a connection, one message per report
// (a longer one truncated as hidraw truncates), a read that waits without polling and ends on
// cancel or when the server goes, output reports padded, and features refused.

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/linux_socket_hid.h"
#include "tests/linux/sim_test_support.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::ListenOn;
using test::PrivateFolder;

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

// A read on a thread of its own.
class PendingRead {
  public:
    PendingRead(HidDevice& device, std::span<std::uint8_t> buffer)
        : result_(
              std::async(std::launch::async, [&device, buffer] { return device.Read(buffer); })) {}
    ~PendingRead() {
        if (result_.valid())
            result_.wait();
    }

    bool StillWaitingAfter(std::chrono::milliseconds time) {
        return result_.wait_for(time) == std::future_status::timeout;
    }
    std::optional<HidReadResult> Outcome() {
        if (result_.wait_for(test::kGenerous) != std::future_status::ready)
            return std::nullopt;
        return result_.get();
    }

  private:
    std::future<HidReadResult> result_;
};

// A simulated interface declared to the socket class, served by the test.
class SocketHidInterfaceTest : public ::testing::Test {
  protected:
    SocketHidInterfaceTest()
        : declared_{u"KORV-SIM-TEST", u"HID\\KORVANTH417_SIMULATED&Col01", {1, 0xFFA0, 8, 8, 0}},
          interfaces_(folder_.Path(), {declared_}) {}

    void SetUp() override { ASSERT_TRUE(folder_.Valid()); }

    std::u16string Path() const { return SocketHidPath(folder_.Path(), declared_.name); }
    std::string SocketFile() const { return folder_ / "KORV-SIM-TEST"; }

    bool Listed() const {
        const auto found = interfaces_.Enumerate();
        return std::ranges::any_of(found,
                                   [&](const HidInterfaceInfo& i) { return i.path == Path(); });
    }

    void Serve() {
        listening_ = ListenOn(SocketFile());
        ASSERT_TRUE(listening_.Valid());
    }

    // Serves the socket, opens it and takes the connection.
    std::unique_ptr<HidDevice> Connect(HidOpenMode mode = HidOpenMode::Reading) {
        Serve();
        auto opened = interfaces_.Open(Path(), mode);
        EXPECT_NE(opened.device, nullptr) << opened.failure.operation << " " << opened.failure.code;
        connection_.Reset(accept4(listening_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        EXPECT_TRUE(connection_.Valid());
        return std::move(opened.device);
    }

    bool Send(const Bytes& message) const {
        return send(connection_.Get(), message.data(), message.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(message.size());
    }

    std::optional<Bytes> Receive() const {
        pollfd entry{connection_.Get(), POLLIN, 0};
        if (poll(&entry, 1, 10000) != 1)
            return std::nullopt;
        Bytes buffer(70000);
        const ssize_t length = recv(connection_.Get(), buffer.data(), buffer.size(), 0);
        if (length < 0)
            return std::nullopt;
        buffer.resize(static_cast<std::size_t>(length));
        return buffer;
    }

    PrivateFolder folder_;
    SocketHidDeclaration declared_;
    LinuxSocketHidInterfaces interfaces_;
    UniqueFd listening_;
    UniqueFd connection_;
};

TEST_F(SocketHidInterfaceTest, ListedOnlyWhileItsSocketFileExists) {
    EXPECT_FALSE(Listed());
    // A file of another kind under the name is not a socket.
    { std::ofstream(SocketFile()) << "x"; }
    EXPECT_FALSE(Listed());
    ASSERT_EQ(unlink(SocketFile().c_str()), 0);

    Serve();
    const auto found = interfaces_.Enumerate();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, Path());
    EXPECT_EQ(std::string(found[0].path.begin(), found[0].path.end()), SocketFile());
    EXPECT_EQ(found[0].hardware_ids, std::vector<std::u16string>{declared_.hardware_id});

    // Still there while a reader holds a connection.
    const auto opened = interfaces_.Open(Path(), HidOpenMode::Reading);
    ASSERT_NE(opened.device, nullptr);
    EXPECT_TRUE(Listed());

    ASSERT_EQ(unlink(SocketFile().c_str()), 0);
    EXPECT_FALSE(Listed());
}

TEST_F(SocketHidInterfaceTest, IdentifyingGivesTheDeclarationWithoutConnecting) {
    Serve();
    const auto identified = interfaces_.Open(Path(), HidOpenMode::Identify);
    ASSERT_NE(identified.device, nullptr);
    const auto result = identified.device->Capabilities();
    ASSERT_TRUE(result.capabilities.has_value());
    EXPECT_EQ(*result.capabilities, declared_.capabilities);
    pollfd entry{listening_.Get(), POLLIN, 0};
    EXPECT_EQ(poll(&entry, 1, 100), 0);  // no one connected
    // A device that was only identified has no transfers.
    Bytes buffer(8);
    const HidReadResult read = identified.device->Read(buffer);
    EXPECT_EQ(read.status, HidReadResult::Status::Refused);
    EXPECT_EQ(read.failure.kind, HidFailureKind::Invalid);
    const auto write = identified.device->Write(buffer);
    ASSERT_TRUE(write.has_value());
    EXPECT_EQ(write->kind, HidFailureKind::Invalid);
    // An undeclared socket is not opened at all, even when it exists.
    const UniqueFd other = ListenOn(folder_ / "UNDECLARED");
    const auto undeclared =
        interfaces_.Open(SocketHidPath(folder_.Path(), u"UNDECLARED"), HidOpenMode::Control);
    EXPECT_EQ(undeclared.device, nullptr);
    EXPECT_EQ(undeclared.failure.kind, HidFailureKind::DeviceGone);
}

TEST_F(SocketHidInterfaceTest, CapabilitiesComeFromTheDeclarationAndFeaturesAreNotSupported) {
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
        EXPECT_EQ(failure->code, static_cast<std::uint32_t>(EOPNOTSUPP));
        EXPECT_EQ(failure->kind, HidFailureKind::Invalid);
    }
}

// Opening never waits: what is not there, or not served, fails at once with the call's errno.
TEST_F(SocketHidInterfaceTest, OpeningWhatIsNotServedFailsAtOnceWithTheKindOfTheFailure) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::uint32_t error;
        HidFailureKind kind;
    };
    UniqueFd closed_server;
    UniqueFd stream_server;
    const Case cases[] = {
        {"no file", [] {}, ENOENT, HidFailureKind::DeviceGone},
        {"a server that went away",
         [&] {
             closed_server = ListenOn(SocketFile());
             closed_server.Reset();  // the file stays
         },
         ECONNREFUSED, HidFailureKind::DeviceGone},
        {"a socket of another type", [&] { stream_server = ListenOn(SocketFile(), SOCK_STREAM); },
         EPROTOTYPE, HidFailureKind::Invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(SocketFile().c_str());
        c.prepare();
        for (const HidOpenMode mode : {HidOpenMode::Reading, HidOpenMode::Control}) {
            const auto start = std::chrono::steady_clock::now();
            const auto opened = interfaces_.Open(Path(), mode);
            EXPECT_LT(MillisecondsSince(start), 100.0);
            EXPECT_EQ(opened.device, nullptr);
            EXPECT_EQ(opened.failure.operation, "connect");
            EXPECT_EQ(opened.failure.code, c.error);
            EXPECT_EQ(opened.failure.kind, c.kind);
        }
    }
}

TEST_F(SocketHidInterfaceTest, EachServerMessageIsOneReportOfItsOwnSize) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    const std::vector<Bytes> messages = {Pattern(8, 0x07), Pattern(3, 0x08), Pattern(1, 0x00),
                                         Pattern(8, 0x10), Pattern(0, 0x00), Pattern(2, 0x07)};
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

TEST_F(SocketHidInterfaceTest, ReadWaitingForTheServerGetsTheNextMessage) {
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

// As a hidraw read into a short buffer: the start of the message, the rest dropped, the next
// read at the next message, nothing written past the buffer.
TEST_F(SocketHidInterfaceTest, AMessageLongerThanTheBufferIsTruncatedAndTheNextIsWhole) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    for (const std::size_t long_size : {9u, 20u, 60000u}) {
        SCOPED_TRACE(long_size);
        ASSERT_TRUE(Send(Pattern(long_size, 0x40)));
        ASSERT_TRUE(Send(Pattern(8, 0x07)));
        std::array<std::uint8_t, 16> storage;
        storage.fill(0xEE);
        const std::span<std::uint8_t> buffer(storage.data(), 8);

        const HidReadResult first = device->Read(buffer);
        ASSERT_EQ(first.status, HidReadResult::Status::Report);
        EXPECT_EQ(first.size, 8u);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Pattern(8, 0x40));
        EXPECT_TRUE(std::all_of(storage.begin() + 8, storage.end(),
                                [](std::uint8_t b) { return b == 0xEE; }));

        const HidReadResult next = device->Read(buffer);
        ASSERT_EQ(next.status, HidReadResult::Status::Report);
        EXPECT_EQ(next.size, 8u);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), Pattern(8, 0x07));
    }
}

// Whether the server closes while a read waits, with reports still queued (they are read
// first), or with output reports it never read, the device is gone; later reads and writes
// say so too.
TEST_F(SocketHidInterfaceTest, AServerThatGoesAwayIsADeviceGone) {
    enum class How { WhileWaiting, AfterReports, WithOutputUnread };
    for (const How how : {How::WhileWaiting, How::AfterReports, How::WithOutputUnread}) {
        SCOPED_TRACE(static_cast<int>(how));
        unlink(SocketFile().c_str());
        const auto device = Connect();
        ASSERT_NE(device, nullptr);
        Bytes buffer(8);
        if (how == How::AfterReports) {
            ASSERT_TRUE(Send(Pattern(8, 0x07)));
            ASSERT_TRUE(Send(Pattern(0, 0)));
        }
        if (how == How::WithOutputUnread) {
            ASSERT_FALSE(device->Write(Pattern(8, 0x21)).has_value());
        }
        PendingRead read(*device, buffer);
        if (how == How::WhileWaiting) {
            EXPECT_TRUE(read.StillWaitingAfter(100ms));
        }
        if (how != How::AfterReports)
            connection_.Reset();
        std::optional<HidReadResult> outcome = read.Outcome();
        ASSERT_TRUE(outcome.has_value());
        if (how == How::AfterReports) {
            EXPECT_EQ(outcome->status, HidReadResult::Status::Report);
            EXPECT_EQ(device->Read(buffer).size, 0u);  // an empty message is not the end
            connection_.Reset();
            outcome = device->Read(buffer);
        }
        EXPECT_EQ(outcome->status, HidReadResult::Status::Failed);
        EXPECT_EQ(outcome->failure.kind, HidFailureKind::DeviceGone) << outcome->failure.code;
        const HidReadResult later = device->Read(buffer);
        EXPECT_EQ(later.failure.kind, HidFailureKind::DeviceGone) << later.failure.code;
        const auto write = device->Write(Pattern(8, 0x21));
        ASSERT_TRUE(write.has_value());
        EXPECT_EQ(write->operation, "send");
        EXPECT_EQ(write->kind, HidFailureKind::DeviceGone) << write->code;
    }
}

TEST_F(SocketHidInterfaceTest, CancelWhileWaitingEndsTheReadAndEveryLaterOne) {
    const auto device = Connect();
    ASSERT_NE(device, nullptr);
    Bytes buffer(8);
    PendingRead read(*device, buffer);
    EXPECT_TRUE(read.StillWaitingAfter(100ms));
    device->CancelRead();
    const std::optional<HidReadResult> outcome = read.Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->status, HidReadResult::Status::Cancelled);
    EXPECT_EQ(outcome->failure.kind, HidFailureKind::Cancelled);
    // A report that arrives afterwards is not read.
    ASSERT_TRUE(Send(Pattern(8, 0x07)));
    EXPECT_EQ(device->Read(buffer).status, HidReadResult::Status::Cancelled);
}

// Output reports go out whole: a shorter one padded with zeros to the declared output report
// length, one of that length or longer as it is, one above the largest message refused.
TEST_F(SocketHidInterfaceTest, OutputReportsArePaddedToTheOutputReportLengthInEitherMode) {
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
        unlink(SocketFile().c_str());
        const auto device = Connect(mode);
        ASSERT_NE(device, nullptr);
        for (const Case& c : cases) {
            EXPECT_FALSE(device->Write(c.report).has_value());
            EXPECT_EQ(Receive(), c.received);
        }
        const auto oversized = device->Write(Bytes(kMaxSocketReportLength + 1));
        ASSERT_TRUE(oversized.has_value());
        EXPECT_EQ(oversized->kind, HidFailureKind::Invalid);
    }
}

// A write that the server never takes ends after a bounded time, or at once on CancelRead.
TEST_F(SocketHidInterfaceTest, AWriteTheServerNeverTakesEndsInBoundedTimeOrWhenCancelled) {
    const auto device = Connect(HidOpenMode::Control);
    ASSERT_NE(device, nullptr);
    const auto write_until_one_fails = [&] {
        for (int i = 0; i < 100000; ++i) {
            if (auto failure = device->Write(Pattern(512, 0x30)))
                return failure;
        }
        return std::optional<HidFailure>();
    };
    auto start = std::chrono::steady_clock::now();
    auto timed_out = std::async(std::launch::async, write_until_one_fails);
    if (timed_out.wait_for(10s) != std::future_status::ready) {
        connection_.Reset();  // ends the writes, and the test with them
        FAIL() << "a write still waits after 10 s";
    }
    const std::optional<HidFailure> failure = timed_out.get();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->operation, "send");
    EXPECT_EQ(failure->kind, HidFailureKind::Other);
    EXPECT_EQ(failure->code, static_cast<std::uint32_t>(ETIMEDOUT));
    EXPECT_GE(MillisecondsSince(start), 950.0);

    // Still full: the next write waits until it is cancelled.
    auto cancelled = std::async(std::launch::async, [&] { return device->Write(Pattern(8, 1)); });
    EXPECT_EQ(cancelled.wait_for(200ms), std::future_status::timeout);
    start = std::chrono::steady_clock::now();
    device->CancelRead();
    ASSERT_EQ(cancelled.wait_for(10s), std::future_status::ready);
    EXPECT_LT(MillisecondsSince(start), 500.0);
    const std::optional<HidFailure> cancel = cancelled.get();
    ASSERT_TRUE(cancel.has_value());
    EXPECT_EQ(cancel->kind, HidFailureKind::Cancelled);
}

// A name declared twice is one interface under its first declaration; names that are no file
// name of the folder declare nothing.
TEST(SocketHidInterfaces, ANameDeclaredTwiceIsListedOnceAndBadNamesNever) {
    PrivateFolder folder;
    ASSERT_TRUE(folder.Valid());
    const HidCapabilities caps{1, 0xFFA0, 8, 8, 0};
    const LinuxSocketHidInterfaces interfaces(folder.Path(), {{u"", u"HID\\EMPTY", caps},
                                                              {u"..", u"HID\\UP", caps},
                                                              {u"a/b", u"HID\\SLASH", caps},
                                                              {u"SIM", u"HID\\FIRST", caps},
                                                              {u"sim", u"HID\\LOWER", caps},
                                                              {u"SIM", u"HID\\SECOND", caps}});
    ASSERT_EQ(mkdir((folder / "a").c_str(), 0700), 0);
    const UniqueFd first = ListenOn(folder / "SIM");
    const UniqueFd slashed = ListenOn(folder / "a/b");
    ASSERT_TRUE(first.Valid() && slashed.Valid());
    const auto found = interfaces.Enumerate();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, SocketHidPath(folder.Path(), u"SIM"));
    EXPECT_EQ(found[0].hardware_ids, std::vector<std::u16string>{u"HID\\FIRST"});
    // Names compare as file names do: letter case counts.
    EXPECT_EQ(
        interfaces.Open(SocketHidPath(folder.Path(), u"sim"), HidOpenMode::Reading).failure.code,
        static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(interfaces.Open(SocketHidPath(folder.Path(), u"a/b"), HidOpenMode::Identify).device,
              nullptr);

    // Without a folder (no runtime folder in the environment) nothing is declared.
    const LinuxSocketHidInterfaces nowhere("", {{u"SIM", u"HID\\FIRST", caps}});
    EXPECT_TRUE(nowhere.Enumerate().empty());
    EXPECT_EQ(nowhere.Open(u"/SIM", HidOpenMode::Identify).device, nullptr);
}

TEST(SocketFolder, TheDefaultIsBelowTheRuntimeFolderAndIsMadeForItsOwnerOnly) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::optional<std::string> kept =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
    EXPECT_EQ(DefaultSocketFolder(), "/run/user/1000/korvanth417");
    setenv("XDG_RUNTIME_DIR", "relative", 1);
    EXPECT_EQ(DefaultSocketFolder(), std::nullopt);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(DefaultSocketFolder(), std::nullopt);
    if (kept)
        setenv("XDG_RUNTIME_DIR", kept->c_str(), 1);

    PrivateFolder runtime;
    const std::string folder = runtime / "korvanth417";
    EXPECT_EQ(CreateSocketFolder(folder), 0);
    EXPECT_EQ(CreateSocketFolder(folder), 0);  // already there
    struct stat status {};
    ASSERT_EQ(stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(CreateSocketFolder(runtime / "no/korvanth417"), ENOENT);
}

}  // namespace
}  // namespace korv::os_linux
