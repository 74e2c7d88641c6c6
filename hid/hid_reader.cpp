#include "hid/hid_reader.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/decimal_text.h"

namespace korv {
namespace {

constexpr int kMaxFailedReadsInARow = 1000;

// A read that the system ended is taken for a device that went away.
bool IsDeviceGone(HidFailureKind kind) {
    return kind == HidFailureKind::DeviceGone || kind == HidFailureKind::Cancelled;
}

// "CALL failed with code N", for the trace lines of failures that the reader gets past.
std::u16string FailureText(const HidFailure& failure) {
    const std::u16string call(failure.operation.begin(), failure.operation.end());
    return call + u" failed with code " + DecimalText(std::int64_t{failure.code});
}

}  // namespace

ReaderStep DecideAfterRead(const HidReadResult& result, bool stop_requested) {
    if (stop_requested) {
        return ReaderStep::End;
    }
    switch (result.status) {
        case HidReadResult::Status::Report:
            return result.size > 0 ? ReaderStep::Deliver : ReaderStep::ReadAgain;
        case HidReadResult::Status::Cancelled:
            return ReaderStep::EndDeviceGone;
        case HidReadResult::Status::Refused:
            return result.failure.kind == HidFailureKind::Invalid ||
                           IsDeviceGone(result.failure.kind)
                       ? ReaderStep::End
                       : ReaderStep::WaitForStop;
        case HidReadResult::Status::Failed:
            return IsDeviceGone(result.failure.kind) ? ReaderStep::EndDeviceGone
                                                     : ReaderStep::ReadAgain;
    }
    return ReaderStep::End;
}

std::size_t QueuedReportCapacity(std::size_t report_length) {
    if (report_length == 0) {
        return 1;
    }
    return std::clamp<std::size_t>(kMaxQueuedReportBytes / report_length, 1, kMaxQueuedReports);
}

namespace {

// A report copied for the main thread: the identifier byte and the data, as many bytes as were
// read, and the button usages the device listed for it.
struct QueuedReport {
    std::vector<std::uint8_t> bytes;
    std::optional<std::vector<std::uint16_t>> usages;
};

}  // namespace

// What a reader shares with the drains it posts to the main thread. A posted drain keeps this
// block alive, so one that runs after its reader was stopped and freed finds the stop flag here
// and drops the reports without touching the reader.
struct TuiHidDeviceReadThread::Shared {
    ReaderInterface target;
    ReaderEvents events;
    std::size_t max_usages = 0;
    std::size_t capacity = 1;

    std::mutex mutex;
    std::condition_variable changed;  // stop was asked, or the main thread took the queue
    bool stop_requested = false;
    // The reports the reader has queued; a drain is posted whenever it stops being empty, and
    // only a drain empties it, so at most one drain is pending at a time.
    std::deque<QueuedReport> queue;
    // Main thread only: the reports a drain took and has not raised yet. A handler that runs a
    // nested message loop may run the next drain inside the current one; that drain goes on with
    // these first, so the order holds.
    std::deque<QueuedReport> taken;

    bool StopRequested() {
        const std::lock_guard lock(mutex);
        return stop_requested;
    }
    void WaitForStop() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return stop_requested; });
    }

    enum class Queued : std::uint8_t { First, Behind, Stopped };
    // Reader thread: appends a report once there is room. First when the queue was empty (the
    // caller posts a drain), Stopped when the reader was stopped first (the report is dropped).
    Queued Enqueue(QueuedReport report) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return stop_requested || queue.size() < capacity; });
        if (stop_requested) {
            return Queued::Stopped;
        }
        queue.push_back(std::move(report));
        return queue.size() == 1 ? Queued::First : Queued::Behind;
    }

    // Main thread, from the posted task: takes the queue and raises its reports in order until
    // they are done or a handler stopped the reader; then the rest are dropped.
    void Drain() {
        {
            const std::lock_guard lock(mutex);
            std::ranges::move(queue, std::back_inserter(taken));
            queue.clear();
        }
        changed.notify_all();  // room for a reader that waits
        while (!taken.empty()) {
            if (StopRequested()) {
                taken.clear();
                return;
            }
            const QueuedReport report = std::move(taken.front());
            taken.pop_front();
            Raise(report.bytes, report.usages);
        }
    }

    // OnData, then OnParsedData unless a handler stopped the reader meanwhile. `report`: the
    // identifier byte and the data, at least one byte.
    void Raise(std::span<const std::uint8_t> report,
               const std::optional<std::vector<std::uint16_t>>& usages) {
        const std::uint8_t report_id = report[0];
        const auto data_size = static_cast<std::uint16_t>(report.size() - 1);
        if (events.on_data) {
            events.on_data(target.device_id, target.device_path, report_id, report.data() + 1,
                           data_size);
        }
        if (events.on_parsed_data && !StopRequested()) {
            const std::uint32_t button_data =
                events.usage_tracker->ParseButtonUsages(usages, max_usages);
            events.on_parsed_data(target.device_id, target.device_path, report_id, button_data);
        }
    }
};

TuiHidDeviceReadThread::TuiHidDeviceReadThread(ReaderPorts ports, ReaderInterface target,
                                               ReaderEvents events)
    : main_loop_(ports.main_loop), debug_(ports.debug), shared_(std::make_shared<Shared>()) {
    shared_->target = std::move(target);
    shared_->events = std::move(events);
    const std::u16string& path = shared_->target.device_path;
    HidInterfaces::OpenResult opened = ports.interfaces.Open(path, HidOpenMode::Reading);
    if (!opened.device) {
        debug_.Trace(u"HID reader cannot open " + path + u": " + FailureText(opened.failure));
        state_ = State::Ended;
        return;
    }
    device_ = std::move(opened.device);
    if (const auto queried = device_->Capabilities(); queried.capabilities) {
        report_.resize(queried.capabilities->input_report_length);
    }
    if (report_.empty()) {
        state_ = State::Resting;  // nothing can be read; the thread only waits for its stop
    }
    shared_->capacity = QueuedReportCapacity(report_.size());
    shared_->max_usages = device_->MaxButtonUsages();
    thread_ = std::thread([this] {
        Run();
        state_ = State::Ended;
    });
}

TuiHidDeviceReadThread::~TuiHidDeviceReadThread() {
    RequestStop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TuiHidDeviceReadThread::RequestStop() {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->stop_requested = true;
    }
    shared_->changed.notify_all();
    if (device_) {
        device_->CancelRead();
    }
}

void TuiHidDeviceReadThread::Run() {
    if (report_.empty()) {
        shared_->WaitForStop();  // no report length: nothing can be read
        return;
    }
    const std::u16string& path = shared_->target.device_path;
    int failed_in_a_row = 0;
    while (!shared_->StopRequested()) {
        std::ranges::fill(report_, std::uint8_t{0});
        const HidReadResult result = device_->Read(report_);
        const ReaderStep step = DecideAfterRead(result, shared_->StopRequested());
        // Only reads that failed and are tried again count; any other outcome starts anew.
        const bool failed_again =
            step == ReaderStep::ReadAgain && result.status == HidReadResult::Status::Failed;
        failed_in_a_row = failed_again ? failed_in_a_row + 1 : 0;
        if (failed_in_a_row == kMaxFailedReadsInARow) {
            // A device that fails every read at once would keep this thread busy: it rests
            // until the next re-open stops it.
            RestUntilStopped(u"HID reads of " + path + u" keep failing, the last one: " +
                             FailureText(result.failure) +
                             u"; the reader waits for the next re-open");
            return;
        }
        switch (step) {
            case ReaderStep::Deliver:
                if (!Deliver(result.size)) {
                    return;
                }
                break;
            case ReaderStep::ReadAgain:
                break;
            case ReaderStep::End:
                return;
            case ReaderStep::WaitForStop:
                RestUntilStopped(u"HID read of " + path + u" refused: " +
                                 FailureText(result.failure) +
                                 u"; the reader waits for the next re-open");
                return;
            case ReaderStep::EndDeviceGone:
                ReportDeviceGone();
                return;
        }
    }
}

void TuiHidDeviceReadThread::RestUntilStopped(std::u16string_view why) {
    state_ = State::Resting;
    debug_.Trace(why);
    shared_->WaitForStop();
}

// Hands the report of `read_size` bytes (at least 1) to the handlers: at once with fast delivery,
// else queued for the main thread. A report longer than the buffer is cut to it. False when the
// reader must end (stopped, or the main loop took no task).
bool TuiHidDeviceReadThread::Deliver(std::size_t read_size) {
    Shared& shared = *shared_;
    const std::size_t size = std::min(read_size, report_.size());
    // What the platform may have left after the report is no part of it.
    std::fill(report_.begin() + static_cast<std::ptrdiff_t>(size), report_.end(), 0);
    std::optional<std::vector<std::uint16_t>> usages;
    // The platform parses a report of the input report length: the bytes read and zeros after
    // them. A report cut to the buffer is not one it can parse.
    if (shared.events.on_parsed_data && read_size <= report_.size()) {
        usages = device_->ButtonUsages(report_);
    }
    const std::span<const std::uint8_t> report(report_.data(), size);
    if (shared.events.fast_on_data) {
        shared.Raise(report, usages);
        return true;
    }
    switch (shared.Enqueue({{report.begin(), report.end()}, std::move(usages)})) {
        case Shared::Queued::First:
            if (main_loop_.PostTask([keep = shared_] { keep->Drain(); }))
                return true;
            // Without its task the queue would never be taken: the reader ends and says so.
            debug_.Trace(u"HID reader of " + shared.target.device_path +
                         u" ends: the main loop takes no more work");
            return false;
        case Shared::Queued::Behind:
            return true;
        case Shared::Queued::Stopped:
            return false;
    }
    return false;
}

void TuiHidDeviceReadThread::ReportDeviceGone() const {
    debug_.Trace(kDeviceNotConnectedTrace);
    if (shared_->events.on_device_not_connected) {
        shared_->events.on_device_not_connected(shared_->target.device_id,
                                                shared_->target.device_path);
    }
}

}  // namespace korv
