#pragma once
// Decoding of the mouse's input reports and the actions they stand for. The decoder runs for
// each report on the main thread and only posts: a key event or a profile event goes to the
// monitor's own window as UM_MONITOR_EVENT, other device events straight to the configuration
// program. The handler of UM_MONITOR_EVENT then acts from the message loop: the microphone mute
// for a button whose function is 28, the ProfileID value and UM_PROFILE_SWITCHED for a profile
// switch.
//
// Threads: the dispatcher belongs to the thread that creates it (the main thread, where the
// reports are delivered); debug builds stop at a call from another thread.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "base/thread_affinity.h"
#include "ports/window_system.h"
#include "profile/function_codes.h"

namespace korv {

class DebugOutput;
class KeyedStore;
class Microphone;
class TDM;

inline constexpr std::uint8_t kKeyReportId = 7;
inline constexpr std::uint8_t kDeviceEventReportId = 8;
inline constexpr std::uint16_t kDecodedReportSize = 7;

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
        const WindowSystem& windows;
        KeyedStore& registry;
        Microphone& microphone;
        const DebugOutput& debug;
    };

    ReportDispatcher(const Ports& ports, TDM& data_module, WindowRef monitor_window)
        : ports_(ports), dm_(data_module), monitor_window_(monitor_window) {}

    // One report as the HID component delivers it: the identifier, then Size data bytes.
    void uiHIDData1Data(std::u16string_view ADeviceID, std::u16string_view ADevicePath,
                        std::uint8_t ReportID, std::span<const std::uint8_t> Data,
                        std::uint16_t Size);

    // Handler of UM_MONITOR_EVENT.
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
    void ProfileSwitched(std::uintptr_t slot);
    void PostOrTrace(WindowRef window, std::uint32_t message, std::uintptr_t wparam,
                     std::intptr_t lparam);

    Ports ports_;
    TDM& dm_;
    WindowRef monitor_window_;
    ThreadAffinity owner_;
};

}  // namespace korv
