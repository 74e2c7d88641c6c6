#include "platform/win32/message_pipe_server.h"

#include <utility>

namespace korv::win32 {
namespace {

OVERLAPPED WithEvent(HANDLE event) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    return overlapped;
}

}  // namespace

MessagePipeInstance::Created MessagePipeInstance::Create(const std::wstring& path,
                                                         DWORD max_instances, DWORD open_flags,
                                                         DWORD buffer_bytes) {
    UniqueHandle pipe(CreateNamedPipeW(path.c_str(),
                                       PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | open_flags,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                       max_instances, buffer_bytes, buffer_bytes, 0, nullptr));
    if (!pipe.Valid())
        return {nullptr, GetLastError()};
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.Valid())
        return {nullptr, GetLastError()};
    return {std::unique_ptr<MessagePipeInstance>(
        new MessagePipeInstance(std::move(pipe), std::move(event)))};
}

MessagePipeInstance::~MessagePipeInstance() {
    Cancel();
}

void MessagePipeInstance::StartConnect() {
    overlapped_ = WithEvent(event_.Get());
    if (ConnectNamedPipe(pipe_.Get(), &overlapped_))
        return Ended({});
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING)
        pending_ = true;
    else
        Ended({error == ERROR_PIPE_CONNECTED ? ERROR_SUCCESS : error, 0});
}

void MessagePipeInstance::StartRead() {
    overlapped_ = WithEvent(event_.Get());
    const BOOL done = ReadFile(pipe_.Get(), buffer_.data(), static_cast<DWORD>(buffer_.size()),
                               nullptr, &overlapped_);
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (done || error == ERROR_IO_PENDING || error == ERROR_MORE_DATA) {
        pending_ = true;
        if (error != ERROR_IO_PENDING)
            SetEvent(event_.Get());  // ended at once: make sure the wait sees it
    } else {
        Ended({error, 0});
    }
}

MessagePipeInstance::Result MessagePipeInstance::Finish() {
    ResetEvent(event_.Get());
    if (!pending_)
        return immediate_;
    pending_ = false;
    DWORD bytes = 0;
    if (GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, FALSE))
        return {ERROR_SUCCESS, bytes};
    return {GetLastError(), bytes};
}

void MessagePipeInstance::Cancel() {
    if (!pending_)
        return;
    CancelIoEx(pipe_.Get(), &overlapped_);
    DWORD bytes = 0;
    // Only the end of the operation matters here, not how it went.
    static_cast<void>(GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, TRUE));
    pending_ = false;
    ResetEvent(event_.Get());
}

DWORD MessagePipeInstance::Write(std::span<const std::uint8_t> message, DWORD timeout_ms) {
    UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done.Valid())
        return GetLastError();
    OVERLAPPED overlapped = WithEvent(done.Get());
    if (WriteFile(pipe_.Get(), message.data(), static_cast<DWORD>(message.size()), nullptr,
                  &overlapped)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
        return error;
    if (WaitForSingleObject(done.Get(), timeout_ms) != WAIT_OBJECT_0)
        CancelIoEx(pipe_.Get(), &overlapped);
    DWORD written = 0;
    return GetOverlappedResult(pipe_.Get(), &overlapped, &written, TRUE) ? ERROR_SUCCESS
                                                                         : GetLastError();
}

void MessagePipeInstance::Disconnect() {
    DisconnectNamedPipe(pipe_.Get());
}

bool MessagePipeInstance::ClientClosed() const {
    DWORD available = 0;
    return !PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, &available, nullptr);
}

void MessagePipeInstance::Ended(Result result) {
    pending_ = false;
    immediate_ = result;
    SetEvent(event_.Get());
}

bool MessagePipeInstance::WaitForEnd(DWORD timeout_ms) {
    if (WaitForSingleObject(event_.Get(), timeout_ms) == WAIT_OBJECT_0)
        return true;
    Cancel();
    return false;
}

bool MessagePipeInstance::WaitForClient(DWORD timeout_ms) {
    StartConnect();
    return WaitForEnd(timeout_ms) && Finish().error == ERROR_SUCCESS;
}

std::optional<std::vector<std::uint8_t>> MessagePipeInstance::Receive(DWORD timeout_ms) {
    StartRead();
    if (!WaitForEnd(timeout_ms))
        return std::nullopt;
    const Result result = Finish();
    if (result.error != ERROR_SUCCESS)
        return std::nullopt;
    return std::vector<std::uint8_t>(buffer_.begin(), buffer_.begin() + result.bytes);
}

}  // namespace korv::win32
