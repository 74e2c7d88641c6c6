#pragma once
// The reader of one HID interface: a thread that reads its input reports and raises the
// component's handlers for each of them.
//
// Threads: construction, RequestStop, Ended and destruction on the component's thread (the main
// thread). The reader's own thread calls Read and ButtonUsages on its device, and raises
// OnDeviceNotConnected, and with fast delivery OnData and OnParsedData too. Otherwise the reader
// copies each report, with its button usages, into a bounded queue and reads on at once; when the
// queue stops being empty it posts one task to the main loop, which takes everything queued and
// raises OnData and OnParsedData for each report in order, on the main thread. The reader never
// waits for the main thread, except for room in a full queue (see QueuedReportCapacity).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hid/button_usages.h"
#include "hid/hid_records.h"
#include "ports/debug_output.h"
#include "ports/hid_interfaces.h"
#include "ports/main_loop.h"

namespace korv {

// The debugger text of a device that went away while a read waited.
inline constexpr std::u16string_view kDeviceNotConnectedTrace =
    u"ERROR_DEVICE_NOT_CONNECTED++++++++++++++++";

// How many reports a reader queues for the main thread: kMaxQueuedReports, fewer for long reports
// so that the queue holds at most kMaxQueuedReportBytes, and always at least one. The main
// thread takes the queue as a whole, so a reader holds at most twice that: the batch being
// raised and the queue filling behind it. A reader whose queue is full waits, without reading,
// until the main thread takes the queue or the reader is stopped: no report is dropped by the
// reader, and what arrives meanwhile waits in the device's own buffer.
inline constexpr std::size_t kMaxQueuedReports = 256;
inline constexpr std::size_t kMaxQueuedReportBytes = 64 * 1024;
[[nodiscard]] std::size_t QueuedReportCapacity(std::size_t report_length);

// What a reader does after a read returned.
enum class ReaderStep : std::uint8_t {
    Deliver,      // a report of one byte or more
    ReadAgain,    // nothing to deliver (an empty report, or a read that failed for no known reason)
    End,          // end quietly: stop was asked, or the read could not even start on this device
    WaitForStop,  // no read is running and none will: deliver nothing until stopped
    EndDeviceGone,  // the device went away: trace it, raise OnDeviceNotConnected, end
};
[[nodiscard]] ReaderStep DecideAfterRead(const HidReadResult& result, bool stop_requested);

// The handlers a reader raises, taken from the component when the reader starts.
struct ReaderEvents {
    TuiHIDDataReceived on_data;
    TuiHIDParsedDataReceived on_parsed_data;
    TuiHIDDeviceNotConnected on_device_not_connected;
    bool fast_on_data = false;  // raise OnData and OnParsedData on the reader's thread
    std::shared_ptr<ButtonUsageTracker> usage_tracker;  // the component's; needed for parsing
};

struct ReaderPorts {
    const HidInterfaces& interfaces;
    MainLoop& main_loop;
    const DebugOutput& debug;
};

// The interface a reader reads: its first hardware identifier (empty when it has none) and its
// device-interface path, passed to every handler.
struct ReaderInterface {
    std::u16string device_id;
    std::u16string device_path;
};

class TuiHidDeviceReadThread {
  public:
    // Opens the interface for reading, reads its input report length, allocates the
    // one report buffer of that length and starts the thread. An interface that cannot be opened
    // gets no thread; one without an input report length reads nothing until it is stopped.
    // A failed open is traced with its call and code.
    TuiHidDeviceReadThread(ReaderPorts ports, ReaderInterface target, ReaderEvents events);
    // Stops the reader and waits for its thread; then the device is closed and the buffer freed.
    ~TuiHidDeviceReadThread();
    TuiHidDeviceReadThread(const TuiHidDeviceReadThread&) = delete;
    TuiHidDeviceReadThread& operator=(const TuiHidDeviceReadThread&) = delete;

    // Asks the thread to end without waiting for it: cancels the pending read, wakes a reader
    // that waits for room, and abandons the reports that the main thread has not raised yet
    // (a posted task drops them when it runs; one that runs now raises no further handler
    // after the one that stopped the reader).
    void RequestStop();

    // Whether the thread has ended (by itself or after RequestStop), so that joining is at once.
    [[nodiscard]] bool Ended() const { return state_.load() == State::Ended; }
    // Whether the reader reads: its thread runs and can read, unlike one that was never started
    // (the open failed), or one that only waits for its stop because it has no input report
    // length, its read was refused or its reads kept failing. A refused read is only known once
    // the thread has tried it.
    [[nodiscard]] bool Reads() const { return state_.load() == State::Reading; }

  private:
    struct Shared;
    enum class State : std::uint8_t { Reading, Resting, Ended };

    void Run();
    // Traces why the reader cannot read, then waits for its stop.
    void RestUntilStopped(std::u16string_view why);
    [[nodiscard]] bool Deliver(std::size_t read_size);
    void ReportDeviceGone() const;

    MainLoop& main_loop_;
    const DebugOutput& debug_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<HidDevice> device_;
    std::vector<std::uint8_t> report_;  // the one read buffer, read into again and again
    std::atomic<State> state_ = State::Reading;
    std::thread thread_;
};

}  // namespace korv
