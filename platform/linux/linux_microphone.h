#pragma once
// The microphone mute switch on Linux: the default source of the sound server through libpulse
// (PulseAudio, or PipeWire's PulseAudio server).
//
// libpulse is loaded at the first connection (PulseLibrary), which runs from the main loop after
// Prepare returns: the program's start does not wait for the library. Without the library the
// microphone behaves as with no sound server, and a press tries to load it again.
//
// libpulse runs inside the program's epoll loop (PulseMainLoop), not on a thread of its own:
// every libpulse callback arrives on the main thread, so the state below needs no lock, and an
// idle connection wakes nobody up.
//
// A press reads the mute state of the server's default source of that moment and sets its
// inverse (two round trips, a fraction of a millisecond against a local server). Beside it the
// object follows the server's events: the default source and its mute state as anyone changes
// them, for Muted() and the mute listener. A server that goes away is connected again on a timer
// that backs off up to a few seconds, so a missing server costs a wake-up every few seconds.
//
// Threads: the thread of the LinuxMainLoop (the main thread), for everything.

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/linux/pulse_library.h"
#include "platform/linux/pulse_main_loop.h"
#include "ports/main_loop.h"
#include "ports/microphone.h"

namespace korv {
class DebugOutput;
}

namespace korv::os_linux {

class LinuxMainLoop;

class LinuxMicrophone final : public Microphone {
  public:
    // `application_name` names the program as the sound server lists its clients. `server` is a
    // libpulse server string ("unix:/run/user/1000/pulse/native"); empty for the default that
    // libpulse finds itself (PULSE_SERVER, the runtime folder). `loop` and `debug` must outlive
    // the object. `library_file` is the libpulse that dlopen loads.
    LinuxMicrophone(LinuxMainLoop& loop, const DebugOutput& debug, std::string application_name,
                    std::string server = {}, std::string library_file = kPulseLibraryFile);
    ~LinuxMicrophone() override;
    LinuxMicrophone(const LinuxMicrophone&) = delete;
    LinuxMicrophone& operator=(const LinuxMicrophone&) = delete;

    // Connects to the sound server, from the main loop once this returns, unless connected or
    // connecting; the first press then finds the connection ready. Later losses are reconnected
    // by themselves.
    void Prepare() override;
    // Reads the default source's mute state and sets the inverse; traces the outcome. Without a
    // connection or a default source nothing changes and one trace line says why.
    void ToggleMute() override;
    // The default source's mute state as last reported by the server; nothing without a
    // connection or without a default source.
    [[nodiscard]] std::optional<bool> Muted() override;

    // Called on the main thread whenever Muted() changes, whoever changed it (this program, the
    // desktop's mixer, pactl, a change of default source, a lost connection).
    void SetMuteListener(std::function<void(std::optional<bool>)> listener);
    // Called on the main thread with the trace line's reason whenever a press changes nothing:
    // what the user must be told, since the microphone did not do what they asked.
    void SetFailureListener(std::function<void(std::u16string_view)> listener) {
        failure_listener_ = std::move(listener);
    }

    // Whether the connection to the server is ready now.
    [[nodiscard]] bool Connected() const;

    // The longest wait between two attempts to reach a server that is not there.
    static constexpr std::chrono::milliseconds kLongestRetryDelay{2000};

  private:
    struct ContextDeleter {
        const PulseFunctions* pulse;  // null in the empty pointer, which never calls it
        void operator()(pa_context* context) const;
    };
    using ContextPtr = std::unique_ptr<pa_context, ContextDeleter>;

    // What a press has asked the server and not yet heard back, in the order of its requests.
    struct PendingToggle {
        std::string source_name;
        bool muted;  // the state the set asks for
    };

    // What the server says of its default source.
    struct DefaultSource {
        std::string name;
        std::optional<std::uint32_t> index;
        std::optional<bool> muted;
    };

    void Connect();
    // Loads libpulse unless loaded; false (traced once) when it cannot be.
    [[nodiscard]] bool LoadLibrary();
    [[nodiscard]] const PulseFunctions& Pulse() const { return library_->Functions(); }
    // Whether libpulse sent the request; the operation's reference is dropped.
    [[nodiscard]] bool Sent(pa_operation* operation) const;
    void ScheduleReconnect();
    void OnStateChanged();
    void OnReady();
    void OnConnectionLost();
    void RefreshDefaultSource();
    void SetMutedState(std::optional<bool> muted);
    void PressFailed(std::u16string_view reason);
    void OnServerEvent(pa_subscription_event_type_t type, std::uint32_t index);

    static void ContextStateCallback(pa_context* context, void* self);
    static void SubscribeCallback(pa_context* context, pa_subscription_event_type_t type,
                                  std::uint32_t index, void* self);
    static void ServerInfoCallback(pa_context* context, const pa_server_info* info, void* self);
    static void DefaultSourceCallback(pa_context* context, const pa_source_info* info, int eol,
                                      void* self);
    static void ToggleReadCallback(pa_context* context, const pa_source_info* info, int eol,
                                   void* self);
    static void ToggleSetCallback(pa_context* context, int success, void* self);

    const DebugOutput& debug_;
    std::string application_name_;
    std::string server_;
    std::string library_file_;
    // Declared before the loop and the context: their events' callbacks are the library's.
    std::unique_ptr<PulseLibrary> library_;
    bool library_failure_traced_ = false;
    PulseMainLoop pulse_loop_;
    ContextPtr context_;
    std::unique_ptr<OneShotTimer> reconnect_timer_;
    std::chrono::milliseconds retry_delay_;
    bool connection_traced_lost_ = false;
    DefaultSource default_source_;
    std::deque<PendingToggle> pending_toggles_;
    std::function<void(std::optional<bool>)> listener_;
    std::function<void(std::u16string_view)> failure_listener_;
};

}  // namespace korv::os_linux
