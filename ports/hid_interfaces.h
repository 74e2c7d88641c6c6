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

// A platform call that failed: which one, with the platform's error code (0 when it has none).
struct HidFailure {
    std::string_view operation;
    std::uint32_t code = 0;
};

// The platform's error codes that the core tells apart (Windows numbering, which other
// backends map onto).
inline constexpr std::uint32_t kHidErrorInvalidHandle = 6;
inline constexpr std::uint32_t kHidErrorOperationAborted = 995;
inline constexpr std::uint32_t kHidErrorDeviceNotConnected = 1167;

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

    // The collection and report lengths (HidD_GetAttributes, the preparsed data and HidP_GetCaps
    // on Windows), or the failing call.
    struct CapabilitiesResult {
        std::optional<HidCapabilities> capabilities;
        HidFailure failure;
    };
    [[nodiscard]] virtual CapabilitiesResult Capabilities() const = 0;

    // Reads one input report into `buffer` and blocks until it arrives, the read fails or
    // `CancelRead` is called. No periodic wake-ups while it waits. A device that goes away
    // while a read waits completes it as Failed with kHidErrorDeviceNotConnected.
    [[nodiscard]] virtual HidReadResult Read(std::span<std::uint8_t> buffer) = 0;

    // Makes a waiting `Read` return Cancelled at once, and every later `Read` too. Any thread.
    virtual void CancelRead() = 0;

    // Writes an output report (identifier byte first), synchronously. nullopt on success.
    [[nodiscard]] virtual std::optional<HidFailure> Write(std::span<const std::uint8_t> report) = 0;

    // Gets a feature report: `buffer[0]` holds the report identifier on entry, the whole buffer
    // is the length asked for. nullopt on success.
    [[nodiscard]] virtual std::optional<HidFailure> GetFeature(std::span<std::uint8_t> buffer) = 0;
    [[nodiscard]] virtual std::optional<HidFailure> SetFeature(
        std::span<const std::uint8_t> report) = 0;

    // The most usages an input report of this interface can list (HidP_MaxUsageListLength
    // over all usage pages); 0 when unknown.
    [[nodiscard]] virtual std::size_t MaxButtonUsages() const = 0;

    // The usages of the buttons that are down in an input report, in the order the platform
    // lists them (HidP_GetUsagesEx, link collection 0), at most MaxButtonUsages of them;
    // nothing when the report cannot be parsed.
    [[nodiscard]] virtual std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t> report) const = 0;
};

// An interface that a program serves over a message-mode named pipe ("\\.\pipe\" + pipe_name),
// declared in the settings file so that a simulated mouse can stand in for the hardware. The walk
// lists it after the platform's own interfaces while its pipe exists; each message the server
// writes is one input report, identifier byte first; what the client writes is an output report.
struct SimulatedHidInterface {
    std::u16string pipe_name;
    std::u16string hardware_id;
    HidCapabilities capabilities;
    bool operator==(const SimulatedHidInterface&) const = default;
};

enum class HidOpenMode : std::uint8_t {
    OverlappedRead,  // for a reader: Read and CancelRead
    Plain,           // for synchronous writes and feature reports
};

class HidInterfaces {
  public:
    virtual ~HidInterfaces() = default;

    // The present HID interfaces, in the platform's order. Empty when the walk cannot start.
    [[nodiscard]] virtual std::vector<HidInterfaceInfo> Enumerate() const = 0;

    // Opens an interface with read and write access, sharing read and write.
    struct OpenResult {
        std::unique_ptr<HidDevice> device;  // null on failure
        HidFailure failure;
    };
    [[nodiscard]] virtual OpenResult Open(std::u16string_view path, HidOpenMode mode) const = 0;
};

}  // namespace korv
