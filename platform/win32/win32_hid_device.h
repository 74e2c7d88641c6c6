#pragma once
// What the Windows HID device classes share: an interface opened as a file for overlapped I/O,
// reads that wait for the read and a sticky cancel event together, writes bounded in time, and
// the meaning of the system's error codes. The platform's HID class (win32_hid) and the
// message-pipe class (win32_pipe_hid) derive their devices from it.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/win32/unique_handle.h"
#include "ports/hid_interfaces.h"

namespace korv::win32 {

// How long a write may wait for the device to take the report.
inline constexpr DWORD kHidWriteTimeoutMs = 1000;

// What a system error code means to the core.
[[nodiscard]] HidFailureKind HidFailureKindOf(DWORD error);
[[nodiscard]] HidFailure HidFailureOf(std::string_view operation, DWORD error);

// Opens a device path for overlapped I/O with read and write access, sharing read and write.
[[nodiscard]] UniqueHandle OpenHidFile(std::u16string_view path);

class Win32HidDevice : public HidDevice {
  public:
    // `handle`: opened with FILE_FLAG_OVERLAPPED. `output_report_length`: what a shorter output
    // report is padded to (0: written as it is). A device opened for Identify refuses reads and
    // writes.
    Win32HidDevice(UniqueHandle handle, HidOpenMode mode, std::size_t output_report_length);

    [[nodiscard]] HidReadResult Read(std::span<std::uint8_t> buffer) override;
    void CancelRead() override;
    [[nodiscard]] std::optional<HidFailure> Write(std::span<const std::uint8_t> report) override;

  protected:
    [[nodiscard]] HANDLE Handle() const { return handle_.Get(); }
    // For a class that learns the length only once the device is open.
    void PadOutputReportsTo(std::size_t length) { output_report_length_ = length; }

  private:
    struct Waited {
        enum class How : std::uint8_t { Done, Cancelled, TimedOut, Failed } how;
        DWORD error;  // Failed: the wait's own error
    };
    [[nodiscard]] Waited WaitFor(HANDLE done, OVERLAPPED& overlapped, DWORD timeout_ms);
    [[nodiscard]] HidReadResult Outcome(OVERLAPPED& overlapped);
    [[nodiscard]] HidReadResult DiscardRestOfMessage();
    [[nodiscard]] std::optional<HidFailure> WriteWhole(std::span<const std::uint8_t> report);

    UniqueHandle handle_;
    HidOpenMode mode_;
    std::size_t output_report_length_;
    UniqueHandle read_done_;
    UniqueHandle write_done_;
    UniqueHandle cancel_;                  // wakes a waiting read or write
    std::atomic<bool> cancelled_ = false;  // ends every later read before it starts
};

}  // namespace korv::win32
