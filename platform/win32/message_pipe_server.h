#pragma once
// The server end of a message-mode named pipe, as the programs that serve a simulated HID
// interface (the simulated mouse, the HID bench, the Windows tests) and the simulated mouse's
// control pipe use it: one instance with at most one overlapped connect or read at a time, an
// event that is signalled when that operation has ended, and writes bounded in time. A server
// that serves several clients keeps one instance per client and one more that listens.
//
// Threads: one thread per instance.

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"

namespace korv::win32 {

inline constexpr DWORD kMessagePipeBufferBytes = 64 * 1024;

class MessagePipeInstance {
  public:
    struct Result {
        DWORD error = ERROR_SUCCESS;  // ERROR_MORE_DATA: a message longer than the read buffer
        DWORD bytes = 0;
    };
    struct Created {
        std::unique_ptr<MessagePipeInstance> instance;
        DWORD error = ERROR_SUCCESS;
    };

    // A new instance of the pipe at `path` ("\\.\pipe\NAME"), overlapped and in message mode.
    // `open_flags`: FILE_FLAG_FIRST_PIPE_INSTANCE or 0.
    [[nodiscard]] static Created Create(const std::wstring& path, DWORD max_instances,
                                        DWORD open_flags = 0,
                                        DWORD buffer_bytes = kMessagePipeBufferBytes);

    MessagePipeInstance(const MessagePipeInstance&) = delete;
    MessagePipeInstance& operator=(const MessagePipeInstance&) = delete;
    // Cancels an operation still running and waits for it, so that the system never writes
    // into freed memory; closing the instance breaks the pipe for its client.
    ~MessagePipeInstance();

    // Signalled when the connect or read started last has ended.
    [[nodiscard]] HANDLE Event() const { return event_.Get(); }

    // Waits for a client; a client that came before the call counts as connected at once.
    void StartConnect();
    // Reads the next message the client writes.
    void StartRead();
    // How the operation whose end was signalled went; call once per operation.
    [[nodiscard]] Result Finish();
    // Ends the running operation, if any, and waits until it has ended.
    void Cancel();
    // The bytes of the last read, as many as its Result says.
    [[nodiscard]] const std::uint8_t* Received() const { return buffer_.data(); }

    // One message to the client; waits for room while the client reads, at most `timeout_ms`.
    [[nodiscard]] DWORD Write(std::span<const std::uint8_t> message,
                              DWORD timeout_ms = kWriteTimeoutMs);
    void Disconnect();
    // Whether the client has closed its end (its pipe can no longer be peeked).
    [[nodiscard]] bool ClientClosed() const;

    // For a test or bench on one thread: waits for a client, at most `timeout_ms`.
    [[nodiscard]] bool WaitForClient(DWORD timeout_ms);
    // For a test or bench on one thread: the next message, or nothing when none came in time or
    // the read failed.
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> Receive(DWORD timeout_ms);

    static constexpr DWORD kWriteTimeoutMs = 2000;
    static constexpr std::size_t kReadBufferBytes = 16 * 1024;

  private:
    MessagePipeInstance(UniqueHandle pipe, UniqueHandle event)
        : pipe_(std::move(pipe)), event_(std::move(event)) {}
    void Ended(Result result);
    [[nodiscard]] bool WaitForEnd(DWORD timeout_ms);

    UniqueHandle pipe_;
    UniqueHandle event_;
    OVERLAPPED overlapped_{};
    bool pending_ = false;
    Result immediate_;
    std::array<std::uint8_t, kReadBufferBytes> buffer_{};
};

}  // namespace korv::win32
