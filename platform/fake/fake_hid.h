#pragma once
// HID interfaces for the core's tests: scripted interfaces whose devices record what is written
// to them, and whose reads wait until a test pushes a report, an error or an unplug.
//
// Threads: scripting (Add and the fields of the interfaces it returns) on the test's thread
// before the code under test runs; pushing, unplugging and every observation from any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/debug_output.h"
#include "ports/hid_interfaces.h"

namespace korv::fake {

// One scripted interface.
struct FakeHidInterface {
    HidInterfaceInfo info;
    std::optional<HidCapabilities> capabilities;  // nullopt: querying the capabilities fails
    bool open_fails = false;                      // every open fails: CreateFileW, 2
    // Opens after the first `opens_that_succeed` fail with this (the search opens an interface
    // once before its reader opens it).
    std::optional<HidFailure> later_open_failure;
    int opens_that_succeed = 0;
    std::size_t max_button_usages = 0;
    std::optional<HidFailure> write_failure;    // what every Write answers
    std::optional<HidFailure> feature_failure;  // what every GetFeature and SetFeature answer
    std::vector<std::uint8_t> feature_bytes;    // what GetFeature puts after the identifier byte
};

// The outcome of one read: `bytes` go into the reader's buffer as far as it reaches, while
// `result.size` is reported as scripted (also when larger than the buffer).
struct ScriptedRead {
    HidReadResult result;
    std::vector<std::uint8_t> bytes;
    std::optional<std::vector<std::uint16_t>> usages;  // ButtonUsages of this report
};

struct HidOpenRecord {
    std::u16string path;
    HidOpenMode mode;
};

struct HidTransfer {
    enum class Kind : std::uint8_t { Write, GetFeature, SetFeature };
    std::u16string path;
    Kind kind;
    std::vector<std::uint8_t> bytes;  // written, or the feature buffer as it was handed in
};

class FakeHidInterfaces : public HidInterfaces {
  public:
    FakeHidInterfaces();
    ~FakeHidInterfaces() override;

    // Adds an interface after those added before; the reference stays valid.
    FakeHidInterface& Add(std::u16string path, std::vector<std::u16string> hardware_ids,
                          std::optional<HidCapabilities> capabilities);

    [[nodiscard]] std::vector<HidInterfaceInfo> Enumerate() const override;
    [[nodiscard]] OpenResult Open(std::u16string_view path, HidOpenMode mode) const override;

    // A report for the next read of a device on `path`, its size being that of `bytes`.
    void PushReport(std::u16string_view path, std::vector<std::uint8_t> bytes,
                    std::optional<std::vector<std::uint16_t>> usages = std::nullopt);
    void PushRead(std::u16string_view path, ScriptedRead read);
    // Once the pushed reads are used up, every read on `path` fails: device not connected.
    void Unplug(std::u16string_view path);

    [[nodiscard]] std::vector<HidOpenRecord> Opens() const;
    [[nodiscard]] std::vector<HidTransfer> Transfers() const;
    [[nodiscard]] std::size_t OpenDevices() const;  // devices not destroyed yet
    [[nodiscard]] int ReadsStarted(std::u16string_view path) const;
    // ButtonUsages calls that were not given what the platform's parser takes: a report of the
    // interface's input report length holding the bytes of the last read and zeros after them
    // (no report cut to the buffer). Such a call lists nothing, as the platform would.
    [[nodiscard]] int WrongButtonUsageReports() const;
    // Waits until `count` reads on `path` are waiting at once; false after `timeout`.
    [[nodiscard]] bool WaitForWaitingReads(std::u16string_view path, int count,
                                           std::chrono::milliseconds timeout) const;

    class Device;
    struct State;

  private:
    std::shared_ptr<State> state_;
};

// Debugger output that reader threads may write to while a test reads it.
class ThreadSafeDebugOutput : public DebugOutput {
  public:
    void Trace(std::u16string_view line) const override {
        const std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    [[nodiscard]] std::vector<std::u16string> Lines() const {
        const std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    mutable std::mutex mutex_;
    mutable std::vector<std::u16string> lines_;
};

}  // namespace korv::fake
