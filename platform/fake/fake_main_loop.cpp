#include "platform/fake/fake_main_loop.h"

#include <utility>

namespace korv::fake {

class FakeMainLoop::Timer : public OneShotTimer {
  public:
    Timer(FakeMainLoop& loop, std::function<void()> on_fire)
        : loop_(loop), on_fire_(std::move(on_fire)) {
        loop_.timers_.push_back(this);
    }
    ~Timer() override { loop_.timers_.remove(this); }

    void Start(std::chrono::milliseconds delay) override {
        running_ = true;
        due_ = loop_.now_ + delay;
    }
    void Stop() override { running_ = false; }
    [[nodiscard]] bool Running() const override { return running_; }

    [[nodiscard]] std::chrono::milliseconds Due() const { return due_; }
    // One-shot: stopped before its callback runs, which may start it again or destroy it.
    void Fire() {
        running_ = false;
        const auto on_fire = on_fire_;
        on_fire();
    }

  private:
    FakeMainLoop& loop_;
    std::function<void()> on_fire_;
    bool running_ = false;
    std::chrono::milliseconds due_{0};
};

FakeMainLoop::~FakeMainLoop() = default;

std::unique_ptr<OneShotTimer> FakeMainLoop::CreateTimer(std::function<void()> on_fire) {
    return std::make_unique<Timer>(*this, std::move(on_fire));
}

bool FakeMainLoop::PostTask(std::function<void()> task) {
    {
        const std::lock_guard lock(mutex_);
        if (refuse_) {
            return false;
        }
        tasks_.push_back(std::move(task));
    }
    posted_.notify_all();
    return true;
}

void FakeMainLoop::ProcessPending() {
    ++process_pending_calls;
    RunPending();
}

FakeMainLoop::Timer* FakeMainLoop::NextDueTimer(std::chrono::milliseconds until) const {
    Timer* next = nullptr;
    for (Timer* timer : timers_) {
        if (timer->Running() && timer->Due() <= until && (!next || timer->Due() < next->Due())) {
            next = timer;
        }
    }
    return next;
}

void FakeMainLoop::Advance(std::chrono::milliseconds time) {
    const auto until = now_ + time;
    while (Timer* timer = NextDueTimer(until)) {
        now_ = timer->Due();
        timer->Fire();
    }
    now_ = until;
}

std::size_t FakeMainLoop::RunPending() {
    std::deque<std::function<void()>> now;
    {
        const std::lock_guard lock(mutex_);
        now.swap(tasks_);
    }
    for (auto& task : now) {
        task();
    }
    return now.size();
}

std::size_t FakeMainLoop::PendingTasks() const {
    const std::lock_guard lock(mutex_);
    return tasks_.size();
}

bool FakeMainLoop::WaitForTasks(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, timeout, [&] { return tasks_.size() >= count; });
}

void FakeMainLoop::RefuseTasks(bool refuse) {
    const std::lock_guard lock(mutex_);
    refuse_ = refuse;
}

}  // namespace korv::fake
