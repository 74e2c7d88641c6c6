#pragma once
// Decoding of the mouse's input reports and the actions they stand for. The decoder runs for
// each report on the main thread and acts on none of them itself: a key event or a profile
// event is handed to the main loop as a task, other device events go to the configuration
// program as notices. The monitor event handler then acts from the main loop: the microphone
// mute for a button whose function is 28, the ProfileID value and the peer's profile-switch
// question for a profile switch. Profile switches that arrive while one is still to be told are
// folded into the latest: a slow peer is asked once per batch, not once per report, and neither
// the mute button nor the end of the program waits behind a queue of them.
//
// Threads: the dispatcher belongs to the thread that creates it (the main thread, where the
// reports are delivered); debug builds stop at a call from another thread.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "base/thread_affinity.h"
#include "ports/config_peer.h"
#include "ports/main_loop.h"
#include "profile/function_codes.h"

namespace korv {

class DebugOutput;
class KeyedStore;
class Microphone;
class TDM;

inline constexpr std::uint8_t kKeyReportId = 7;
inline constexpr std::uint8_t kDeviceEventReportId = 8;
inline constexpr std::uint16_t kDecodedReportSize = 7;
// The monitor event of profile slot 0; slots 1..4 follow.
inline constexpr std::uintptr_t kFirstProfileEvent = 21;

// Row j: report identifier 7 and the 24-bit little-endian mask with only bit j set.
inline constexpr std::array<std::array<std::uint8_t, 4>, 24> KeyReportTable = [] {
    std::array<std::array<std::uint8_t, 4>, 24> table{};
    for (std::size_t j = 0; j < table.size(); ++j) {
        const std::uint32_t mask = 1u << j;
        table[j] = {kKeyReportId, static_cast<std::uint8_t>(mask),
                    static_cast<std::uint8_t>(mask >> 8), static_cast<std::uint8_t>(mask >> 16)};
    }
    return table;
}();

class ReportDispatcher {
  public:
    struct Ports {
        ConfigPeer& peer;
        MainLoop& main_loop;
        KeyedStore& registry;
        Microphone& microphone;
        const DebugOutput& debug;
    };

    ReportDispatcher(const Ports& ports, TDM& data_module);
    // Tasks still queued on the main loop find the dispatcher gone and do nothing.
    ~ReportDispatcher();
    ReportDispatcher(const ReportDispatcher&) = delete;
    ReportDispatcher& operator=(const ReportDispatcher&) = delete;

    // One report as the HID component delivers it: the identifier, then Size data bytes.
    void uiHIDData1Data(std::u16string_view ADeviceID, std::u16string_view ADevicePath,
                        std::uint8_t ReportID, std::span<const std::uint8_t> Data,
                        std::uint16_t Size);

    // A monitor event that another program sends the monitor (as its window's message 7524 on
    // Windows): a profile switch is folded like the mouse's, any other event is handled at once.
    void ReceiveMonitorEvent(std::uintptr_t wParam, std::intptr_t lParam);

    // The monitor event handler: wParam 0..11 is a button of the active profile (lParam 1),
    // kFirstProfileEvent + slot a profile switch to slot 0..4; anything else is ignored.
    void WMMonitorEvent(std::uintptr_t wParam, std::intptr_t lParam);

    void DoKeyFunction(std::uint8_t key_index, std::uint16_t function_code, std::uint8_t state);

    // Raised after each microphone-mute toggle.
    std::function<void()> OnMicrophoneToggled;

    // Writes ProfileID into the existing registry folder; never creates it.
    // false (and a trace line) when it could not be written.
    [[nodiscard]] bool WriteProfileID(std::int32_t value);

  private:
    void DecodeKeyReport(std::span<const std::uint8_t> data);
    void DecodeDeviceEvent(std::span<const std::uint8_t> data);
    // A decoded event, left to the main loop: a key event becomes a task, a profile switch
    // (kFirstProfileEvent + slot, also from key indexes 21..23) is folded into the one still to
    // be told.
    void MonitorEvent(std::uintptr_t event);
    [[nodiscard]] static bool IsProfileEvent(std::uintptr_t event);
    void DeferProfileSwitch(std::uint8_t slot);
    void TellPendingProfileSwitch();
    void ProfileSwitched(std::uintptr_t slot);
    // Runs `action` on the dispatcher from the main loop, unless it is gone by then. False when
    // the main loop took no task.
    [[nodiscard]] bool Defer(void (*action)(ReportDispatcher&, std::uintptr_t),
                             std::uintptr_t argument);

    Ports ports_;
    TDM& dm_;
    ThreadAffinity owner_;
    // The profile slot still to be told, when a task to tell it is queued.
    std::optional<std::uint8_t> pending_profile_slot_;
    // Shared with the queued tasks; cleared when the dispatcher goes.
    std::shared_ptr<ReportDispatcher*> self_;
};

}  // namespace korv
