#pragma once
// The main thread's message loop on Windows: a message-only window of the loop's own receives
// the wake-up of posted tasks and the timers' WM_TIMER messages.

#include <memory>

#include "ports/main_loop.h"

namespace korv::win32 {

class Win32MainLoop : public MainLoop {
  public:
    // Creates the loop's window on the calling thread, which becomes the loop's main thread.
    Win32MainLoop();
    // Stops taking tasks, destroys those still queued without running them, and destroys the
    // window; timers that outlive the loop never fire.
    ~Win32MainLoop() override;
    Win32MainLoop(const Win32MainLoop&) = delete;
    Win32MainLoop& operator=(const Win32MainLoop&) = delete;

    // Whether the window exists; without it no task is taken and no timer runs.
    [[nodiscard]] bool Valid() const;

    [[nodiscard]] std::unique_ptr<OneShotTimer> CreateTimer(std::function<void()> on_fire) override;
    [[nodiscard]] bool PostTask(std::function<void()> task) override;
    // Dispatches every pending message of the thread's windows. A WM_QUIT ends it and stays
    // pending for the thread's own message loop.
    void ProcessPending() override;
    void Sleep(std::chrono::milliseconds time) override;

    // The loop's state, shared with its timers.
    struct Core;

  private:
    std::shared_ptr<Core> core_;
};

}  // namespace korv::win32
