#include "platform/fake/fake_hid.h"

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <utility>

namespace korv::fake {

struct FakeHidInterfaces::State {
    std::deque<FakeHidInterface> interfaces;  // a deque: Add hands out lasting references

    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::u16string, std::deque<ScriptedRead>, std::less<>> reads;
    std::set<std::u16string, std::less<>> unplugged;
    std::map<std::u16string, int, std::less<>> waiting;
    std::map<std::u16string, int, std::less<>> started;
    std::vector<HidOpenRecord> opens;
    std::vector<HidTransfer> transfers;
    std::size_t open_devices = 0;
    int wrong_button_usage_reports = 0;

    void Record(const FakeHidInterface& on, HidTransfer::Kind kind,
                std::span<const std::uint8_t> bytes) {
        const std::lock_guard lock(mutex);
        transfers.push_back({on.info.path, kind, {bytes.begin(), bytes.end()}});
    }
};

class FakeHidInterfaces::Device : public HidDevice {
  public:
    Device(std::shared_ptr<State> state, const FakeHidInterface& script)
        : state_(std::move(state)), script_(script) {}
    ~Device() override {
        const std::lock_guard lock(state_->mutex);
        --state_->open_devices;
    }

    [[nodiscard]] CapabilitiesResult Capabilities() const override {
        if (!script_.capabilities) {
            return {std::nullopt, {"HidP_GetCaps", HidFailureKind::Other, 0}};
        }
        return {script_.capabilities, {}};
    }

    [[nodiscard]] HidReadResult Read(std::span<std::uint8_t> buffer) override {
        const std::u16string& path = script_.info.path;
        std::unique_lock lock(state_->mutex);
        ++state_->started[path];
        ++state_->waiting[path];
        state_->changed.notify_all();
        auto& queue = state_->reads[path];
        state_->changed.wait(
            lock, [&] { return cancelled_ || !queue.empty() || state_->unplugged.contains(path); });
        --state_->waiting[path];
        if (cancelled_) {
            return {
                HidReadResult::Status::Cancelled, 0, {"ReadFile", HidFailureKind::Cancelled, 995}};
        }
        if (queue.empty()) {
            return {HidReadResult::Status::Failed,
                    0,
                    {"GetOverlappedResult", HidFailureKind::DeviceGone, 1167}};
        }
        last_read_ = std::move(queue.front());
        queue.pop_front();
        const std::vector<std::uint8_t>& bytes = last_read_.bytes;
        std::copy_n(bytes.begin(), std::min(bytes.size(), buffer.size()), buffer.begin());
        return last_read_.result;
    }

    void CancelRead() override {
        {
            const std::lock_guard lock(state_->mutex);
            cancelled_ = true;
        }
        state_->changed.notify_all();
    }

    [[nodiscard]] std::optional<HidFailure> Write(std::span<const std::uint8_t> report) override {
        state_->Record(script_, HidTransfer::Kind::Write, report);
        return script_.write_failure;
    }

    [[nodiscard]] std::optional<HidFailure> GetFeature(std::span<std::uint8_t> buffer) override {
        state_->Record(script_, HidTransfer::Kind::GetFeature, buffer);
        if (script_.feature_failure) {
            return script_.feature_failure;
        }
        if (!buffer.empty()) {
            const auto tail = buffer.subspan(1);
            std::copy_n(script_.feature_bytes.begin(),
                        std::min(tail.size(), script_.feature_bytes.size()), tail.begin());
        }
        return std::nullopt;
    }

    [[nodiscard]] std::optional<HidFailure> SetFeature(
        std::span<const std::uint8_t> report) override {
        state_->Record(script_, HidTransfer::Kind::SetFeature, report);
        return script_.feature_failure;
    }

    [[nodiscard]] std::size_t MaxButtonUsages() const override { return script_.max_button_usages; }

    // The usages scripted with the report that the last Read returned, when `report` is that
    // report as the platform's parser takes it; called by the reader's thread after that read.
    [[nodiscard]] std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t> report) const override {
        if (!IsLastReport(report)) {
            const std::lock_guard lock(state_->mutex);
            ++state_->wrong_button_usage_reports;
            return std::nullopt;
        }
        return last_read_.usages;
    }

  private:
    // Whether `report` is the last report read, as long as an input report, with zeros after
    // the bytes read.
    [[nodiscard]] bool IsLastReport(std::span<const std::uint8_t> report) const {
        const std::size_t length =
            script_.capabilities ? script_.capabilities->input_report_length : 0;
        const std::size_t size = last_read_.result.size;
        if (report.size() != length || size > length) {
            return false;
        }
        std::vector<std::uint8_t> expected(length, 0);
        const std::vector<std::uint8_t>& bytes = last_read_.bytes;
        std::copy_n(bytes.begin(), std::min(bytes.size(), size), expected.begin());
        return std::ranges::equal(report, expected);
    }

    std::shared_ptr<State> state_;
    const FakeHidInterface& script_;
    bool cancelled_ = false;  // under the state's mutex
    ScriptedRead last_read_;  // reader thread only
};

FakeHidInterfaces::FakeHidInterfaces() : state_(std::make_shared<State>()) {}
FakeHidInterfaces::~FakeHidInterfaces() = default;

FakeHidInterface& FakeHidInterfaces::Add(std::u16string path,
                                         std::vector<std::u16string> hardware_ids,
                                         std::optional<HidCapabilities> capabilities) {
    FakeHidInterface& script = state_->interfaces.emplace_back();
    script.info = {std::move(path), std::move(hardware_ids)};
    script.capabilities = capabilities;
    return script;
}

std::vector<HidInterfaceInfo> FakeHidInterfaces::Enumerate() const {
    std::vector<HidInterfaceInfo> infos;
    for (const FakeHidInterface& script : state_->interfaces) {
        infos.push_back(script.info);
    }
    return infos;
}

HidInterfaces::OpenResult FakeHidInterfaces::Open(std::u16string_view path,
                                                  HidOpenMode mode) const {
    const auto script = std::ranges::find_if(
        state_->interfaces, [path](const FakeHidInterface& s) { return s.info.path == path; });
    const std::lock_guard lock(state_->mutex);
    const auto earlier = std::ranges::count_if(
        state_->opens, [path](const HidOpenRecord& open) { return open.path == path; });
    state_->opens.push_back({std::u16string(path), mode});
    if (script == state_->interfaces.end() || script->open_fails) {
        return {nullptr, {"CreateFileW", HidFailureKind::DeviceGone, 2}};
    }
    if (script->later_open_failure && earlier >= script->opens_that_succeed) {
        return {nullptr, *script->later_open_failure};
    }
    ++state_->open_devices;
    return {std::make_unique<Device>(state_, *script), {}};
}

void FakeHidInterfaces::PushReport(std::u16string_view path, std::vector<std::uint8_t> bytes,
                                   std::optional<std::vector<std::uint16_t>> usages) {
    const std::size_t size = bytes.size();
    PushRead(path,
             {{HidReadResult::Status::Report, size, {}}, std::move(bytes), std::move(usages)});
}

void FakeHidInterfaces::PushRead(std::u16string_view path, ScriptedRead read) {
    {
        const std::lock_guard lock(state_->mutex);
        state_->reads[std::u16string(path)].push_back(std::move(read));
    }
    state_->changed.notify_all();
}

void FakeHidInterfaces::Unplug(std::u16string_view path) {
    {
        const std::lock_guard lock(state_->mutex);
        state_->unplugged.emplace(path);
    }
    state_->changed.notify_all();
}

std::vector<HidOpenRecord> FakeHidInterfaces::Opens() const {
    const std::lock_guard lock(state_->mutex);
    return state_->opens;
}

std::vector<HidTransfer> FakeHidInterfaces::Transfers() const {
    const std::lock_guard lock(state_->mutex);
    return state_->transfers;
}

std::size_t FakeHidInterfaces::OpenDevices() const {
    const std::lock_guard lock(state_->mutex);
    return state_->open_devices;
}

int FakeHidInterfaces::WrongButtonUsageReports() const {
    const std::lock_guard lock(state_->mutex);
    return state_->wrong_button_usage_reports;
}

int FakeHidInterfaces::ReadsStarted(std::u16string_view path) const {
    const std::lock_guard lock(state_->mutex);
    const auto found = state_->started.find(path);
    return found == state_->started.end() ? 0 : found->second;
}

bool FakeHidInterfaces::WaitForWaitingReads(std::u16string_view path, int count,
                                            std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] {
        const auto found = state_->waiting.find(path);
        return found != state_->waiting.end() && found->second >= count;
    });
}

}  // namespace korv::fake
