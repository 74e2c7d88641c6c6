// The floor of the Linux start-up bench (bench/linux_startup.sh): the least a program of the
// monitor's kind does before another program can find it. It connects to the session bus
// (sd-bus) and to the sound server (libpulse, until its context is ready), then owns NAME on
// the bus without queueing, and waits for SIGTERM or SIGINT with both connections open.
//
//   linux_trivial_bus NAME
//
// Exit codes: 0 ended by a signal, 1 bad arguments, 2 the sound server or the bus refused, 3 the
// name is owned by another program already.

#include <pulse/pulseaudio.h>
#include <systemd/sd-bus.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;

struct MainLoopFree {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
using SoundLoop = std::unique_ptr<pa_mainloop, MainLoopFree>;

struct ContextClose {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
using SoundContext = std::unique_ptr<pa_context, ContextClose>;

// The signal handlers of libpulse's main loop, set up and torn down with it.
class SignalsQuitLoop {
  public:
    explicit SignalsQuitLoop(pa_mainloop* loop) : loop_(loop) {
        pa_signal_init(pa_mainloop_get_api(loop));
        for (const int number : {SIGTERM, SIGINT})
            pa_signal_new(number, &SignalsQuitLoop::Quit, loop_);
    }
    ~SignalsQuitLoop() { pa_signal_done(); }
    SignalsQuitLoop(const SignalsQuitLoop&) = delete;
    SignalsQuitLoop& operator=(const SignalsQuitLoop&) = delete;

  private:
    static void Quit(pa_mainloop_api* api, pa_signal_event*, int, void*) { api->quit(api, 0); }
    pa_mainloop* loop_;
};

// Runs the loop until the context is ready; false when it failed or the loop broke.
[[nodiscard]] bool ConnectSound(pa_mainloop* loop, pa_context* context) {
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
        return false;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state))
            return false;
        if (pa_mainloop_iterate(loop, 1, nullptr) < 0)
            return false;
    }
}

int Fail(const char* what, int code) {
    std::fprintf(stderr, "linux_trivial_bus: %s\n", what);
    return code;
}

int Run(const char* name) {
    sd_bus* opened = nullptr;
    // The bus connection starts here and completes while the sound server is contacted.
    if (sd_bus_open_user(&opened) < 0)
        return Fail("no session bus", 2);
    const Bus bus(opened);
    const SoundLoop loop(pa_mainloop_new());
    if (!loop)
        return Fail("no sound main loop", 2);
    const SoundContext context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "linux_trivial_bus"));
    if (!context || !ConnectSound(loop.get(), context.get()))
        return Fail("the sound server refused the connection", 2);
    const SignalsQuitLoop signals(loop.get());
    // Without a queueing flag: a name owned by another program fails at once.
    const int owned = sd_bus_request_name(bus.get(), name, 0);
    if (owned == -EEXIST)
        return Fail("the name is owned already", 3);
    if (owned < 0)
        return Fail("the bus refused the name", 2);
    int code = 0;
    pa_mainloop_run(loop.get(), &code);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strchr(argv[1], '.') == nullptr) {
        std::fprintf(stderr, "Usage: linux_trivial_bus NAME   (a well-known bus name)\n");
        return 1;
    }
    return Run(argv[1]);
}
