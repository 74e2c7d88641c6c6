#pragma once
// Port: the configuration program as the monitor's peer. The monitor tells it of events without
// waiting (notices), tells it of a profile switch without waiting longer than a bounded time,
// shows it, or starts it. Each call finds out for itself whether the peer runs, so there is no
// gap between a check and the call. What the peer asks of the monitor (reload the profiles,
// reload the settings) reaches the monitor's handlers through the program's own wiring.
//
// Threads: the main thread.

#include <chrono>
#include <cstdint>
#include <string_view>

namespace korv {

// The longest the monitor waits for the peer to take note of a profile switch.
inline constexpr std::chrono::milliseconds kPeerAnswerTimeout{1000};

// The trace line of a profile switch the peer did not take note of in time, or refused.
inline constexpr std::u16string_view kPeerNoAnswerTrace =
    u"The configuration program did not answer UM_PROFILE_SWITCHED";

// The mouse's device events that the peer is told about, by their kind in the report.
enum class PeerDeviceEvent : std::uint8_t { Kind2 = 2, Kind6 = 6 };

enum class PeerDelivery : std::uint8_t {
    Delivered,  // a notice was queued for the peer; a question was answered or is on its way
    NoPeer,     // the peer does not run
    Failed,     // it runs, but a notice could not be queued or a question was not answered in time
};

class ConfigPeer {
  public:
    virtual ~ConfigPeer() = default;

    // Notices: queued for the peer, the call returns at once.
    [[nodiscard]] virtual PeerDelivery NotifyMonitorExit() = 0;
    [[nodiscard]] virtual PeerDelivery NotifyDeviceEvent(PeerDeviceEvent event,
                                                         std::uint8_t value) = 0;

    // Tells the peer that the mouse switched to profile slot `slot` (0..4). The monitor waits
    // at most kPeerAnswerTimeout for it to take note, and not at all for a peer that hangs. A
    // backend that must wait for the answer returns Failed when none came in time; a backend
    // that can hand the question over without waiting returns Delivered once it is on its way
    // and traces kPeerNoAnswerTrace itself for an answer that comes too late or refuses.
    [[nodiscard]] virtual PeerDelivery AskProfileSwitched(std::uint8_t slot) = 0;

    // Shows the peer's window as it was (a minimised window stays minimised) and brings it to
    // the foreground; false when no peer runs.
    [[nodiscard]] virtual bool Show() = 0;

    // Starts the peer program; false when it cannot be started.
    [[nodiscard]] virtual bool Start() = 0;

    // The peer program's name, for trace lines.
    [[nodiscard]] virtual std::u16string_view ProgramName() const = 0;
};

}  // namespace korv
