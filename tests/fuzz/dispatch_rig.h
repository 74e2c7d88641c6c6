#pragma once
// The report decoder and the handler of its events over faked ports, for the fuzz targets of
// input reports, with a small model of what each report must cause: a 7-byte key report whose
// 24-bit mask has one bit set posts that button's event to the monitor, a 7-byte device event
// posts a profile event (kind 1, slot 0 to 4) to the monitor or a notice (kinds 2 and 6) to the
// configuration program, anything else nothing. The events are then handled as the message
// loop does: a button with the mute function toggles the microphone, a profile event writes
// ProfileID and tells the configuration program.

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "app/report_dispatch.h"
#include "app/settings_file.h"
#include "base/key_path_text.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/fake_window_system.h"
#include "profile/function_codes.h"
#include "tests/fuzz/fuzz_support.h"

namespace korv::fuzz {

inline constexpr WindowRef kMonitorWindow = 0x100;
inline constexpr WindowRef kConfigWindow = 0x200;

// The data module the dispatcher reads the active profile from: built once per process.
inline TDM& SharedDataModule() {
    static fake::FakeDataModulePorts ports;
    static const std::unique_ptr<TDM> dm = LoadDataModule(ports.Ports());
    return *dm;
}

// What one input sets up around the dispatcher (the first bytes of an input).
struct DispatchSetup {
    bool config_window = false;      // the configuration program runs
    bool config_answers = false;     // and answers what is sent to it
    bool registry_folder = false;    // the registry folder of the profile data exists
    std::uint16_t mute_buttons = 0;  // bit n: button n has the microphone-mute function

    static DispatchSetup Read(InputReader& input) {
        const std::uint8_t flags = input.Byte();
        return {(flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0, input.Uint16()};
    }
    void Write(InputWriter& output) const {
        output
            .Byte(static_cast<std::uint8_t>(config_window | config_answers << 1 |
                                            registry_folder << 2))
            .Uint16(mute_buttons);
    }
};

class DispatchRig {
  public:
    explicit DispatchRig(const DispatchSetup& setup) : setup_(setup), dm_(SharedDataModule()) {
        if (setup.config_window)
            windows_.windows[std::u16string(kConfigWindowClass)] = kConfigWindow;
        windows_.answers = setup.config_answers;
        if (setup.registry_folder)
            registry_.CreateKey(StoreScope::User, KeyPathFromText(Folder()));
        auto& buttons = dm_.FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo;
        for (std::size_t n = 0; n < std::size(buttons); ++n) {
            const bool mute = (setup.mute_buttons >> n & 1) != 0;
            buttons[n].FunctionCode =
                mute ? kFunctionCodeMicrophoneMute : static_cast<std::uint16_t>(n);
        }
    }

    // One report as the HID component delivers it.
    void Deliver(std::uint8_t report_id, std::span<const std::uint8_t> data) {
        const std::size_t before = expected_.size();
        ExpectPosts(report_id, data);
        dispatcher_.uiHIDData1Data(u"HID\\ID", u"\\\\?\\hid#path", report_id, data,
                                   static_cast<std::uint16_t>(data.size()));
        // A report posts one message at most: only the newest can differ.
        FUZZ_CHECK(windows_.messages.size() == expected_.size());
        if (expected_.size() > before)
            FUZZ_CHECK(windows_.messages.back() == expected_.back());
    }

    // Handles the events posted to the monitor, in order, as its message loop does, and checks
    // what they did.
    void HandlePostedEvents() {
        const std::vector<fake::WindowMessage> posted = std::exchange(windows_.messages, {});
        expected_.clear();
        int toggles = 0;
        std::optional<std::uint32_t> profile_id;
        std::vector<fake::WindowMessage> sent;
        for (const fake::WindowMessage& m : posted) {
            if (m.window != kMonitorWindow)
                continue;
            FUZZ_CHECK(m.message == UM_MONITOR_EVENT);
            dispatcher_.WMMonitorEvent(m.wparam, m.lparam);
            if (m.wparam < 12 && (setup_.mute_buttons >> m.wparam & 1) != 0)
                ++toggles;
            if (m.wparam >= 21) {
                const std::uintptr_t slot = m.wparam - 21;
                profile_id = slot == 0 ? 0 : 1;
                if (setup_.config_window)
                    sent.push_back({kConfigWindow, UM_PROFILE_SWITCHED, slot, 0, true});
            }
        }
        FUZZ_CHECK(microphone_.toggles == toggles);
        FUZZ_CHECK(windows_.messages == sent);
        const StoredValue* stored =
            registry_.Find(StoreScope::User, KeyPathFromText(Folder()), u"ProfileID");
        if (!profile_id || !setup_.registry_folder) {
            FUZZ_CHECK(stored == nullptr);
        } else {
            const std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(*profile_id), 0, 0, 0};
            FUZZ_CHECK(stored != nullptr && stored->kind == StoredValueKind::Integer32 &&
                       stored->data == bytes);
        }
    }

  private:
    const std::u16string& Folder() const { return dm_.FOptionsFromConfigFile.ProfileRegFolder; }

    void ExpectPosts(std::uint8_t report_id, std::span<const std::uint8_t> data) {
        if (data.size() != 7)
            return;
        if (report_id == kKeyReportId) {
            const std::uint32_t mask = data[0] | data[1] << 8 | data[2] << 16;
            if (std::has_single_bit(mask))
                expected_.push_back({kMonitorWindow, UM_MONITOR_EVENT,
                                     static_cast<std::uintptr_t>(std::countr_zero(mask)), 1,
                                     false});
        } else if (report_id == kDeviceEventReportId) {
            const std::uint8_t kind = data[0];
            const std::uint8_t value = data[1];
            if ((kind == 2 || kind == 6) && setup_.config_window)
                expected_.push_back({kConfigWindow,
                                     kind == 2 ? UM_DEVICE_NOTIFY_2 : UM_DEVICE_NOTIFY_6, value, 0,
                                     false});
            if (kind == 1 && value <= 4)
                expected_.push_back(
                    {kMonitorWindow, UM_MONITOR_EVENT, std::uintptr_t{21} + value, 0, false});
        }
    }

    DispatchSetup setup_;
    TDM& dm_;
    fake::FakeWindowSystem windows_;
    fake::MemoryKeyedStore registry_;
    fake::FakeMicrophone microphone_;
    fake::RecordingDebugOutput debug_;
    ReportDispatcher dispatcher_{{windows_, registry_, microphone_, debug_}, dm_, kMonitorWindow};
    std::vector<fake::WindowMessage> expected_;
};

}  // namespace korv::fuzz
