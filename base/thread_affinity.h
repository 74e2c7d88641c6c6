#pragma once
// The thread an object belongs to. Objects that are not thread-safe keep one and check it on
// their entry points: in debug builds a call from another thread stops the program at the call,
// where the fault is, instead of racing silently. Release builds check nothing.

#include <cassert>
#include <thread>

namespace korv {

class ThreadAffinity {
  public:
    // Belongs to the thread that creates it.
    ThreadAffinity() = default;

    [[nodiscard]] bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

    void Check() const { assert(OnOwnerThread() && "called from a thread that does not own it"); }

  private:
    std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace korv
