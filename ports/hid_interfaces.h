#pragma once
// Port: the HID interfaces of the platform, as hidapi sees them: walk the present interfaces,
// open one, read its input reports, write output reports, exchange feature reports, and list
// the button usages of an input report.
//
// Threads: `HidInterfaces` and the writes and feature reports of a `HidDevice` are called on the
// thread that owns the component (the main thread in the monitor). `Read` is called by one reader
// thread at a time; `CancelRead` by any thread, also while `Read` waits; `Capabilities`,
// `MaxButtonUsages` and `ButtonUsages` only read what the device was opened with and may be
// called from any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korv {

// One HID interface as the walk finds it, before it is opened.
struct HidInterfaceInfo {
    std::u16string path;                       // the device-interface path that Open takes
    std::vector<std::u16string> hardware_ids;  // in the platform's order; may be empty
};

// The top-level collection of an interface and its report byte lengths, each counting the
// report identifier byte.
struct HidCapabilities {
    std::uint16_t usage = 0;
    std::uint16_t usage_page = 0;
    std::uint16_t input_report_length = 0;
    std::uint16_t output_report_length = 0;
    std::uint16_t feature_report_length = 0;
    bool operator==(const HidCapabilities&) const = default;
};

// What a failure means to the core, whatever the platform's own code for it.
enum class HidFailureKind : std::uint8_t {
    DeviceGone,    // the interface is no longer there (unplugged, its server went away)
    Cancelled,     // CancelRead, or the system ended the transfer before it completed
    AccessDenied,  // the interface exists but may not be opened or used this way
    Invalid,       // the handle, mode or arguments are not valid for the call
    Other,
};

// A platform call that failed: which one, what it means, and the platform's own code for traces
// (0 when it has none).
struct HidFailure {
    std::string_view operation;
    HidFailureKind kind = HidFailureKind::Other;
    std::uint32_t code = 0;  // the platform's native code
};

// The outcome of one `Read`.
struct HidReadResult {
    enum class Status : std::uint8_t {
        Report,     // a report of `size` bytes (possibly 0) is in the buffer
        Cancelled,  // CancelRead was called before or while the read waited
        Refused,    // the platform did not start the read: `failure` says why
        Failed,     // the read started and completed with an error: `failure` says which
    };
    Status status = Status::Failed;
    std::size_t size = 0;
    HidFailure failure;
};

// One open HID interface. Destroying it closes the interface; a `Read` must have returned first.
class HidDevice {
  public:
    virtual ~HidDevice() = default;

    // The top-level collection and report lengths, as the interface's report descriptor gives
    // them, or the failing call.
    struct CapabilitiesResult {
        std::optional<HidCapabilities> capabilities;
        HidFailure failure;
    };
    [[nodiscard]] virtual CapabilitiesResult Capabilities() const = 0;

    // Reads one input report into `buffer` and blocks until it arrives, the read fails or
    // `CancelRead` is called. No periodic wake-ups while it waits. A device that goes away
    // while a read waits completes it as Failed of kind DeviceGone.
    [[nodiscard]] virtual HidReadResult Read(std::span<std::uint8_t> buffer) = 0;

    // Makes a waiting `Read` return Cancelled at once, and every later `Read` too; a `Write`
    // that waits for the device, and every later one, fails as Cancelled. Any thread.
    virtual void CancelRead() = 0;

    // Writes an output report (identifier byte first) and returns once the device took it, or
    // fails after a bounded time (kind Other) or on CancelRead (kind Cancelled). A report shorter
    // than the interface's output report length is padded with zeros to that length, as the
    // platform's HID class takes only whole reports. nullopt on success.
    [[nodiscard]] virtual std::optional<HidFailure> Write(std::span<const std::uint8_t> report) = 0;

    // Gets a feature report: `buffer[0]` holds the report identifier on entry, the whole buffer
    // is the length asked for. nullopt on success.
    [[nodiscard]] virtual std::optional<HidFailure> GetFeature(std::span<std::uint8_t> buffer) = 0;
    [[nodiscard]] virtual std::optional<HidFailure> SetFeature(
        std::span<const std::uint8_t> report) = 0;

    // The most button usages an input report of this interface can list, over all usage
    // pages; 0 when unknown.
    [[nodiscard]] virtual std::size_t MaxButtonUsages() const = 0;

    // The usages of the buttons that are down in an input report, in the order the platform
    // lists them (top-level collection only), at most MaxButtonUsages of them;
    // nothing when the report cannot be parsed.
    [[nodiscard]] virtual std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t> report) const = 0;
};

// What the core opens an interface for.
enum class HidOpenMode : std::uint8_t {
    Identify,  // the capabilities only; a backend need not connect to the device for it
    Reading,   // for a reader: Read and CancelRead (and Write)
    Control,   // for output and feature reports, on the caller's thread
};

class HidInterfaces {
  public:
    virtual ~HidInterfaces() = default;

    // The present HID interfaces, in the platform's order. Empty when the walk cannot start.
    [[nodiscard]] virtual std::vector<HidInterfaceInfo> Enumerate() const = 0;

    // Opens an interface for `mode`, sharing it with other opens. Returns at once: an interface
    // that cannot be opened without waiting for it counts as not openable now.
    struct OpenResult {
        std::unique_ptr<HidDevice> device;  // null on failure
        HidFailure failure;
    };
    [[nodiscard]] virtual OpenResult Open(std::u16string_view path, HidOpenMode mode) const = 0;
};

}  // namespace korv
