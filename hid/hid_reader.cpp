#include "hid/hid_reader.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace korv {
namespace {

constexpr int kMaxFailedReadsInARow = 1000;

bool IsDeviceGone(std::uint32_t code) {
    return code == kHidErrorOperationAborted || code == kHidErrorDeviceNotConnected;
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
            return result.failure.code == kHidErrorInvalidHandle ||
                           IsDeviceGone(result.failure.code)
                       ? ReaderStep::End
                       : ReaderStep::WaitForStop;
        case HidReadResult::Status::Failed:
            return IsDeviceGone(result.failure.code) ? ReaderStep::EndDeviceGone
                                                     : ReaderStep::ReadAgain;
    }
    return ReaderStep::End;
}

// What a reader shares with the deliveries it posts to the main thread. A posted delivery keeps
// this block alive, so one that runs after its reader was stopped and freed finds the stop flag
// here and drops the report without touching the reader.
struct TuiHidDeviceReadThread::Shared {
    ReaderInterface target;
    ReaderEvents events;
    std::size_t max_usages = 0;
    std::vector<std::uint8_t> report;  // one input report, read into again and again
    // The report being delivered. The reader writes them only while no delivery is outstanding.
    std::size_t size = 0;
    std::optional<std::vector<std::uint16_t>> usages;

    std::mutex mutex;
    std::condition_variable changed;
    bool stop_requested = false;
    bool delivered = false;

    bool StopRequested() {
        const std::lock_guard lock(mutex);
        return stop_requested;
    }
    void WaitForStop() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return stop_requested; });
    }
    // Reader thread: false when stopped before the main thread ran the delivery.
    bool WaitUntilDelivered() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return delivered || stop_requested; });
        return !stop_requested;
    }
    void MarkDelivered() {
        {
            const std::lock_guard lock(mutex);
            delivered = true;
        }
        changed.notify_all();
    }
    // Main thread, from the posted task.
    void RunDelivery() {
        struct Done {
            Shared& shared;
            ~Done() { shared.MarkDelivered(); }
        } done{*this};
        if (!StopRequested()) {
            Raise();
        }
    }
    // OnData, then OnParsedData unless a handler stopped the reader meanwhile.
    void Raise() {
        const std::uint8_t report_id = report[0];
        const auto data_size = static_cast<std::uint16_t>(size - 1);
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
    : main_loop_(ports.main_loop),
      debug_(ports.debug),
      shared_(std::make_shared<Shared>()),
      device_(ports.interfaces.Open(target.device_path, HidOpenMode::OverlappedRead).device) {
    shared_->target = std::move(target);
    shared_->events = std::move(events);
    if (!device_) {
        ended_ = true;
        return;
    }
    if (const auto queried = device_->Capabilities(); queried.capabilities) {
        shared_->report.resize(queried.capabilities->input_report_length);
    }
    shared_->max_usages = device_->MaxButtonUsages();
    thread_ = std::thread([this] {
        Run();
        ended_ = true;
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
    std::vector<std::uint8_t>& report = shared_->report;
    if (report.empty()) {
        shared_->WaitForStop();  // no report length: nothing can be read
        return;
    }
    int failed_in_a_row = 0;
    while (!shared_->StopRequested()) {
        std::ranges::fill(report, std::uint8_t{0});
        const HidReadResult result = device_->Read(report);
        failed_in_a_row = result.status == HidReadResult::Status::Failed ? failed_in_a_row + 1 : 0;
        if (failed_in_a_row == kMaxFailedReadsInARow) {
            // A device that fails every read at once would keep this thread busy: it rests
            // until the next re-open stops it.
            debug_.Trace(u"HID reads of " + shared_->target.device_path +
                         u" keep failing; the reader waits for the next re-open");
            shared_->WaitForStop();
            return;
        }
        switch (DecideAfterRead(result, shared_->StopRequested())) {
            case ReaderStep::Deliver:
                if (!Deliver(std::min(result.size, report.size()))) {
                    return;
                }
                break;
            case ReaderStep::ReadAgain:
                break;
            case ReaderStep::End:
                return;
            case ReaderStep::WaitForStop:
                shared_->WaitForStop();
                return;
            case ReaderStep::EndDeviceGone:
                ReportDeviceGone();
                return;
        }
    }
}

// Raises the handlers for the report of `size` bytes (at least 1, at most the buffer) and
// returns when they ran; false when the reader must end (stopped, or the main loop took no task).
bool TuiHidDeviceReadThread::Deliver(std::size_t size) {
    Shared& shared = *shared_;
    shared.size = size;
    shared.usages.reset();
    if (shared.events.on_parsed_data) {
        shared.usages = device_->ButtonUsages(shared.report);
    }
    if (shared.events.fast_on_data) {
        shared.Raise();
        return true;
    }
    {
        const std::lock_guard lock(shared.mutex);
        shared.delivered = false;
    }
    if (!main_loop_.PostTask([keep = shared_] { keep->RunDelivery(); })) {
        return false;
    }
    return shared.WaitUntilDelivered();
}

void TuiHidDeviceReadThread::ReportDeviceGone() const {
    debug_.Trace(kDeviceNotConnectedTrace);
    if (shared_->events.on_device_not_connected) {
        shared_->events.on_device_not_connected(shared_->target.device_id,
                                                shared_->target.device_path);
    }
}

}  // namespace korv
