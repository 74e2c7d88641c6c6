#include "platform/win32/win32_main_loop.h"

#include <windows.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/win32/hidden_window.h"

namespace korv::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"KorvMainLoopWindow";
// Posted to the loop's window when its task queue stops being empty.
constexpr UINT kRunTasks = WM_APP + 1;

using Task = std::function<void()>;

class Win32OneShotTimer;

}  // namespace

struct Win32MainLoop::Core : std::enable_shared_from_this<Core> {
    // Runs the tasks queued when the wake-up arrived, one at a time from the front of the queue;
    // those posted meanwhile come with the next wake-up. A task that runs the message loop again
    // (ProcessPending) may meet that wake-up inside itself: the nested run goes on from the same
    // queue, so tasks still run in the order they were posted. The loop may be destroyed by a
    // task: the rest are then dropped.
    void RunTasks() {
        const std::shared_ptr<Core> keep = shared_from_this();
        std::size_t count = 0;
        {
            const std::lock_guard lock(mutex);
            wake_posted = false;
            count = tasks.size();
        }
        for (; count > 0; --count) {
            Task task;
            {
                const std::lock_guard lock(mutex);
                if (!accepting || tasks.empty())
                    return;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }

    void FireTimer(UINT_PTR id);

    HWND window = nullptr;
    std::mutex mutex;
    std::deque<Task> tasks;  // guarded by mutex
    bool accepting = true;   // guarded by mutex
    // Whether a wake-up is on its way: set when a task is queued after the last wake-up arrived,
    // cleared when the window procedure begins to run the queue. Guarded by mutex.
    bool wake_posted = false;
    // Main thread only: the running timers by their current id. Each start takes a new id, so
    // a WM_TIMER of an earlier start that is still queued finds no timer.
    std::unordered_map<UINT_PTR, Win32OneShotTimer*> timers;
    UINT_PTR next_timer_id = 1;
};

namespace {

class Win32OneShotTimer : public OneShotTimer {
  public:
    Win32OneShotTimer(std::shared_ptr<Win32MainLoop::Core> core, Task on_fire)
        : core_(std::move(core)), on_fire_(std::move(on_fire)) {}
    ~Win32OneShotTimer() override { Stop(); }
    Win32OneShotTimer(const Win32OneShotTimer&) = delete;
    Win32OneShotTimer& operator=(const Win32OneShotTimer&) = delete;

    void Start(std::chrono::milliseconds delay) override {
        Stop();
        if (core_->window == nullptr)
            return;
        const auto milliseconds = static_cast<UINT>(std::clamp<std::chrono::milliseconds::rep>(
            delay.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
        const UINT_PTR id = core_->next_timer_id++;
        if (SetTimer(core_->window, id, milliseconds, nullptr) == 0)
            return;
        id_ = id;
        core_->timers[id_] = this;
    }

    void Stop() override {
        if (id_ == 0)
            return;
        core_->timers.erase(id_);
        if (core_->window != nullptr)
            KillTimer(core_->window, id_);
        id_ = 0;
    }

    [[nodiscard]] bool Running() const override { return id_ != 0 && core_->window != nullptr; }

    // The callback may destroy the timer, so it runs on a copy.
    void Fire() {
        Stop();
        const Task callback = on_fire_;
        callback();
    }

  private:
    std::shared_ptr<Win32MainLoop::Core> core_;
    Task on_fire_;
    UINT_PTR id_ = 0;
};

LRESULT CALLBACK MainLoopWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* core = reinterpret_cast<Win32MainLoop::Core*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (core != nullptr && message == kRunTasks) {
        core->RunTasks();
        return 0;
    }
    if (core != nullptr && message == WM_TIMER) {
        core->FireTimer(wparam);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND CreateLoopWindow() {
    return CreateHiddenWindow(kWindowClass, MainLoopWindowProc, HiddenWindowKind::kMessageOnly);
}

}  // namespace

void Win32MainLoop::Core::FireTimer(UINT_PTR id) {
    const auto timer = timers.find(id);
    if (timer != timers.end())
        timer->second->Fire();
    else if (window != nullptr)
        KillTimer(window, id);
}

Win32MainLoop::Win32MainLoop() : core_(std::make_shared<Core>()) {
    core_->window = CreateLoopWindow();
    if (core_->window != nullptr)
        SetWindowLongPtrW(core_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(core_.get()));
}

Win32MainLoop::~Win32MainLoop() {
    std::deque<Task> dropped;
    {
        const std::lock_guard lock(core_->mutex);
        core_->accepting = false;
        dropped.swap(core_->tasks);
    }
    // Destroyed outside the lock: a task's destructor may post (and is refused).
    dropped.clear();
    if (core_->window == nullptr)
        return;
    for (const auto& [id, timer] : core_->timers)
        KillTimer(core_->window, id);
    core_->timers.clear();
    SetWindowLongPtrW(core_->window, GWLP_USERDATA, 0);
    DestroyWindow(std::exchange(core_->window, nullptr));
}

bool Win32MainLoop::Valid() const {
    return core_->window != nullptr;
}

std::unique_ptr<OneShotTimer> Win32MainLoop::CreateTimer(std::function<void()> on_fire) {
    return std::make_unique<Win32OneShotTimer>(core_, std::move(on_fire));
}

// A task is taken only with a wake-up on its way: one that cannot be posted (the thread's
// message queue is full) leaves the task out and says so. The wake-up is posted under the lock,
// so that no other thread queues a task behind it in the belief that it is on its way; posting
// never waits for the main thread.
bool Win32MainLoop::PostTask(std::function<void()> task) {
    const std::lock_guard lock(core_->mutex);
    // The window changes only after `accepting` went false under the lock.
    if (!core_->accepting || core_->window == nullptr)
        return false;
    if (!core_->wake_posted) {
        if (!PostMessageW(core_->window, kRunTasks, 0, 0))
            return false;
        core_->wake_posted = true;
    }
    core_->tasks.push_back(std::move(task));
    return true;
}

void Win32MainLoop::ProcessPending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Left for the thread's own message loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Win32MainLoop::Sleep(std::chrono::milliseconds time) {
    ::Sleep(static_cast<DWORD>(
        std::clamp<std::chrono::milliseconds::rep>(time.count(), 0, INFINITE - 1)));
}

}  // namespace korv::win32
