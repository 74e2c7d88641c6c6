#pragma once
// The configuration program as a peer on Windows: its top-level window, found by class each
// time, receives posted notices and the sent profile switch; it is started from the
// executable's folder through the shell.

#include "ports/config_peer.h"
#include "ports/debug_output.h"
#include "ports/file_system.h"
#include "ports/shell.h"

namespace korv::win32 {

class Win32ConfigPeer : public ConfigPeer {
  public:
    Win32ConfigPeer(const Shell& shell, const FileSystem& files, const DebugOutput& debug)
        : shell_(shell), files_(files), debug_(debug) {}

    [[nodiscard]] PeerDelivery NotifyMonitorExit() override;
    [[nodiscard]] PeerDelivery NotifyDeviceEvent(PeerDeviceEvent event,
                                                 std::uint8_t value) override;
    [[nodiscard]] PeerDelivery AskProfileSwitched(std::uint8_t slot) override;
    [[nodiscard]] bool Show() override;
    [[nodiscard]] bool Start() override;
    [[nodiscard]] std::u16string_view ProgramName() const override;

  private:
    [[nodiscard]] PeerDelivery Post(std::uint32_t message, std::uintptr_t wparam) const;

    const Shell& shell_;
    const FileSystem& files_;
    const DebugOutput& debug_;
};

}  // namespace korv::win32
