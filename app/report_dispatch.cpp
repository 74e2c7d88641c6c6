#include "app/report_dispatch.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/decimal_text.h"
#include "base/key_path_text.h"
#include "ports/debug_output.h"
#include "ports/keyed_store.h"
#include "ports/microphone.h"
#include "profile/dm_unit.h"

namespace korv {
namespace {

constexpr std::uint8_t kEventProfileSwitch = 1;
constexpr std::uint8_t kEventNotify2 = 2;
constexpr std::uint8_t kEventNotify6 = 6;

}  // namespace

ReportDispatcher::ReportDispatcher(const Ports& ports, TDM& data_module)
    : ports_(ports), dm_(data_module), self_(std::make_shared<ReportDispatcher*>(this)) {}

ReportDispatcher::~ReportDispatcher() {
    *self_ = nullptr;
}

bool ReportDispatcher::Defer(void (*action)(ReportDispatcher&, std::uintptr_t),
                             std::uintptr_t argument) {
    return ports_.main_loop.PostTask([self = self_, action, argument] {
        if (*self != nullptr)
            action(**self, argument);
    });
}

// Only 7-byte reports are decoded; anything else, longer reports included, is ignored.
void ReportDispatcher::uiHIDData1Data(std::u16string_view, std::u16string_view,
                                      std::uint8_t ReportID, std::span<const std::uint8_t> Data,
                                      std::uint16_t Size) {
    owner_.Check();
    if (Size != kDecodedReportSize || Data.size() < kDecodedReportSize)
        return;
    const auto data = Data.first(kDecodedReportSize);
    if (ReportID == kKeyReportId) {
        DecodeKeyReport(data);
    } else if (ReportID == kDeviceEventReportId) {
        DecodeDeviceEvent(data);
    }
}

// A key event is a mask with exactly one of the 24 button bits set: the row that equals it.
void ReportDispatcher::DecodeKeyReport(std::span<const std::uint8_t> data) {
    for (std::size_t j = 0; j < KeyReportTable.size(); ++j) {
        if (std::equal(KeyReportTable[j].begin() + 1, KeyReportTable[j].end(), data.begin())) {
            ports_.debug.Trace(u"KeyIndex = " + DecimalText(static_cast<std::int64_t>(j)) +
                               u" postmessage record!");
            MonitorEvent(j);
            return;
        }
    }
}

void ReportDispatcher::DecodeDeviceEvent(std::span<const std::uint8_t> data) {
    const std::uint8_t kind = data[0];
    const std::uint8_t value = data[1];
    if (kind == kEventNotify2 || kind == kEventNotify6) {
        // The peer's backend traces a notice it could not queue; no peer is no one to tell.
        static_cast<void>(ports_.peer.NotifyDeviceEvent(
            kind == kEventNotify2 ? PeerDeviceEvent::Kind2 : PeerDeviceEvent::Kind6, value));
    } else if (kind == kEventProfileSwitch && value <= 4) {
        MonitorEvent(kFirstProfileEvent + value);
    }
}

bool ReportDispatcher::IsProfileEvent(std::uintptr_t event) {
    return event >= kFirstProfileEvent && event <= kFirstProfileEvent + 4;
}

void ReportDispatcher::MonitorEvent(std::uintptr_t event) {
    if (IsProfileEvent(event)) {
        DeferProfileSwitch(static_cast<std::uint8_t>(event - kFirstProfileEvent));
        return;
    }
    const bool deferred = Defer(
        [](ReportDispatcher& self, std::uintptr_t key) { self.WMMonitorEvent(key, 1); }, event);
    if (!deferred)
        ports_.debug.Trace(u"KeyIndex = " + DecimalText(static_cast<std::int64_t>(event)) +
                           u" is lost: the main loop takes no more work");
}

void ReportDispatcher::ReceiveMonitorEvent(std::uintptr_t wParam, std::intptr_t lParam) {
    owner_.Check();
    if (IsProfileEvent(wParam))
        MonitorEvent(wParam);
    else
        WMMonitorEvent(wParam, lParam);
}

// One task tells the peer of the latest slot; switches that arrive before it runs replace the
// slot instead of queueing a task each.
void ReportDispatcher::DeferProfileSwitch(std::uint8_t slot) {
    const bool task_queued = pending_profile_slot_.has_value();
    pending_profile_slot_ = slot;
    if (task_queued)
        return;
    const bool deferred =
        Defer([](ReportDispatcher& self, std::uintptr_t) { self.TellPendingProfileSwitch(); }, 0);
    if (!deferred) {
        pending_profile_slot_.reset();
        ports_.debug.Trace(u"Profile switch to slot " + DecimalText(slot) +
                           u" is lost: the main loop takes no more work");
    }
}

void ReportDispatcher::TellPendingProfileSwitch() {
    const std::optional<std::uint8_t> slot = std::exchange(pending_profile_slot_, std::nullopt);
    if (slot)
        WMMonitorEvent(kFirstProfileEvent + *slot, 0);
}

// 0..11 are buttons of the active profile; 21..25 are profile slots 0..4 (key indexes 21..23
// arrive as those profile events); 12..20 and above 25 mean nothing and are ignored.
void ReportDispatcher::WMMonitorEvent(std::uintptr_t wParam, std::intptr_t lParam) {
    owner_.Check();
    if (wParam < std::size(dm_.FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo)) {
        const std::uint16_t code =
            dm_.FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[wParam].FunctionCode;
        DoKeyFunction(static_cast<std::uint8_t>(wParam), code, static_cast<std::uint8_t>(lParam));
    } else if (IsProfileEvent(wParam)) {
        ProfileSwitched(wParam - kFirstProfileEvent);
    }
}

// The monitor performs only the microphone mute; a button with any other function is the
// mouse's own business, and the trace says so with the button counted from 0, as the simulated
// mouse and the configuration program's stand-in count them.
void ReportDispatcher::DoKeyFunction(std::uint8_t key_index, std::uint16_t function_code,
                                     std::uint8_t) {
    owner_.Check();
    if (function_code != kFunctionCodeMicrophoneMute) {
        ports_.debug.Trace(u"button " + DecimalText(key_index) + u" has no action (function " +
                           DecimalText(function_code) + u")");
        return;
    }
    ports_.microphone.ToggleMute();
    if (OnMicrophoneToggled)
        OnMicrophoneToggled();
}

// The registry value is 0 for slot 0 and 1 for every other slot; the message carries the slot.
void ReportDispatcher::ProfileSwitched(std::uintptr_t slot) {
    static_cast<void>(WriteProfileID(slot == 0 ? 0 : 1));  // a failure is traced
    if (ports_.peer.AskProfileSwitched(static_cast<std::uint8_t>(slot)) == PeerDelivery::Failed)
        ports_.debug.Trace(kPeerNoAnswerTrace);
}

bool ReportDispatcher::WriteProfileID(std::int32_t value) {
    const bool written = ports_.registry.WriteInteger32Value(
        StoreScope::User, KeyPathFromText(dm_.FOptionsFromConfigFile.ProfileRegFolder),
        u"ProfileID", static_cast<std::uint32_t>(value));
    if (!written)
        ports_.debug.Trace(u"ProfileID " + DecimalText(value) + u" cannot be written: the folder " +
                           dm_.FOptionsFromConfigFile.ProfileRegFolder + u" does not exist");
    return written;
}

}  // namespace korv
