#pragma once
// The main thread's loop on Linux: one epoll set waits for everything the main thread serves
// (tasks handed over through an eventfd, each timer's timerfd, and the descriptors of the
// services wired into the loop: the bus, udev, signals). Between events it sleeps in
// epoll_wait with no timeout, so an idle program makes no wake-ups at all.
//
// Threads: everything on the thread that created the loop (the main thread), except `PostTask`
// and `Quit`, which any thread may call.

#include <cstdint>
#include <functional>
#include <memory>

#include "ports/main_loop.h"

namespace korv::os_linux {

// A descriptor watched by the loop; destroying it ends the watch (also from inside a callback).
class FdWatch {
  public:
    virtual ~FdWatch() = default;
};

class LinuxMainLoop final : public MainLoop {
  public:
    LinuxMainLoop();
    // Stops taking tasks and destroys those still queued without running them; timers and
    // watches that outlive the loop never fire.
    ~LinuxMainLoop() override;
    LinuxMainLoop(const LinuxMainLoop&) = delete;
    LinuxMainLoop& operator=(const LinuxMainLoop&) = delete;

    // Whether the epoll set and the task eventfd exist; without them nothing runs.
    [[nodiscard]] bool Valid() const;

    [[nodiscard]] std::unique_ptr<OneShotTimer> CreateTimer(std::function<void()> on_fire) override;
    [[nodiscard]] bool PostTask(std::function<void()> task) override;
    // Runs every task, timer and watch callback that is ready now, then returns.
    void ProcessPending() override;
    void Sleep(std::chrono::milliseconds time) override;

    // Calls `on_ready` with the ready events (EPOLLIN, EPOLLOUT, EPOLLHUP, ...) on the main
    // thread whenever `fd` is ready for `events`, level-triggered, until the watch is destroyed
    // or changed. The descriptor stays the caller's. Null when epoll refuses it.
    [[nodiscard]] std::unique_ptr<FdWatch> Watch(int fd, std::uint32_t events,
                                                 std::function<void(std::uint32_t)> on_ready);
    // Changes the events a watch waits for (sd-bus asks for EPOLLOUT only while it has output).
    [[nodiscard]] bool ChangeWatch(FdWatch& watch, std::uint32_t events);

    // Waits for and runs events until Quit; returns Quit's code. Main thread.
    int Run();
    // Makes Run return `code` once the callback that is running returns. Any thread.
    void Quit(int code);

    struct Core;

  private:
    std::shared_ptr<Core> core_;
};

}  // namespace korv::os_linux
