#pragma once
// The report decoder and the handler of its events over faked ports, for the fuzz targets of
// input reports, with a small model of what each report must cause: a 7-byte key report whose
// 24-bit mask has one bit set leaves that button's event to the main loop (key indexes 21..23
// are profile switches), a 7-byte device event a profile switch (kind 1, slot 0 to 4) or a
// notice to the configuration program at once (kinds 2 and 6), anything else nothing; switches
// before the main loop comes round fold into the latest. The main loop then runs the events: a
// button with the mute function toggles the microphone, a profile switch writes ProfileID and
// tells the configuration program.

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "app/report_dispatch.h"
#include "app/settings_file.h"
#include "base/key_path_text.h"
#include "platform/fake/fake_config_peer.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/fake/fake_main_loop.h"
#include "platform/fake/fake_system.h"
#include "profile/function_codes.h"
#include "tests/fuzz/fuzz_support.h"

namespace korv::fuzz {

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
        peer_.running = setup.config_window;
        peer_.answers = setup.config_answers;
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
        const std::size_t notices = peer_.calls.size();
        const bool notice = Expect(report_id, data);
        dispatcher_.uiHIDData1Data(u"HID\\ID", u"\\\\?\\hid#path", report_id, data,
                                   static_cast<std::uint16_t>(data.size()));
        // A report causes one notice at most, at once; everything else waits for the loop.
        FUZZ_CHECK(peer_.calls.size() == notices + (notice ? 1 : 0));
        FUZZ_CHECK(loop_.PendingTasks() == queued_.size());
    }

    // Runs the events left to the main loop, in order, and checks what they did.
    void HandlePostedEvents() {
        peer_.calls.clear();
        int toggles = 0;
        std::optional<std::uint32_t> profile_id;
        std::vector<fake::PeerCall> told;
        const auto profile_switch = [&](std::uint8_t slot) {
            profile_id = slot == 0 ? 0 : 1;
            told.push_back({fake::PeerCall::Kind::ProfileSwitched, slot});
        };
        for (const Queued& event : std::exchange(queued_, {})) {
            if (event.profile)
                profile_switch(*std::exchange(pending_slot_, std::nullopt));
            else if (event.key < 12 && (setup_.mute_buttons >> event.key & 1) != 0)
                ++toggles;
        }
        loop_.RunPending();
        FUZZ_CHECK(microphone_.toggles == toggles);
        FUZZ_CHECK(peer_.calls == (setup_.config_window ? told : decltype(told){}));
        const StoredValue* stored =
            registry_.Find(StoreScope::User, KeyPathFromText(Folder()), u"ProfileID");
        if (!profile_id || !setup_.registry_folder) {
            FUZZ_CHECK(stored == nullptr);
        } else {
            const std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(*profile_id), 0, 0, 0};
            FUZZ_CHECK(stored != nullptr && stored->kind == StoredValueKind::Integer32 &&
                       stored->data == bytes);
        }
        microphone_.toggles = 0;
    }

  private:
    // A task the decoder left to the main loop: a key event, or the one that tells the latest
    // profile switch.
    struct Queued {
        std::uintptr_t key = 0;
        bool profile = false;
    };

    const std::u16string& Folder() const { return dm_.FOptionsFromConfigFile.ProfileRegFolder; }

    // Queues what the report must leave to the main loop; true when it must tell the peer of a
    // device event at once.
    bool Expect(std::uint8_t report_id, std::span<const std::uint8_t> data) {
        if (data.size() != 7)
            return false;
        if (report_id == kKeyReportId) {
            const std::uint32_t mask = data[0] | data[1] << 8 | data[2] << 16;
            if (!std::has_single_bit(mask))
                return false;
            const auto key = static_cast<std::uintptr_t>(std::countr_zero(mask));
            if (key >= kFirstProfileEvent)
                QueueProfileSwitch(static_cast<std::uint8_t>(key - kFirstProfileEvent));
            else
                queued_.push_back({key});
        } else if (report_id == kDeviceEventReportId) {
            const std::uint8_t kind = data[0];
            const std::uint8_t value = data[1];
            if (kind == 1 && value <= 4)
                QueueProfileSwitch(value);
            return (kind == 2 || kind == 6) && setup_.config_window;
        }
        return false;
    }

    // Switches before the main loop comes round fold into one task that tells the latest.
    void QueueProfileSwitch(std::uint8_t slot) {
        if (!pending_slot_)
            queued_.push_back({0, true});
        pending_slot_ = slot;
    }

    DispatchSetup setup_;
    TDM& dm_;
    fake::FakeConfigPeer peer_;
    fake::FakeMainLoop loop_;
    fake::MemoryKeyedStore registry_;
    fake::FakeMicrophone microphone_;
    fake::RecordingDebugOutput debug_;
    ReportDispatcher dispatcher_{{peer_, loop_, registry_, microphone_, debug_}, dm_};
    std::vector<Queued> queued_;
    std::optional<std::uint8_t> pending_slot_;
};

}  // namespace korv::fuzz
