// The readers of TuiHIDData: what they deliver, on which thread, and how they end.
#include "hid/hid_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "hid/ui_hid_data.h"
#include "hid/usage_and_page.h"
#include "platform/fake/fake_hid.h"
#include "platform/fake/fake_main_loop.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::kMouseCaps;
using Usages = std::vector<std::uint16_t>;
using Status = HidReadResult::Status;

constexpr auto kWait = 10s;  // for events of other threads; never reached when all is well

TEST(HidReaderDecision, WhatFollowsARead) {
    struct Case {
        HidReadResult result;
        bool stop_requested;
        ReaderStep step;
    };
    using enum HidFailureKind;
    // The kind decides, whatever the platform's code beside it.
    const Case cases[] = {
        {{Status::Report, 8, {}}, false, ReaderStep::Deliver},
        {{Status::Report, 1, {}}, false, ReaderStep::Deliver},
        {{Status::Report, 0, {}}, false, ReaderStep::ReadAgain},
        {{Status::Cancelled, 0, {}}, false, ReaderStep::EndDeviceGone},
        {{Status::Refused, 0, {"ReadFile", Invalid, 6}}, false, ReaderStep::End},
        {{Status::Refused, 0, {"ReadFile", Cancelled, 995}}, false, ReaderStep::End},
        {{Status::Refused, 0, {"ReadFile", DeviceGone, 1167}}, false, ReaderStep::End},
        {{Status::Refused, 0, {"ReadFile", DeviceGone, 109}}, false, ReaderStep::End},
        {{Status::Refused, 0, {"ReadFile", AccessDenied, 5}}, false, ReaderStep::WaitForStop},
        {{Status::Refused, 0, {"ReadFile", Other, 1167}}, false, ReaderStep::WaitForStop},
        {{Status::Failed, 0, {"GetOverlappedResult", Cancelled, 995}},
         false,
         ReaderStep::EndDeviceGone},
        {{Status::Failed, 0, {"GetOverlappedResult", DeviceGone, 1167}},
         false,
         ReaderStep::EndDeviceGone},
        {{Status::Failed, 0, {"ReadFile", DeviceGone, 109}}, false, ReaderStep::EndDeviceGone},
        {{Status::Failed, 0, {"GetOverlappedResult", Other, 1167}}, false, ReaderStep::ReadAgain},
        {{Status::Failed, 0, {"GetOverlappedResult", Other, 31}}, false, ReaderStep::ReadAgain},
        {{Status::Failed, 0, {"GetOverlappedResult", Invalid, 6}}, false, ReaderStep::ReadAgain},
        // Once stop was asked, every outcome ends quietly: no report, no device-gone event.
        {{Status::Report, 8, {}}, true, ReaderStep::End},
        {{Status::Cancelled, 0, {}}, true, ReaderStep::End},
        {{Status::Failed, 0, {"GetOverlappedResult", Cancelled, 995}}, true, ReaderStep::End},
        {{Status::Failed, 0, {"GetOverlappedResult", DeviceGone, 1167}}, true, ReaderStep::End},
        {{Status::Failed, 0, {"GetOverlappedResult", Other, 31}}, true, ReaderStep::End},
        {{Status::Refused, 0, {"ReadFile", AccessDenied, 5}}, true, ReaderStep::End},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecideAfterRead(c.result, c.stop_requested), c.step)
            << "status " << static_cast<int>(c.result.status) << " size " << c.result.size
            << " kind " << static_cast<int>(c.result.failure.kind) << " code "
            << c.result.failure.code << " stop " << c.stop_requested;
    }
}

struct Delivery {
    std::u16string device_id;
    std::u16string device_path;
    std::uint8_t report_id;
    Bytes data;
    std::thread::id thread;
    bool operator==(const Delivery&) const = default;
};

// What the handlers saw. They may run on reader threads.
class Seen {
  public:
    void Data(std::u16string_view id, std::u16string_view path, std::uint8_t report_id,
              const std::uint8_t* data, std::uint16_t size) {
        Add(deliveries_, {std::u16string(id), std::u16string(path), report_id,
                          Bytes(data, data + size), std::this_thread::get_id()});
    }
    void Parsed(std::uint32_t button_data) { Add(button_data_, button_data); }
    void NotConnected(std::u16string_view id, std::u16string_view path) {
        Add(not_connected_,
            {std::u16string(id), std::u16string(path), 0, {}, std::this_thread::get_id()});
    }

    std::vector<Delivery> Deliveries() const { return Copy(deliveries_); }
    std::vector<std::uint32_t> ButtonData() const { return Copy(button_data_); }
    std::vector<Delivery> NotConnected() const { return Copy(not_connected_); }
    bool WaitForDeliveries(std::size_t count) const { return WaitFor(deliveries_, count); }
    bool WaitForNotConnected(std::size_t count) const { return WaitFor(not_connected_, count); }

  private:
    template <class T>
    void Add(std::vector<T>& to, T item) {
        {
            const std::lock_guard lock(mutex_);
            to.push_back(std::move(item));
        }
        changed_.notify_all();
    }
    template <class T>
    std::vector<T> Copy(const std::vector<T>& from) const {
        const std::lock_guard lock(mutex_);
        return from;
    }
    template <class T>
    bool WaitFor(const std::vector<T>& list, std::size_t count) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return list.size() >= count; });
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Delivery> deliveries_;
    std::vector<std::uint32_t> button_data_;
    std::vector<Delivery> not_connected_;
};

// Waits for a state that another thread reaches without telling anyone.
template <class Predicate>
bool Eventually(Predicate predicate) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class HidReaderTest : public ::testing::Test {
  protected:
    HidReaderTest() {
        hid_->OnData = [this](auto... args) { seen_.Data(args...); };
        hid_->OnDeviceNotConnected = [this](auto... args) { seen_.NotConnected(args...); };
    }
    // Every report the readers asked the button usages of was one the platform can parse.
    void TearDown() override { EXPECT_EQ(interfaces_.WrongButtonUsageReports(), 0); }
    void PushReads(std::u16string_view path, const std::vector<fake::ScriptedRead>& reads) {
        for (const fake::ScriptedRead& read : reads) {
            interfaces_.PushRead(path, read);
        }
    }
    void CountParsedData() {
        hid_->OnParsedData = [this](auto, auto, auto, std::uint32_t button_data) {
            seen_.Parsed(button_data);
        };
    }
    fake::FakeHidInterface& AddMouse(std::u16string path,
                                     std::vector<std::u16string> ids = {u"HID\\MOUSE"}) {
        return interfaces_.Add(std::move(path), std::move(ids), kMouseCaps);
    }
    // Runs the one task that a reader posts to the main thread for a report read alone.
    void RunNextDelivery() {
        ASSERT_TRUE(loop_.WaitForTasks(1, kWait));
        EXPECT_EQ(loop_.RunPending(), 1u);
    }
    // Runs the tasks the readers post, as they come, until `count` reports were delivered in all.
    void RunDeliveriesUntil(std::size_t count) {
        while (seen_.Deliveries().size() < count) {
            ASSERT_TRUE(loop_.WaitForTasks(1, kWait));
            loop_.RunPending();
        }
    }
    // Waits until the reader of `path` has returned from `reads` reads and handed their reports
    // on: it has started the read after them.
    void WaitUntilRead(std::u16string_view path, int reads) {
        ASSERT_TRUE(Eventually([&] { return interfaces_.ReadsStarted(path) == reads + 1; }));
    }
    Delivery OnMain(std::u16string id, std::u16string path, std::uint8_t report_id, Bytes data) {
        return {std::move(id), std::move(path), report_id, std::move(data), main_thread_};
    }
    void ExpectNothingLeft() {
        EXPECT_EQ(hid_->ReaderCount(), 0u);
        EXPECT_EQ(interfaces_.OpenDevices(), 0u);
    }

    const std::thread::id main_thread_ = std::this_thread::get_id();
    fake::FakeMainLoop loop_;
    fake::FakeHidInterfaces interfaces_;
    fake::ThreadSafeDebugOutput debug_;
    Seen seen_;
    std::unique_ptr<TuiHIDData> hid_ =
        std::make_unique<TuiHIDData>(interfaces_, loop_, debug_, std::vector<std::u16string>{});
};

TEST_F(HidReaderTest, OneReaderPerMatchingInterfaceWithItsOwnPathAndFirstId) {
    AddMouse(u"a", {u"HID\\VID_1&MI_01", u"HID\\VID_1"});
    AddMouse(u"b", {});
    interfaces_.Add(u"keyboard", {u"HID\\KBD"}, HidCapabilities{6, 1, 9, 2, 0});
    AddMouse(u"locked").open_fails = true;
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"HID\\NOT_CONSULTED");
    EXPECT_EQ(hid_->ReaderCount(), 2u);
    interfaces_.PushReport(u"a", {7, 0xA});
    RunNextDelivery();
    interfaces_.PushReport(u"b", {7, 0xB});
    RunNextDelivery();
    EXPECT_EQ(seen_.Deliveries(), (std::vector{OnMain(u"HID\\VID_1&MI_01", u"a", 7, {0xA}),
                                               OnMain(u"", u"b", 7, {0xB})}));
    // The search only looks at each interface; the readers open theirs for reading.
    std::vector<std::pair<std::u16string, HidOpenMode>> opens;
    for (const auto& open : interfaces_.Opens()) {
        opens.emplace_back(open.path, open.mode);
    }
    using enum HidOpenMode;
    EXPECT_EQ(opens, (std::vector<std::pair<std::u16string, HidOpenMode>>{{u"a", Identify},
                                                                          {u"a", Reading},
                                                                          {u"b", Identify},
                                                                          {u"b", Reading},
                                                                          {u"keyboard", Identify},
                                                                          {u"locked", Identify}}));
}

TEST_F(HidReaderTest, ReportsQueuedMeanwhileReachTheMainThreadInOrderInOneTask) {
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    for (const Bytes& report :
         {Bytes{}, Bytes{7, 1, 2, 3, 4, 5, 6, 7}, Bytes{8, 2, 9}, Bytes{}, Bytes{0, 4}}) {
        interfaces_.PushReport(u"mouse", report);
    }
    WaitUntilRead(u"mouse", 5);               // the reader did not wait for the main thread
    EXPECT_TRUE(seen_.Deliveries().empty());  // nothing until the main thread runs the task
    EXPECT_EQ(loop_.RunPending(), 1u);
    EXPECT_EQ(seen_.Deliveries(),
              (std::vector{OnMain(u"HID\\MOUSE", u"mouse", 7, {1, 2, 3, 4, 5, 6, 7}),
                           OnMain(u"HID\\MOUSE", u"mouse", 8, {2, 9}),
                           OnMain(u"HID\\MOUSE", u"mouse", 0, {4})}));  // empty reads: nothing
    interfaces_.PushReport(u"mouse", {9});
    RunNextDelivery();  // a report after the queue was taken brings a task of its own
    EXPECT_EQ(seen_.Deliveries().size(), 4u);
    EXPECT_EQ(loop_.PendingTasks(), 0u);
}

TEST_F(HidReaderTest, ShortAndLongReportsStayInsideTheBuffer) {
    AddMouse(u"mouse");  // input reports of 8 bytes
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    Bytes too_long(40);
    std::iota(too_long.begin(), too_long.end(), std::uint8_t{0});
    interfaces_.PushRead(u"mouse", {{Status::Report, 40, {}}, too_long, {}});
    interfaces_.PushRead(u"mouse", {{Status::Report, 70000, {}}, {}, {}});
    interfaces_.PushReport(u"mouse", {7});
    interfaces_.PushReport(u"mouse", {8, 1});
    RunDeliveriesUntil(4);
    const auto deliveries = seen_.Deliveries();
    ASSERT_EQ(deliveries.size(), 4u);
    EXPECT_EQ(deliveries[0].data, (Bytes{1, 2, 3, 4, 5, 6, 7}));  // Size 7: clamped
    EXPECT_EQ(deliveries[1].data, Bytes(7, 0));  // a zeroed buffer, not the last report
    EXPECT_EQ(deliveries[2].data, Bytes{});      // the identifier alone
    EXPECT_EQ(deliveries[3].data, Bytes{1});
}

TEST_F(HidReaderTest, ParsedButtonDataFromTheReportsUsages) {
    CountParsedData();
    AddMouse(u"mouse").max_button_usages = 150;
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    Usages many(150);
    std::iota(many.begin(), many.end(), std::uint16_t{1});
    for (const Usages& down : {Usages{3}, Usages{}, Usages{2}, Usages{5}, many}) {
        interfaces_.PushReport(u"mouse", {7, 0}, down);
        RunNextDelivery();
    }
    EXPECT_EQ(seen_.ButtonData(), (std::vector<std::uint32_t>{3u << 16, 3, 2u << 16, 2, 1u << 16}));
    EXPECT_EQ(seen_.Deliveries().size(), 5u);
}

TEST_F(HidReaderTest, UnplugTracesOnceAndRaisesNotConnectedOnTheReaderThread) {
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    interfaces_.Unplug(u"mouse");
    ASSERT_TRUE(seen_.WaitForNotConnected(1));
    const auto gone = seen_.NotConnected();
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].device_id, u"HID\\MOUSE");
    EXPECT_EQ(gone[0].device_path, u"mouse");
    EXPECT_NE(gone[0].thread, main_thread_);
    ASSERT_TRUE(Eventually([&] { return hid_->RunningReaderCount() == 0; }));
    EXPECT_EQ(debug_.Lines(), std::vector{std::u16string(kDeviceNotConnectedTrace)});
    EXPECT_TRUE(seen_.Deliveries().empty());
}

TEST_F(HidReaderTest, AReaderThatEndedByItselfIsFreedByTheNextSearch) {
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    interfaces_.Unplug(u"mouse");
    ASSERT_TRUE(Eventually([&] { return hid_->RunningReaderCount() == 0; }));
    EXPECT_EQ(hid_->ReaderCount(), 1u);
    hid_->HidFindAndReadDevice({2, 0xFFA0}, u"*");  // finds nothing, frees the ended reader
    ExpectNothingLeft();
}

TEST_F(HidReaderTest, HidStopReadEndsReadersWaitingForReports) {
    AddMouse(u"first");
    AddMouse(u"second");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    ASSERT_TRUE(interfaces_.WaitForWaitingReads(u"first", 1, kWait));
    ASSERT_TRUE(interfaces_.WaitForWaitingReads(u"second", 1, kWait));
    hid_->HidStopRead();
    ExpectNothingLeft();
    interfaces_.PushReport(u"first", {7, 1});
    EXPECT_EQ(loop_.RunPending(), 0u);
    EXPECT_TRUE(seen_.Deliveries().empty());
    EXPECT_TRUE(seen_.NotConnected().empty());  // a stop is no unplug
    EXPECT_TRUE(debug_.Lines().empty());
}

TEST_F(HidReaderTest, HidStopReadAbandonsADeliveryThatTheMainThreadHasNotRun) {
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    interfaces_.PushReport(u"mouse", {7, 1});
    ASSERT_TRUE(loop_.WaitForTasks(1, kWait));  // the reader now waits for the main thread
    hid_->HidStopRead();
    ExpectNothingLeft();
    hid_.reset();  // even the component is gone when the late delivery runs
    EXPECT_EQ(loop_.RunPending(), 1u);
    EXPECT_TRUE(seen_.Deliveries().empty());
}

TEST_F(HidReaderTest, HidStopReadFromInsideOnDataDropsTheRestOfTheQueue) {
    hid_->OnData = [this](auto... args) {
        seen_.Data(args...);
        hid_->HidStopRead();
    };
    hid_->OnParsedData = [this](auto, auto, auto, std::uint32_t data) { seen_.Parsed(data); };
    AddMouse(u"mouse").max_button_usages = 4;
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    for (std::uint8_t i = 1; i <= 3; ++i) {
        interfaces_.PushReport(u"mouse", {7, i}, Usages{3});
    }
    WaitUntilRead(u"mouse", 3);
    EXPECT_EQ(loop_.RunPending(), 1u);
    ExpectNothingLeft();
    EXPECT_EQ(seen_.Deliveries(), std::vector{OnMain(u"HID\\MOUSE", u"mouse", 7, {1})});
    EXPECT_TRUE(seen_.ButtonData().empty());  // the stopped reader raises nothing more
    EXPECT_EQ(loop_.RunPending(), 0u);
}

// A handler that runs the main loop (as a modal window does) runs the task of reports read
// meanwhile inside the current one: the reports taken before them still come first.
TEST_F(HidReaderTest, AHandlerThatRunsTheMainLoopKeepsTheOrder) {
    hid_->OnData = [this](auto... args) {
        seen_.Data(args...);
        if (seen_.Deliveries().size() == 1) {
            interfaces_.PushReport(u"mouse", {7, 3});
            ASSERT_TRUE(loop_.WaitForTasks(1, kWait));
            EXPECT_EQ(loop_.RunPending(), 1u);
        }
    };
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    interfaces_.PushReport(u"mouse", {7, 1});
    interfaces_.PushReport(u"mouse", {7, 2});
    WaitUntilRead(u"mouse", 2);
    EXPECT_EQ(loop_.RunPending(), 1u);
    const auto deliveries = seen_.Deliveries();
    ASSERT_EQ(deliveries.size(), 3u);
    for (std::uint8_t i = 0; i < 3; ++i) {
        EXPECT_EQ(deliveries[i].data, Bytes{static_cast<std::uint8_t>(i + 1)});
    }
}

// A full queue: the reader waits for the main thread before it reads on, and loses nothing.
struct FullQueueCase {
    std::uint16_t report_length;
    std::size_t capacity;
};

void PrintTo(const FullQueueCase& c, std::ostream* out) {
    *out << "report length " << c.report_length;
}

class HidReaderFullQueueTest : public HidReaderTest,
                               public ::testing::WithParamInterface<FullQueueCase> {};

TEST_P(HidReaderFullQueueTest, TheReaderWaitsForRoomAndLosesNothing) {
    const auto [length, capacity] = GetParam();
    EXPECT_EQ(QueuedReportCapacity(length), capacity);
    interfaces_.Add(u"mouse", {u"HID\\MOUSE"}, HidCapabilities{1, 0xFFA0, length, 8, 0});
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    const std::size_t total = capacity + 3;
    const auto numbered = [](std::size_t i) {  // the report's number, in two bytes
        return Bytes{static_cast<std::uint8_t>(i & 0xFF), static_cast<std::uint8_t>(i >> 8)};
    };
    for (std::size_t i = 0; i < total; ++i) {
        Bytes report = numbered(i);
        report.insert(report.begin(), 7);
        interfaces_.PushReport(u"mouse", report);
    }
    // A full queue, and the next report in the reader's hands: it reads no further.
    WaitUntilRead(u"mouse", static_cast<int>(capacity));
    EXPECT_EQ(loop_.PendingTasks(), 1u);
    EXPECT_EQ(loop_.RunPending(), 1u);
    EXPECT_EQ(seen_.Deliveries().size(), capacity);
    RunDeliveriesUntil(total);
    const auto deliveries = seen_.Deliveries();
    ASSERT_EQ(deliveries.size(), total);
    for (std::size_t i = 0; i < total; ++i) {
        EXPECT_EQ(deliveries[i].data, numbered(i)) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(ByReportLength, HidReaderFullQueueTest,
                         ::testing::Values(FullQueueCase{8, kMaxQueuedReports},
                                           FullQueueCase{16384, 4},  // bounded by the bytes
                                           FullQueueCase{65535, 1}));

TEST_F(HidReaderTest, HidStopReadEndsAReaderThatWaitsForRoom) {
    interfaces_.Add(u"mouse", {}, HidCapabilities{1, 0xFFA0, 65535, 8, 0});  // room for one
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    for (std::uint8_t i = 0; i < 3; ++i) {
        interfaces_.PushReport(u"mouse", {7, i});
    }
    WaitUntilRead(u"mouse", 1);  // the queue is full, the second report waits for room
    hid_->HidStopRead();
    ExpectNothingLeft();
    hid_.reset();
    EXPECT_EQ(loop_.RunPending(), 1u);  // the stale task drops the queued report
    EXPECT_TRUE(seen_.Deliveries().empty());
}

TEST_F(HidReaderTest, FastOnDataDeliversOnTheReaderThread) {
    hid_->FastOnData = true;
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    interfaces_.PushReport(u"mouse", {7, 1, 2});
    interfaces_.PushReport(u"mouse", {8, 3});
    ASSERT_TRUE(seen_.WaitForDeliveries(2));
    const auto deliveries = seen_.Deliveries();
    EXPECT_EQ(deliveries[0].data, (Bytes{1, 2}));
    EXPECT_EQ(deliveries[1].report_id, 8);
    EXPECT_NE(deliveries[0].thread, main_thread_);
    EXPECT_EQ(loop_.PendingTasks(), 0u);
}

// A reader that cannot read delivers nothing, says once why (with the call and its code, when a
// call failed), is not counted among the readers that read, and ends when stopped.
struct CannotReadCase {
    const char* name;
    std::optional<HidCapabilities> capabilities;
    std::optional<HidFailure> reader_open_failure;  // the search's open succeeds
    std::vector<fake::ScriptedRead> reads;          // a report follows them
    std::vector<std::u16string> trace;
    int reads_started;
};

void PrintTo(const CannotReadCase& c, std::ostream* out) {
    *out << c.name;
}

fake::ScriptedRead ReadThat(Status status, HidFailure failure) {
    return {{status, 0, failure}, {}, {}};
}

// `count` reads that fail in a row, the last of them with `last`.
std::vector<fake::ScriptedRead> FailedReads(int count, HidFailure last) {
    std::vector<fake::ScriptedRead> reads(
        count - 1, ReadThat(Status::Failed, {.operation = "ReadFile", .code = 31}));
    reads.push_back(ReadThat(Status::Failed, last));
    return reads;
}

class HidReaderCannotReadTest : public HidReaderTest,
                                public ::testing::WithParamInterface<CannotReadCase> {};

TEST_P(HidReaderCannotReadTest, TracesWhyOnceAndRestsUntilStopped) {
    const CannotReadCase& c = GetParam();
    fake::FakeHidInterface& mouse = interfaces_.Add(u"mouse", {u"HID\\MOUSE"}, c.capabilities);
    mouse.later_open_failure = c.reader_open_failure;
    mouse.opens_that_succeed = 1;
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    PushReads(u"mouse", c.reads);
    interfaces_.PushReport(u"mouse", {7, 1});
    ASSERT_TRUE(Eventually([&] { return debug_.Lines().size() >= c.trace.size(); }));
    ASSERT_TRUE(Eventually([&] { return hid_->ReadingReaderCount() == 0; }));
    EXPECT_EQ(hid_->ReaderCount(), 1u);
    EXPECT_FALSE(loop_.WaitForTasks(1, 100ms));
    EXPECT_EQ(debug_.Lines(), c.trace);
    EXPECT_EQ(interfaces_.ReadsStarted(u"mouse"), c.reads_started);  // the report is not read
    hid_->HidStopRead();
    ExpectNothingLeft();
    EXPECT_TRUE(seen_.Deliveries().empty());
    EXPECT_TRUE(seen_.NotConnected().empty());
}

INSTANTIATE_TEST_SUITE_P(
    ByCause, HidReaderCannotReadTest,
    ::testing::Values(
        CannotReadCase{"open fails",
                       kMouseCaps,
                       HidFailure{.operation = "CreateFileW", .code = 5},
                       {},
                       {u"HID reader cannot open mouse: CreateFileW failed with code 5"},
                       0},
        CannotReadCase{
            "no input report length", HidCapabilities{1, 0xFFA0, 0, 8, 0}, std::nullopt, {}, {}, 0},
        CannotReadCase{"read refused",
                       kMouseCaps,
                       std::nullopt,
                       {ReadThat(Status::Refused, {.operation = "ReadFile", .code = 87})},
                       {u"HID read of mouse refused: ReadFile failed with code 87; the reader "
                        u"waits for the next re-open"},
                       1},
        CannotReadCase{"every read fails",
                       kMouseCaps,
                       std::nullopt,
                       FailedReads(1000, {.operation = "GetOverlappedResult", .code = 1784}),
                       {u"HID reads of mouse keep failing, the last one: GetOverlappedResult "
                        u"failed with code 1784; the reader waits for the next re-open"},
                       1000}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::ranges::replace(name, ' ', '_');
        return name;
    });

// The failed reads are counted in a row: a report between them starts the count anew.
TEST_F(HidReaderTest, AReportBetweenFailedReadsStartsTheirCountAnew) {
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    for (std::uint8_t i = 1; i <= 3; ++i) {
        PushReads(u"mouse", FailedReads(999, {.operation = "ReadFile", .code = 31}));
        interfaces_.PushReport(u"mouse", {7, i});
    }
    RunDeliveriesUntil(3);
    EXPECT_EQ(hid_->ReadingReaderCount(), 1u);
    EXPECT_TRUE(debug_.Lines().empty());
}

// A device that goes away is gone, even when its read is the thousandth to fail in a row.
TEST_F(HidReaderTest, AnUnplugAfterFailedReadsEndsTheReaderAsUnplugged) {
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    PushReads(u"mouse", FailedReads(999, {.operation = "ReadFile", .code = 31}));
    interfaces_.Unplug(u"mouse");
    ASSERT_TRUE(seen_.WaitForNotConnected(1));
    ASSERT_TRUE(Eventually([&] { return hid_->RunningReaderCount() == 0; }));
    EXPECT_EQ(debug_.Lines(), std::vector{std::u16string(kDeviceNotConnectedTrace)});
}

// The platform parses a report of the interface's input report length: the bytes read and zeros
// after them (the fake checks that), and no report that was cut to the buffer.
TEST_F(HidReaderTest, ButtonUsagesAreAskedOfTheReportReadPaddedToTheInputLength) {
    CountParsedData();
    AddMouse(u"mouse").max_button_usages = 4;  // input reports of 8 bytes
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    // Two bytes read; the platform left more in the buffer after them.
    interfaces_.PushRead(u"mouse", {{Status::Report, 2, {}}, {7, 0, 9, 9, 9, 9, 9, 9}, Usages{3}});
    interfaces_.PushReport(u"mouse", {7, 0, 0, 0, 0, 0, 0, 0}, Usages{});
    // A report longer than the buffer: none the platform could parse, so it gives no button.
    Bytes too_long(12, 1);
    interfaces_.PushRead(u"mouse", {{Status::Report, 12, {}}, too_long, Usages{5}});
    interfaces_.PushReport(u"mouse", {7}, Usages{2});
    RunDeliveriesUntil(4);
    EXPECT_EQ(seen_.ButtonData(), (std::vector<std::uint32_t>{3u << 16, 3, 0, 2u << 16}));
    EXPECT_EQ(seen_.Deliveries()[0].data, Bytes{0});  // the two bytes read, nothing after them
}

// A report whose delivery the main loop refuses cannot reach it, nor could any later one: the
// reader ends and says why, and the device is not taken for unplugged.
TEST_F(HidReaderTest, ReadersEndWhenTheMainLoopTakesNoMoreWork) {
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    loop_.RefuseTasks(true);
    interfaces_.PushReport(u"mouse", {7, 1});
    ASSERT_TRUE(Eventually([&] { return hid_->RunningReaderCount() == 0; }));
    EXPECT_EQ(debug_.Lines(), std::vector<std::u16string>{
                                  u"HID reader of mouse ends: the main loop takes no more work"});
    EXPECT_TRUE(seen_.NotConnected().empty());
}

TEST_F(HidReaderTest, AReaderWithoutAnInputReportLengthReadsNothing) {
    interfaces_.Add(u"mouse", {}, HidCapabilities{1, 0xFFA0, 0, 8, 0});
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    EXPECT_EQ(hid_->RunningReaderCount(), 1u);
    hid_->HidStopRead();
    ExpectNothingLeft();
    EXPECT_EQ(interfaces_.ReadsStarted(u"mouse"), 0);
}

TEST_F(HidReaderTest, ASecondSearchWithoutStopAddsASecondReader) {
    AddMouse(u"mouse");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    EXPECT_EQ(hid_->ReaderCount(), 2u);
    hid_->HidStopRead();
    hid_->HidFindAndReadDevice(kMouseVendorCollection, u"*");
    EXPECT_EQ(hid_->ReaderCount(), 1u);
}

}  // namespace
}  // namespace korv
