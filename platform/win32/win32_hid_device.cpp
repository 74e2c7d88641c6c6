#include "platform/win32/win32_hid_device.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include <vector>

#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

DWORD ClampedLength(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
}

HidReadResult ReadOutcome(HidReadResult::Status status, std::string_view operation, DWORD error) {
    HidReadResult result;
    result.status = status;
    result.failure = HidFailureOf(operation, error);
    return result;
}

HidReadResult CancelledRead() {
    HidReadResult result;
    result.status = HidReadResult::Status::Cancelled;
    result.failure = {"ReadFile", HidFailureKind::Cancelled, ERROR_OPERATION_ABORTED};
    return result;
}

UniqueHandle NewManualResetEvent() {
    return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

}  // namespace

HidFailureKind HidFailureKindOf(DWORD error) {
    switch (error) {
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BROKEN_PIPE:  // a pipe whose server went away
        case ERROR_PIPE_NOT_CONNECTED:
        case ERROR_NO_DATA:  // a pipe being closed
            return HidFailureKind::DeviceGone;
        case ERROR_OPERATION_ABORTED:
            return HidFailureKind::Cancelled;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return HidFailureKind::AccessDenied;
        case ERROR_INVALID_HANDLE:
        case ERROR_INVALID_FUNCTION:
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_USER_BUFFER:
        case ERROR_NOT_SUPPORTED:
            return HidFailureKind::Invalid;
        default:
            return HidFailureKind::Other;
    }
}

HidFailure HidFailureOf(std::string_view operation, DWORD error) {
    return {operation, HidFailureKindOf(error), error};
}

UniqueHandle OpenHidFile(std::u16string_view path) {
    const std::wstring wide_path = ToWide(path);
    return UniqueHandle(CreateFileW(wide_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
}

Win32HidDevice::Win32HidDevice(UniqueHandle handle, HidOpenMode mode,
                               std::size_t output_report_length)
    : handle_(std::move(handle)),
      mode_(mode),
      output_report_length_(output_report_length),
      read_done_(NewManualResetEvent()),
      write_done_(NewManualResetEvent()),
      cancel_(NewManualResetEvent()) {}

HidReadResult Win32HidDevice::Read(std::span<std::uint8_t> buffer) {
    if (mode_ == HidOpenMode::Identify)
        return ReadOutcome(HidReadResult::Status::Refused, "ReadFile", ERROR_INVALID_FUNCTION);
    if (!read_done_.Valid() || !cancel_.Valid())
        return ReadOutcome(HidReadResult::Status::Refused, "CreateEventW", ERROR_INVALID_HANDLE);
    // The flag, not the event: no call into the system per report for it.
    if (cancelled_.load())
        return CancelledRead();
    OVERLAPPED overlapped{};
    overlapped.hEvent = read_done_.Get();
    if (ReadFile(handle_.Get(), buffer.data(), ClampedLength(buffer.size()), nullptr,
                 &overlapped)) {
        return Outcome(overlapped);  // completed at once: nothing to wait for
    }
    const DWORD error = GetLastError();
    // A message longer than the buffer may complete at once with ERROR_MORE_DATA.
    if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA)
        return ReadOutcome(HidReadResult::Status::Refused, "ReadFile", error);
    const Waited waited = WaitFor(read_done_.Get(), overlapped, INFINITE);
    switch (waited.how) {
        case Waited::How::Done:
            return Outcome(overlapped);
        case Waited::How::Cancelled:
            return CancelledRead();
        case Waited::How::TimedOut:
        case Waited::How::Failed:
            break;
    }
    return ReadOutcome(HidReadResult::Status::Failed, "WaitForMultipleObjects", waited.error);
}

void Win32HidDevice::CancelRead() {
    cancelled_ = true;
    SetEvent(cancel_.Get());
}

std::optional<HidFailure> Win32HidDevice::Write(std::span<const std::uint8_t> report) {
    if (mode_ == HidOpenMode::Identify)
        return HidFailureOf("WriteFile", ERROR_INVALID_FUNCTION);
    if (report.size() >= output_report_length_)
        return WriteWhole(report);
    std::vector<std::uint8_t> padded(output_report_length_, 0);
    std::ranges::copy(report, padded.begin());
    return WriteWhole(padded);
}

std::optional<HidFailure> Win32HidDevice::WriteWhole(std::span<const std::uint8_t> report) {
    if (!write_done_.Valid() || !cancel_.Valid())
        return HidFailureOf("CreateEventW", ERROR_INVALID_HANDLE);
    if (cancelled_.load())
        return HidFailureOf("WriteFile", ERROR_OPERATION_ABORTED);
    OVERLAPPED overlapped{};
    overlapped.hEvent = write_done_.Get();
    if (!WriteFile(handle_.Get(), report.data(), ClampedLength(report.size()), nullptr,
                   &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return HidFailureOf("WriteFile", error);
        const Waited waited = WaitFor(write_done_.Get(), overlapped, kHidWriteTimeoutMs);
        switch (waited.how) {
            case Waited::How::Done:
                break;
            case Waited::How::Cancelled:
                return HidFailureOf("WriteFile", ERROR_OPERATION_ABORTED);
            case Waited::How::TimedOut:
                return HidFailureOf("WriteFile", ERROR_TIMEOUT);
            case Waited::How::Failed:
                return HidFailureOf("WaitForMultipleObjects", waited.error);
        }
    }
    DWORD written = 0;
    if (!GetOverlappedResult(handle_.Get(), &overlapped, &written, FALSE))
        return HidFailureOf("WriteFile", GetLastError());
    return std::nullopt;
}

// Waits for the operation or the cancel event. Unless the operation completed, it is cancelled
// and waited for, so that its buffer is no longer in use when this returns.
Win32HidDevice::Waited Win32HidDevice::WaitFor(HANDLE done, OVERLAPPED& overlapped,
                                               DWORD timeout_ms) {
    const HANDLE events[] = {done, cancel_.Get()};
    const DWORD result = WaitForMultipleObjects(2, events, FALSE, timeout_ms);
    if (result == WAIT_OBJECT_0)
        return {Waited::How::Done, 0};
    const DWORD wait_error = result == WAIT_FAILED ? GetLastError() : 0;
    CancelIoEx(handle_.Get(), &overlapped);
    DWORD ignored = 0;
    // The outcome of the cancelled operation is not needed, only its end.
    static_cast<void>(GetOverlappedResult(handle_.Get(), &overlapped, &ignored, TRUE));
    if (result == WAIT_OBJECT_0 + 1)
        return {Waited::How::Cancelled, 0};
    if (result == WAIT_TIMEOUT)
        return {Waited::How::TimedOut, 0};
    return {Waited::How::Failed, wait_error};
}

// The outcome of a read that has completed.
HidReadResult Win32HidDevice::Outcome(OVERLAPPED& overlapped) {
    DWORD bytes = 0;
    if (GetOverlappedResult(handle_.Get(), &overlapped, &bytes, FALSE)) {
        HidReadResult result;
        result.status = HidReadResult::Status::Report;
        result.size = bytes;
        return result;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_MORE_DATA)
        return DiscardRestOfMessage();
    return ReadOutcome(HidReadResult::Status::Failed, "ReadFile", error);
}

// A message longer than the buffer: its first part is in the buffer, the rest is read and
// dropped so that the next read starts at the next message. The report counts as failed.
HidReadResult Win32HidDevice::DiscardRestOfMessage() {
    std::array<std::uint8_t, 256> scratch;
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = read_done_.Get();
        if (!ReadFile(handle_.Get(), scratch.data(), scratch.size(), nullptr, &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA)
                return ReadOutcome(HidReadResult::Status::Failed, "ReadFile", error);
        }
        const Waited waited = WaitFor(read_done_.Get(), overlapped, INFINITE);
        if (waited.how == Waited::How::Cancelled)
            return CancelledRead();
        if (waited.how != Waited::How::Done)
            return ReadOutcome(HidReadResult::Status::Failed, "WaitForMultipleObjects",
                               waited.error);
        DWORD bytes = 0;
        if (GetOverlappedResult(handle_.Get(), &overlapped, &bytes, FALSE))
            return ReadOutcome(HidReadResult::Status::Failed, "ReadFile", ERROR_MORE_DATA);
        const DWORD error = GetLastError();
        if (error != ERROR_MORE_DATA)
            return ReadOutcome(HidReadResult::Status::Failed, "ReadFile", error);
    }
}

}  // namespace korv::win32
