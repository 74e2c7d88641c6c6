#pragma once
// The session bus through sd-bus: an owned connection, and that connection served by the main
// loop. The loop watches the connection's socket for the events sd-bus asks for (input always,
// output only while messages wait to be written) and keeps one timer at sd-bus's next deadline
// (a pending reply's time-out, or "now" when messages were read ahead into its queue during a
// blocking call). An idle connection has neither output nor deadlines: nothing wakes the loop.
//
// Threads: a connection belongs to one thread. A LinuxBus belongs to the main loop's thread.

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/thread_affinity.h"
#include "platform/linux/linux_main_loop.h"
#include "ports/debug_output.h"

namespace korv::os_linux {

struct SdBusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
// An open connection; destroying it writes what is queued, then closes it.
using SdBusConnection = std::unique_ptr<sd_bus, SdBusClose>;

struct SdBusUnref {
    void operator()(sd_bus* bus) const { sd_bus_unref(bus); }
};
// A reference that keeps a connection's memory, not the connection: it may be closed meanwhile.
using SdBusReference = std::unique_ptr<sd_bus, SdBusUnref>;

struct SdBusMessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using SdBusMessage = std::unique_ptr<sd_bus_message, SdBusMessageUnref>;

struct SdBusSlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
// A registration on a connection (an object's table of methods, a match); destroying it ends
// the registration.
using SdBusSlot = std::unique_ptr<sd_bus_slot, SdBusSlotUnref>;

// A filled sd_bus_error, freed with its owner.
class SdBusError {
  public:
    SdBusError() = default;
    ~SdBusError() { sd_bus_error_free(&error_); }
    SdBusError(const SdBusError&) = delete;
    SdBusError& operator=(const SdBusError&) = delete;

    sd_bus_error* Get() { return &error_; }
    [[nodiscard]] bool Is(const char* name) const { return sd_bus_error_has_name(&error_, name); }

  private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

// Connects to the session bus at `address` (a D-Bus address such as "unix:path=/run/..."), or,
// when it is empty, to the user's session bus (DBUS_SESSION_BUS_ADDRESS, else the runtime
// folder's "bus"). Null when there is none.
[[nodiscard]] SdBusConnection ConnectSessionBus(std::string_view address = {});

// What asking the bus for a well-known name found. The name is asked for without queueing: an
// owner that runs already keeps it, and this connection is not put in line after it.
enum class BusNameResult : std::uint8_t {
    Owned,         // this connection owns the name now
    AlreadyOwned,  // another connection owns it: another instance runs
    Failed,        // the bus refused or did not answer
};

// Handles what arrives on `bus`, as the loop would, until `done` says so or `limit` has passed
// (no limit: until done); false when the time ran out or the connection failed. For waits
// outside the loop; refresh the LinuxBus afterwards.
[[nodiscard]] bool ServeBusUntil(sd_bus* bus, const std::function<bool()>& done,
                                 std::optional<std::chrono::milliseconds> limit = std::nullopt);

// A request for a well-known name that is answered later: a program can queue it as soon as it
// connects, while the connection's login is still under way, and go on starting. Nothing on the
// connection but the answer to its Hello is handled until Wait, so objects put on the bus before
// then are there for the first call the name brings.
class BusNameRequest {
  public:
    // Queues the request; it leaves, behind the connection's Hello, when the connection is next
    // driven (Push, Wait, or the loop).
    BusNameRequest(sd_bus* bus, const char* name);
    BusNameRequest(const BusNameRequest&) = delete;
    BusNameRequest& operator=(const BusNameRequest&) = delete;

    // Takes the connection's login as far as it goes without waiting, so that Hello and the
    // request leave now if the login's answer has come. Nothing but the answer to Hello is
    // handled: sd-bus takes no other message before that one.
    void Push();
    // Handles the connection until the bus has answered.
    [[nodiscard]] BusNameResult Wait();

  private:
    // The request's slot may outlive the connection's owner.
    SdBusReference bus_;
    SdBusSlot slot_;
    std::optional<BusNameResult> answer_;
};

// Asks for `name` and waits for the answer.
[[nodiscard]] BusNameResult RequestBusName(sd_bus* bus, const char* name);

// sd-bus's time-outs are in microseconds.
[[nodiscard]] inline std::uint64_t BusTimeout(std::chrono::milliseconds time) {
    return static_cast<std::uint64_t>(time.count()) * 1000u;
}

// A connection served by the main loop.
class LinuxBus {
  public:
    // Null when the loop cannot watch the connection.
    [[nodiscard]] static std::unique_ptr<LinuxBus> Attach(SdBusConnection connection,
                                                          LinuxMainLoop& loop,
                                                          const DebugOutput& debug);
    ~LinuxBus();
    LinuxBus(const LinuxBus&) = delete;
    LinuxBus& operator=(const LinuxBus&) = delete;

    [[nodiscard]] sd_bus* Get() const { return connection_.get(); }
    [[nodiscard]] LinuxMainLoop& Loop() const { return loop_; }

    // Brings the watch and the timer up to date with what sd-bus wants now. Call it after
    // sending or calling outside the loop's callbacks: a message that could not be written at
    // once needs the socket's output event, and messages read during a blocking call wait in
    // sd-bus's queue, not in the socket.
    void Refresh();

    // False once the bus connection is lost (the bus went away); then nothing is watched.
    [[nodiscard]] bool Connected() const { return watch_ != nullptr; }
    // Called on the main thread once when the connection is lost, after the trace line.
    void SetOnLost(std::function<void()> on_lost) { on_lost_ = std::move(on_lost); }

  private:
    LinuxBus(SdBusConnection connection, LinuxMainLoop& loop, const DebugOutput& debug);
    // Handles everything sd-bus has to do now, then refreshes.
    void Process();
    void Disconnected();

    SdBusConnection connection_;
    LinuxMainLoop& loop_;
    const DebugOutput& debug_;
    std::unique_ptr<FdWatch> watch_;
    std::uint32_t watched_events_ = 0;
    std::unique_ptr<OneShotTimer> timer_;
    std::uint64_t deadline_usec_ = UINT64_MAX;  // the timer's deadline, CLOCK_MONOTONIC
    bool processing_ = false;
    std::function<void()> on_lost_;
    ThreadAffinity owner_;
};

}  // namespace korv::os_linux
