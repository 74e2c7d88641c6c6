#pragma once
// A configuration program that records what the monitor tells it, for the core's tests.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ports/config_peer.h"

namespace korv::fake {

struct PeerCall {
    enum class Kind : std::uint8_t { MonitorExit, DeviceEvent2, DeviceEvent6, ProfileSwitched };
    Kind kind;
    std::uint8_t value = 0;  // the event's value or the profile slot
    bool operator==(const PeerCall&) const = default;
};

class FakeConfigPeer : public ConfigPeer {
  public:
    [[nodiscard]] PeerDelivery NotifyMonitorExit() override {
        return Record({PeerCall::Kind::MonitorExit});
    }
    [[nodiscard]] PeerDelivery NotifyDeviceEvent(PeerDeviceEvent event,
                                                 std::uint8_t value) override {
        return Record({event == PeerDeviceEvent::Kind2 ? PeerCall::Kind::DeviceEvent2
                                                       : PeerCall::Kind::DeviceEvent6,
                       value});
    }
    [[nodiscard]] PeerDelivery AskProfileSwitched(std::uint8_t slot) override {
        const PeerDelivery delivery = Record({PeerCall::Kind::ProfileSwitched, slot});
        if (on_ask)
            on_ask();
        return delivery == PeerDelivery::Delivered && !answers ? PeerDelivery::Failed : delivery;
    }
    [[nodiscard]] bool Show() override {
        if (running)
            ++shown;
        return running;
    }
    [[nodiscard]] bool Start() override {
        ++started;
        return startable;
    }
    [[nodiscard]] std::u16string_view ProgramName() const override { return u"KORVANTH417.EXE"; }

    bool running = true;           // false: every call finds no peer
    bool answers = true;           // false: a profile switch is not answered in time
    bool startable = true;         // false: Start fails
    std::function<void()> on_ask;  // runs inside each profile-switch question
    std::vector<PeerCall> calls;   // what reached a running peer, in order
    int shown = 0;
    int started = 0;

  private:
    PeerDelivery Record(PeerCall call) {
        if (!running)
            return PeerDelivery::NoPeer;
        calls.push_back(call);
        return PeerDelivery::Delivered;
    }
};

}  // namespace korv::fake
