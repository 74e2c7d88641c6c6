#pragma once
// A main loop for the core's tests: timers fire when the test advances the time, posted tasks
// wait in a queue until the test runs them, and Sleep is recorded instead of slept.
//
// Threads: PostTask, PendingTasks and WaitForTasks from any thread; everything else on the test's
// thread, which plays the main thread.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "ports/main_loop.h"

namespace korv::fake {

class FakeMainLoop : public MainLoop {
  public:
    FakeMainLoop() = default;
    FakeMainLoop(const FakeMainLoop&) = delete;
    FakeMainLoop& operator=(const FakeMainLoop&) = delete;
    ~FakeMainLoop() override;

    [[nodiscard]] std::unique_ptr<OneShotTimer> CreateTimer(std::function<void()> on_fire) override;
    [[nodiscard]] bool PostTask(std::function<void()> task) override;
    void ProcessPending() override;
    void Sleep(std::chrono::milliseconds time) override { slept.push_back(time); }

    // Moves the clock on by `time`, firing every timer that falls due, earliest first, each at
    // its own time.
    void Advance(std::chrono::milliseconds time);
    [[nodiscard]] std::chrono::milliseconds Now() const { return now_; }

    // Runs the tasks queued now (not those they post); returns how many ran.
    std::size_t RunPending();
    [[nodiscard]] std::size_t PendingTasks() const;
    // Waits until at least `count` tasks are queued; false when `timeout` passed first.
    [[nodiscard]] bool WaitForTasks(std::size_t count, std::chrono::milliseconds timeout) const;
    // Makes PostTask refuse (return false and drop the task), as a loop that is shutting down.
    void RefuseTasks(bool refuse);

    std::vector<std::chrono::milliseconds> slept;
    int process_pending_calls = 0;

  private:
    class Timer;
    Timer* NextDueTimer(std::chrono::milliseconds until) const;

    std::chrono::milliseconds now_{0};
    std::list<Timer*> timers_;  // live timers; each removes itself when destroyed

    mutable std::mutex mutex_;
    mutable std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
    bool refuse_ = false;
};

}  // namespace korv::fake
