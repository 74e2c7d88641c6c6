#pragma once
// The configuration program as a peer on Linux: it owns its bus name (bus_names.h) while it
// runs. Notices go to the name's owner of the moment, asked of the bus each time (the bus
// answers, never the peer), with no reply expected. The profile switch is a call whose answer
// the loop receives: AskProfileSwitched returns once the call is on its way, and an answer that
// does not come within kPeerAnswerTimeout, or refuses, is traced when the time is up. While
// one call is on its way, further switches fold into one that waits for it: the peer is told
// the latest slot next. Destroying the peer drops both, and nothing is called back after it.
// Nothing starts the peer on the bus's behalf: a name without an owner is a peer that does not
// run. Start runs the program from the monitor's own folder, in a session of its own, and
// reaps it when it ends.
//
// Threads: the main loop's thread.

#include <sys/types.h>

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/linux_bus.h"
#include "ports/config_peer.h"
#include "ports/debug_output.h"

namespace korv::os_linux {

// The full path of `file` in the folder of the running executable; empty when the executable
// cannot be found.
[[nodiscard]] std::string ProgramBesideExecutable(std::string_view file);

class LinuxConfigPeer : public ConfigPeer {
  public:
    // `program`: the configuration program's full path, which Start runs.
    LinuxConfigPeer(LinuxBus& bus, std::string program, const DebugOutput& debug);
    ~LinuxConfigPeer() override;
    LinuxConfigPeer(const LinuxConfigPeer&) = delete;
    LinuxConfigPeer& operator=(const LinuxConfigPeer&) = delete;

    [[nodiscard]] PeerDelivery NotifyMonitorExit() override;
    [[nodiscard]] PeerDelivery NotifyDeviceEvent(PeerDeviceEvent event,
                                                 std::uint8_t value) override;
    [[nodiscard]] PeerDelivery AskProfileSwitched(std::uint8_t slot) override;
    [[nodiscard]] bool Show() override;
    [[nodiscard]] bool Start() override;
    [[nodiscard]] std::u16string_view ProgramName() const override;

  private:
    struct Child;

    // The unique name of the peer's connection, or why there is none to tell.
    [[nodiscard]] PeerDelivery FindPeer(std::string& owner);
    // Sends `member` with the arguments of `types` ("" or "uu": `first`, `second`) to the
    // peer's connection, expecting no reply. `message` names the notice in the trace line of one
    // that could not be queued.
    [[nodiscard]] PeerDelivery Notify(std::uint32_t message, const char* member, const char* types,
                                      std::uint32_t first = 0, std::uint32_t second = 0);
    // Puts the profile switch to `slot` on its way; its answer comes to OnAnswer.
    [[nodiscard]] bool SendQuestion(std::uint8_t slot);
    static int OnAnswer(sd_bus_message* reply, void* self, sd_bus_error* unused);
    // The question's answer, or sd-bus's own error reply for a time-out or a lost connection.
    void Answered(sd_bus_message* reply);
    // Reaps a started program once it ended.
    void WatchChild(pid_t pid);

    LinuxBus& bus_;
    std::string program_;
    std::u16string program_name_;
    const DebugOutput& debug_;
    std::list<Child> children_;
    std::optional<std::uint8_t> waiting_slot_;  // the latest switch that waits for the question
    SdBusSlot question_;                        // the question on its way, while there is one
};

}  // namespace korv::os_linux
