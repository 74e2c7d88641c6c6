#pragma once
// Port: the main thread's message loop, for what the core schedules on it: restartable one-shot
// timers, work handed over from other threads, and a pause that lets pending messages run.
//
// Threads: everything on the main thread, except `PostTask`, which any thread may call.

#include <chrono>
#include <functional>
#include <memory>

namespace korv {

// A one-shot timer of the main thread. Destroying it stops it.
class OneShotTimer {
  public:
    virtual ~OneShotTimer() = default;

    // Starts the count from zero, also when it runs already; the callback runs once, on the
    // main thread, after `delay` unless Stop or Start comes first.
    virtual void Start(std::chrono::milliseconds delay) = 0;
    virtual void Stop() = 0;
    [[nodiscard]] virtual bool Running() const = 0;
};

class MainLoop {
  public:
    virtual ~MainLoop() = default;

    // A stopped timer that calls `on_fire` when it expires. Main thread.
    [[nodiscard]] virtual std::unique_ptr<OneShotTimer> CreateTimer(
        std::function<void()> on_fire) = 0;

    // Queues `task` to run on the main thread, after what is queued before it; tasks of one
    // thread run in the order they were posted. False (and the task dropped) when the main
    // loop takes no more work. Any thread.
    [[nodiscard]] virtual bool PostTask(std::function<void()> task) = 0;

    // Runs every message and task that is pending now, then returns. Main thread.
    virtual void ProcessPending() = 0;

    // Blocks the main thread for the time, without running messages.
    virtual void Sleep(std::chrono::milliseconds time) = 0;
};

}  // namespace korv
