// libFuzzer target for input reports of any length through the HID reader's delivery: reads of
// any outcome and size are scripted for one interface with any input report length, a reader
// is started for it as the monitor starts one, and each delivery is run on this thread (the
// main thread) into OnData and the report decoder (dispatch_rig.h), and into OnParsedData with
// the report's button usages. Checked beyond the sanitizers: each delivery holds exactly the
// bytes of its report as far as the buffer reaches (zeros after them), reports of size 0 and
// failed reads deliver nothing, the reader ends as the read outcomes say, the button usages are
// asked of the report as the platform parses it, and the parsed button data names a usage that
// really changed.
//
// Each execution delivers the same: the reads are scripted before the reader starts, and this
// thread runs the tasks the reader posts until every expected report arrived (how many reports
// each task raises depends on how far the reader got, and a long input report length leaves
// room for a single queued report, so the reader also waits for room), then waits for the
// reader to end by itself where it must. (After a read refused for an unknown reason the reader
// waits for the stop, which may reach it a moment before or after that read: nothing is
// delivered either way.)
//
// An input is the set-up (DispatchSetup), the input report length (16 bits), the most button
// usages (8 bits), then scripted reads until it ends, each:
//   a byte: bits 0-1 the outcome (HidReadResult::Status); for a report, bit 2 a reported size
//   that differs from the byte count (16 bits follow), bit 3 a 16-bit byte count instead of an
//   8-bit one, bit 4 a usage list (a count byte, then 16-bit usages); for a failure, bits 2-3
//   the error code (kErrorCodes)
//   then, for a report, the byte count, the bytes, the reported size and the usages.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "hid/ui_hid_data.h"
#include "platform/fake/fake_hid.h"
#include "platform/fake/fake_main_loop.h"
#include "tests/fuzz/dispatch_rig.h"

namespace korv::fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Status = HidReadResult::Status;
using fake::ScriptedRead;

constexpr std::u16string_view kPath = u"\\\\?\\hid#vid_fuzz&col01";
constexpr std::u16string_view kHardwareId = u"HID\\VID_FUZZ&Col01";
constexpr HidFailure kFailures[] = {{"ReadFile", HidFailureKind::Other, 31},
                                    {"ReadFile", HidFailureKind::Invalid, 6},
                                    {"ReadFile", HidFailureKind::Cancelled, 995},
                                    {"ReadFile", HidFailureKind::DeviceGone, 1167}};
constexpr int kMaxReads = 64;
// Generous: a delivery or an end that takes this long means the reader hangs.
constexpr std::chrono::seconds kHang{10};

struct Delivery {
    std::uint8_t report_id = 0;
    Bytes data;
    bool operator==(const Delivery&) const = default;
};

// How the reader must end once the scripted reads are used up.
enum class Ending { DeviceGone, Quietly, NotByItself };

bool IsGone(HidFailureKind kind) {
    return kind == HidFailureKind::Cancelled || kind == HidFailureKind::DeviceGone;
}

ScriptedRead ReadOneScript(InputReader& input) {
    const std::uint8_t kind = input.Byte();
    ScriptedRead read;
    read.result.status = static_cast<Status>(kind & 3);
    if (read.result.status != Status::Report) {
        read.result.failure = kFailures[kind >> 2 & 3];
        return read;
    }
    const std::size_t count = (kind & 8) != 0 ? input.Uint16() : input.Byte();
    const auto bytes = input.Take(count);
    read.bytes.assign(bytes.begin(), bytes.end());
    read.result.size = (kind & 4) != 0 ? input.Uint16() : read.bytes.size();
    if ((kind & 16) != 0) {
        read.usages.emplace(input.Byte());
        for (std::uint16_t& usage : *read.usages)
            usage = input.Uint16();
    }
    return read;
}

// What the scripted reads must cause with a report buffer of `length` bytes.
struct Expectation {
    std::vector<Delivery> deliveries;
    std::vector<std::optional<std::vector<std::uint16_t>>> usages;  // of each delivery
    Ending ending = Ending::DeviceGone;  // the unplugged device fails the read after the last
};

// A report of `size` bytes (1 or more, at most the buffer): what the buffer holds after the
// read, which first clears it.
Delivery DeliveryOf(const ScriptedRead& read, std::size_t size, std::size_t length) {
    Bytes buffer(length, 0);
    std::copy_n(read.bytes.begin(), std::min(read.bytes.size(), length), buffer.begin());
    return {buffer[0], Bytes(buffer.begin() + 1, buffer.begin() + static_cast<long>(size))};
}

Ending EndingOf(const HidReadResult& result) {
    switch (result.status) {
        case Status::Report:
            break;
        case Status::Cancelled:
            return Ending::DeviceGone;
        case Status::Refused:
            return result.failure.kind == HidFailureKind::Invalid || IsGone(result.failure.kind)
                       ? Ending::Quietly
                       : Ending::NotByItself;
        case Status::Failed:
            return Ending::DeviceGone;
    }
    return Ending::DeviceGone;
}

bool EndsReading(const HidReadResult& result) {
    return result.status == Status::Cancelled || result.status == Status::Refused ||
           (result.status == Status::Failed && IsGone(result.failure.kind));
}

Expectation Expected(const std::vector<ScriptedRead>& reads, std::size_t length) {
    Expectation expected;
    if (length == 0) {
        expected.ending = Ending::NotByItself;  // no buffer: nothing is read
        return expected;
    }
    for (const ScriptedRead& read : reads) {
        if (EndsReading(read.result)) {
            expected.ending = EndingOf(read.result);
            return expected;
        }
        const std::size_t size = std::min(read.result.size, length);
        if (read.result.status == Status::Report && size > 0) {
            expected.deliveries.push_back(DeliveryOf(read, size, length));
            // A report longer than the buffer was cut to it: no button usages are asked of it.
            expected.usages.push_back(read.result.size <= length ? read.usages : std::nullopt);
        }
    }
    return expected;
}

// Parsed button data names a released usage (low half) or else a pressed one (high half).
class UsageCheck {
  public:
    explicit UsageCheck(std::size_t max_usages) : max_(max_usages) {}

    void Parsed(const std::optional<std::vector<std::uint16_t>>& usages, std::uint32_t data) {
        if (max_ == 0 || !usages) {
            FUZZ_CHECK(data == 0);
            return;
        }
        const std::vector<std::uint16_t> current(
            usages->begin(), usages->begin() + static_cast<long>(std::min(usages->size(), max_)));
        const auto holds = [](const std::vector<std::uint16_t>& list, std::uint32_t usage) {
            return usage != 0 && std::ranges::find(list, usage) != list.end();
        };
        const std::uint32_t released = data & 0xFFFF;
        const std::uint32_t pressed = data >> 16;
        FUZZ_CHECK(released == 0 || pressed == 0);
        FUZZ_CHECK(released == 0 || (holds(previous_, released) && !holds(current, released)));
        FUZZ_CHECK(pressed == 0 || (holds(current, pressed) && !holds(previous_, pressed)));
        previous_ = current;
    }

  private:
    std::size_t max_;
    std::vector<std::uint16_t> previous_;
};

void WaitUntilEnded(const TuiHIDData& hid_data) {
    const auto give_up = std::chrono::steady_clock::now() + kHang;
    while (hid_data.RunningReaderCount() != 0) {
        FUZZ_CHECK(std::chrono::steady_clock::now() < give_up);
        std::this_thread::yield();
    }
}

// One interface of the mouse's collection with the scripted reads, then unplugged.
void Script(fake::FakeHidInterfaces& interfaces, std::vector<ScriptedRead> reads,
            std::uint16_t length, std::uint8_t max_usages) {
    interfaces
        .Add(std::u16string(kPath), {std::u16string(kHardwareId)},
             HidCapabilities{kMouseVendorCollection.Usage, kMouseVendorCollection.UsagePage, length,
                             0, 0})
        .max_button_usages = max_usages;
    for (ScriptedRead& read : reads)
        interfaces.PushRead(kPath, std::move(read));
    interfaces.Unplug(kPath);
}

// Runs the reader's tasks as the main loop would until the expected reports were delivered,
// each task raising one report or more, then lets the reader end.
void RunDeliveries(fake::FakeMainLoop& loop, TuiHIDData& hid_data, const Expectation& expected,
                   const std::vector<Delivery>& delivered) {
    hid_data.HidFindAndReadDevice(kMouseVendorCollection, u"*");
    while (delivered.size() < expected.deliveries.size()) {
        const std::size_t before = delivered.size();
        FUZZ_CHECK(loop.WaitForTasks(1, kHang));
        FUZZ_CHECK(loop.RunPending() == 1);
        FUZZ_CHECK(delivered.size() > before);
    }
    if (expected.ending != Ending::NotByItself) {
        WaitUntilEnded(hid_data);
        FUZZ_CHECK(loop.PendingTasks() == 0);
    }
    hid_data.HidStopRead();
    loop.RunPending();  // a delivery left behind is dropped
}

void Run(InputReader& input) {
    DispatchRig rig(DispatchSetup::Read(input));
    const std::uint16_t length = input.Uint16();
    const std::uint8_t max_usages = input.Byte();
    std::vector<ScriptedRead> reads;
    while (!input.AtEnd() && reads.size() < kMaxReads)
        reads.push_back(ReadOneScript(input));
    const Expectation expected = Expected(reads, length);
    fake::FakeHidInterfaces interfaces;
    Script(interfaces, std::move(reads), length, max_usages);

    std::vector<Delivery> delivered;
    UsageCheck usage_check(max_usages);
    std::atomic<int> gone = 0;
    fake::FakeMainLoop loop;
    fake::ThreadSafeDebugOutput debug;
    TuiHIDData hid_data(interfaces, loop, debug, {});
    hid_data.OnData = [&](std::u16string_view id, std::u16string_view path, std::uint8_t report_id,
                          const std::uint8_t* data, std::uint16_t size) {
        FUZZ_CHECK(id == kHardwareId && path == kPath);
        delivered.push_back({report_id, Bytes(data, data + size)});
        rig.Deliver(report_id, {data, size});
    };
    hid_data.OnParsedData = [&](std::u16string_view, std::u16string_view, std::uint8_t,
                                std::uint32_t button_data) {
        // Raised after OnData of the same report.
        FUZZ_CHECK(!delivered.empty() && delivered.size() <= expected.usages.size());
        usage_check.Parsed(expected.usages[delivered.size() - 1], button_data);
    };
    hid_data.OnDeviceNotConnected = [&](std::u16string_view, std::u16string_view) { ++gone; };

    RunDeliveries(loop, hid_data, expected, delivered);
    FUZZ_CHECK(delivered == expected.deliveries);
    FUZZ_CHECK(interfaces.WrongButtonUsageReports() == 0);
    FUZZ_CHECK(gone == (expected.ending == Ending::DeviceGone ? 1 : 0));
    rig.HandlePostedEvents();
}

}  // namespace
}  // namespace korv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korv::fuzz::InputReader input({data, size});
    korv::fuzz::Run(input);
    return 0;
}
