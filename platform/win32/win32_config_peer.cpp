#include "platform/win32/win32_config_peer.h"

#include <windows.h>

#include "base/decimal_text.h"
#include "platform/win32/peer_messages.h"
#include "platform/win32/wide_string.h"

namespace korv::win32 {
namespace {

HWND FindPeer() {
    return FindWindowW(ToWide(kConfigWindowClass).c_str(), nullptr);
}

}  // namespace

// A post fails when the window went away meanwhile or its queue is full: the notice is lost,
// and the trace says so.
PeerDelivery Win32ConfigPeer::Post(std::uint32_t message, std::uintptr_t wparam) const {
    const HWND peer = FindPeer();
    if (peer == nullptr)
        return PeerDelivery::NoPeer;
    if (PostMessageW(peer, message, wparam, 0))
        return PeerDelivery::Delivered;
    debug_.Trace(u"Message " + DecimalText(message) + u" could not be posted");
    return PeerDelivery::Failed;
}

PeerDelivery Win32ConfigPeer::NotifyMonitorExit() {
    return Post(UM_MONITOR_EXIT, 0);
}

PeerDelivery Win32ConfigPeer::NotifyDeviceEvent(PeerDeviceEvent event, std::uint8_t value) {
    return Post(event == PeerDeviceEvent::Kind2 ? UM_DEVICE_NOTIFY_2 : UM_DEVICE_NOTIFY_6, value);
}

// SMTO_ABORTIFHUNG returns at once for a receiver the system sees as hung; the time-out bounds
// the wait for one that is merely slow. Meanwhile this thread still handles messages sent to it.
PeerDelivery Win32ConfigPeer::AskProfileSwitched(std::uint8_t slot) {
    const HWND peer = FindPeer();
    if (peer == nullptr)
        return PeerDelivery::NoPeer;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(peer, UM_PROFILE_SWITCHED, slot, 0, SMTO_ABORTIFHUNG,
                               static_cast<UINT>(kPeerAnswerTimeout.count()), &result) != 0
               ? PeerDelivery::Delivered
               : PeerDelivery::Failed;
}

// SW_SHOW shows the window in its current state: a minimised window stays minimised.
bool Win32ConfigPeer::Show() {
    const HWND peer = FindPeer();
    if (peer == nullptr)
        return false;
    ShowWindow(peer, SW_SHOW);
    SetForegroundWindow(peer);
    return true;
}

bool Win32ConfigPeer::Start() {
    return shell_.OpenFile(kConfigProgramFile, files_.ExecutableFolder());
}

std::u16string_view Win32ConfigPeer::ProgramName() const {
    return kConfigProgramFile;
}

}  // namespace korv::win32
