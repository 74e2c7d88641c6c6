#pragma once
// libpulse's main-loop interface served by the program's own epoll loop: the sound library's
// descriptors become watches of LinuxMainLoop, its timers timerfds, its deferred events one
// eventfd. libpulse then starts no thread of its own, needs no lock, and calls back on the main
// thread; while the connection is idle nothing wakes up.
//
// Threads: the thread of the LinuxMainLoop (the main thread), for everything.

#include <pulse/mainloop-api.h>

#include <memory>

namespace korv::os_linux {

class LinuxMainLoop;

class PulseMainLoop {
  public:
    explicit PulseMainLoop(LinuxMainLoop& loop);
    // Every event libpulse has not freed yet is freed, its destroy callback called.
    ~PulseMainLoop();
    PulseMainLoop(const PulseMainLoop&) = delete;
    PulseMainLoop& operator=(const PulseMainLoop&) = delete;

    // Whether the deferred events' eventfd is watched; without it libpulse cannot run.
    [[nodiscard]] bool Valid() const;
    // The interface to hand to pa_context_new; valid as long as this object.
    pa_mainloop_api* Api();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace korv::os_linux
