#include "platform/linux/linux_main_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/linux/unique_fd.h"

namespace korv::os_linux {
namespace {

// The epoll data of the task eventfd; every watch has a number above it.
constexpr std::uint64_t kTaskWakeUp = 0;

}  // namespace

struct LinuxMainLoop::Core {
    UniqueFd epoll{epoll_create1(EPOLL_CLOEXEC)};
    UniqueFd wake_up{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::thread::id main_thread = std::this_thread::get_id();

    std::mutex mutex;  // guards tasks, accepting and quit_code
    std::deque<std::function<void()>> tasks;
    bool accepting = true;
    std::optional<int> quit_code;

    // The callbacks of the watches by their number. An event whose number is no longer here
    // belongs to a watch destroyed earlier in the same batch, and is dropped.
    std::unordered_map<std::uint64_t, std::shared_ptr<std::function<void(std::uint32_t)>>> watches;
    std::uint64_t next_watch = kTaskWakeUp + 1;

    bool Valid() const { return epoll.Get() >= 0 && wake_up.Get() >= 0; }

    std::uint64_t Add(int fd, std::uint32_t events, std::function<void(std::uint32_t)> on_ready) {
        const std::uint64_t id = next_watch++;
        epoll_event event{};
        event.events = events;
        event.data.u64 = id;
        if (epoll_ctl(epoll.Get(), EPOLL_CTL_ADD, fd, &event) != 0)
            return 0;
        watches.emplace(id,
                        std::make_shared<std::function<void(std::uint32_t)>>(std::move(on_ready)));
        return id;
    }

    bool Modify(int fd, std::uint64_t id, std::uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.u64 = id;
        return epoll_ctl(epoll.Get(), EPOLL_CTL_MOD, fd, &event) == 0;
    }

    void Remove(int fd, std::uint64_t id) {
        epoll_ctl(epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
        watches.erase(id);
    }

    // Runs the tasks queued now, one at a time from the front, so that a task that runs the loop
    // again still sees the later ones in their order.
    void RunTasks() {
        std::uint64_t count = 0;
        while (read(wake_up.Get(), &count, sizeof count) < 0 && errno == EINTR) {
        }
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex);
                if (tasks.empty())
                    return;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }

    // Waits up to `timeout_ms` (-1: no limit) and runs what is ready.
    void Dispatch(int timeout_ms) {
        epoll_event events[16];
        const int ready = epoll_wait(epoll.Get(), events, 16, timeout_ms);
        for (int i = 0; i < ready; ++i) {
            const std::uint64_t id = events[i].data.u64;
            if (id == kTaskWakeUp) {
                RunTasks();
                continue;
            }
            const auto found = watches.find(id);
            if (found == watches.end())
                continue;
            // Kept alive while it runs, also when the callback destroys its own watch.
            const auto callback = found->second;
            (*callback)(events[i].events);
        }
    }
};

namespace {

class EpollWatch final : public FdWatch {
  public:
    EpollWatch(std::weak_ptr<LinuxMainLoop::Core> core, int fd, std::uint64_t id)
        : core_(std::move(core)), fd_(fd), id_(id) {}
    ~EpollWatch() override {
        if (const auto core = core_.lock())
            core->Remove(fd_, id_);
    }
    bool Change(std::uint32_t events) {
        const auto core = core_.lock();
        return core && core->Modify(fd_, id_, events);
    }

  private:
    std::weak_ptr<LinuxMainLoop::Core> core_;
    int fd_;
    std::uint64_t id_;
};

class TimerFd final : public OneShotTimer {
  public:
    TimerFd(LinuxMainLoop& loop, std::function<void()> on_fire)
        : timer_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
          on_fire_(std::move(on_fire)) {
        if (timer_.Get() >= 0)
            watch_ = loop.Watch(timer_.Get(), EPOLLIN, [this](std::uint32_t) { Fire(); });
    }
    ~TimerFd() override { watch_.reset(); }

    void Start(std::chrono::milliseconds delay) override {
        if (!watch_)
            return;
        // A zero it_value disarms a timerfd: a delay of 0 fires after one nanosecond.
        const auto ns = std::max<std::int64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(delay).count(), 1);
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        running_ = timerfd_settime(timer_.Get(), 0, &when, nullptr) == 0;
    }
    void Stop() override {
        if (!running_)
            return;
        const itimerspec off{};
        timerfd_settime(timer_.Get(), 0, &off, nullptr);
        running_ = false;
    }
    bool Running() const override { return running_; }

  private:
    void Fire() {
        std::uint64_t expirations = 0;
        // Stop or Start since the expiry disarmed or re-armed it: nothing to read, nothing due.
        if (read(timer_.Get(), &expirations, sizeof expirations) != sizeof expirations)
            return;
        running_ = false;
        on_fire_();
    }

    UniqueFd timer_;
    std::function<void()> on_fire_;
    std::unique_ptr<FdWatch> watch_;
    bool running_ = false;
};

}  // namespace

LinuxMainLoop::LinuxMainLoop() : core_(std::make_shared<Core>()) {
    if (!core_->Valid())
        return;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kTaskWakeUp;
    if (epoll_ctl(core_->epoll.Get(), EPOLL_CTL_ADD, core_->wake_up.Get(), &event) != 0) {
        std::lock_guard lock(core_->mutex);
        core_->accepting = false;
    }
}

LinuxMainLoop::~LinuxMainLoop() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(core_->mutex);
        core_->accepting = false;
        dropped.swap(core_->tasks);
    }
    core_->watches.clear();
}

bool LinuxMainLoop::Valid() const {
    return core_->Valid();
}

std::unique_ptr<OneShotTimer> LinuxMainLoop::CreateTimer(std::function<void()> on_fire) {
    return std::make_unique<TimerFd>(*this, std::move(on_fire));
}

bool LinuxMainLoop::PostTask(std::function<void()> task) {
    std::lock_guard lock(core_->mutex);
    if (!core_->accepting || !core_->Valid())
        return false;
    // The wake-up is written under the lock, so a task is queued only when its wake-up is.
    const std::uint64_t one = 1;
    if (write(core_->wake_up.Get(), &one, sizeof one) != sizeof one)
        return false;
    core_->tasks.push_back(std::move(task));
    return true;
}

void LinuxMainLoop::ProcessPending() {
    if (!core_->Valid())
        return;
    core_->Dispatch(0);
}

void LinuxMainLoop::Sleep(std::chrono::milliseconds time) {
    std::this_thread::sleep_for(time);
}

std::unique_ptr<FdWatch> LinuxMainLoop::Watch(int fd, std::uint32_t events,
                                              std::function<void(std::uint32_t)> on_ready) {
    if (!core_->Valid())
        return nullptr;
    const std::uint64_t id = core_->Add(fd, events, std::move(on_ready));
    if (id == 0)
        return nullptr;
    return std::make_unique<EpollWatch>(core_, fd, id);
}

bool LinuxMainLoop::ChangeWatch(FdWatch& watch, std::uint32_t events) {
    return static_cast<EpollWatch&>(watch).Change(events);
}

int LinuxMainLoop::Run() {
    for (;;) {
        {
            std::lock_guard lock(core_->mutex);
            if (core_->quit_code) {
                const int code = *core_->quit_code;
                core_->quit_code.reset();
                return code;
            }
        }
        if (!core_->Valid())
            return 1;
        core_->Dispatch(-1);
    }
}

void LinuxMainLoop::Quit(int code) {
    {
        std::lock_guard lock(core_->mutex);
        if (!core_->quit_code)
            core_->quit_code = code;
    }
    // Wakes a Run that waits; an empty task keeps the count and the queue in step.
    (void)PostTask([] {});
}

}  // namespace korv::os_linux
