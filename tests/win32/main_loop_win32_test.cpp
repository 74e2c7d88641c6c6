// The main loop on Wine's real message queue: tasks handed over from other threads, restartable
// one-shot timers on WM_TIMER, and a pause that runs what is pending without eating WM_QUIT.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/win32/win32_main_loop.h"

namespace korv::win32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs the loop until the condition holds or the limit passes.
bool PumpUntil(Win32MainLoop& loop, const std::function<bool()>& done,
               std::chrono::milliseconds limit = 10s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        loop.ProcessPending();
    }
    return true;
}

void PumpFor(Win32MainLoop& loop, std::chrono::milliseconds time) {
    PumpUntil(
        loop, [] { return false; }, time);
}

TEST(Win32MainLoop, TasksFromOtherThreadsRunOnTheMainThreadInTheirOrder) {
    Win32MainLoop loop;
    ASSERT_TRUE(loop.Valid());
    const DWORD main_thread = GetCurrentThreadId();
    constexpr int kTasksPerThread = 500;
    std::vector<int> ran[2];
    std::atomic<int> off_main_thread = 0;
    std::atomic<int> refused = 0;
    std::vector<std::thread> posters;
    for (int t = 0; t < 2; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kTasksPerThread; ++i) {
                const bool posted = loop.PostTask([&, t, i] {
                    off_main_thread += GetCurrentThreadId() != main_thread;
                    ran[t].push_back(i);
                });
                refused += !posted;
            }
        });
    }
    EXPECT_TRUE(
        PumpUntil(loop, [&] { return ran[0].size() + ran[1].size() == 2 * kTasksPerThread; }));
    for (auto& poster : posters)
        poster.join();
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(off_main_thread, 0);
    for (const auto& one_thread : ran) {
        ASSERT_EQ(one_thread.size(), static_cast<std::size_t>(kTasksPerThread));
        EXPECT_TRUE(std::is_sorted(one_thread.begin(), one_thread.end()));
    }
}

TEST(Win32MainLoop, TaskPostedByATaskRunsAfterIt) {
    Win32MainLoop loop;
    std::vector<int> ran;
    ASSERT_TRUE(loop.PostTask([&] {
        ran.push_back(1);
        EXPECT_TRUE(loop.PostTask([&] { ran.push_back(3); }));
    }));
    ASSERT_TRUE(loop.PostTask([&] { ran.push_back(2); }));
    EXPECT_TRUE(PumpUntil(loop, [&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

// A task that runs the message loop again (ProcessPending, as a handler may) may meet the wake-up
// of tasks posted meanwhile: the tasks queued before them still run first.
TEST(Win32MainLoop, ATaskThatRunsTheLoopAgainKeepsTheOrder) {
    Win32MainLoop loop;
    std::vector<char> ran;
    ASSERT_TRUE(loop.PostTask([&] {
        ran.push_back('A');
        std::thread([&] { EXPECT_TRUE(loop.PostTask([&] { ran.push_back('D'); })); }).join();
        loop.ProcessPending();
    }));
    ASSERT_TRUE(loop.PostTask([&] { ran.push_back('B'); }));
    ASSERT_TRUE(loop.PostTask([&] { ran.push_back('C'); }));
    EXPECT_TRUE(PumpUntil(loop, [&] { return ran.size() == 4; }));
    EXPECT_EQ(ran, (std::vector<char>{'A', 'B', 'C', 'D'}));
}

// The wake-up cannot be posted (here the loop's window was destroyed behind its back; on
// Windows a full message queue does the same): the task is refused rather than taken without a
// wake-up, since a reader whose one post was lost would wait with a full queue for ever.
TEST(Win32MainLoop, ATaskThatCannotWakeTheLoopIsRefused) {
    Win32MainLoop loop;
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"KorvMainLoopWindow", nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(DestroyWindow(window));
    bool ran = false;
    EXPECT_FALSE(loop.PostTask([&] { ran = true; }));
    PumpFor(loop, 50ms);
    EXPECT_FALSE(ran);
}

TEST(Win32MainLoop, RestartedTimerFiresOnceCountingFromTheLaterStart) {
    Win32MainLoop loop;
    int fired = 0;
    Clock::time_point fired_at;
    const auto timer = loop.CreateTimer([&] {
        ++fired;
        fired_at = Clock::now();
    });
    EXPECT_FALSE(timer->Running());
    timer->Start(50ms);
    // The first start expires while nothing is dispatched, then the timer starts again.
    loop.Sleep(150ms);
    const auto restarted_at = Clock::now();
    timer->Start(300ms);
    EXPECT_TRUE(timer->Running());
    EXPECT_TRUE(PumpUntil(loop, [&] { return fired > 0; }));
    EXPECT_GE(fired_at - restarted_at, 250ms);
    EXPECT_FALSE(timer->Running());
    PumpFor(loop, 400ms);
    EXPECT_EQ(fired, 1);
}

TEST(Win32MainLoop, StoppedOrDestroyedTimerNeverFires) {
    Win32MainLoop loop;
    int fired = 0;
    const auto stopped = loop.CreateTimer([&] { ++fired; });
    auto destroyed = loop.CreateTimer([&] { ++fired; });
    stopped->Start(20ms);
    destroyed->Start(20ms);
    loop.Sleep(100ms);
    stopped->Stop();
    destroyed.reset();
    EXPECT_FALSE(stopped->Running());
    PumpFor(loop, 300ms);
    EXPECT_EQ(fired, 0);
}

TEST(Win32MainLoop, TimerCanBeRestartedAndDestroyedFromItsOwnCallback) {
    Win32MainLoop loop;
    int fired = 0;
    std::unique_ptr<OneShotTimer> timer;
    timer = loop.CreateTimer([&] {
        if (++fired == 1)
            timer->Start(20ms);
        else
            timer.reset();
    });
    timer->Start(20ms);
    EXPECT_TRUE(PumpUntil(loop, [&] { return timer == nullptr; }));
    EXPECT_EQ(fired, 2);
}

TEST(Win32MainLoop, ProcessPendingRunsWhatIsPendingAndLeavesWmQuitForTheThreadsLoop) {
    Win32MainLoop loop;
    bool ran = false;
    ASSERT_TRUE(loop.PostTask([&] { ran = true; }));
    PostQuitMessage(7);
    loop.ProcessPending();
    EXPECT_TRUE(ran);
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

// Records whether its task ran, and what posting from its destructor returned.
struct TaskProbe {
    bool ran = false;
    std::optional<bool> posted_while_destroyed;
};

TEST(Win32MainLoop, DestroyingTheLoopDropsQueuedTasksAndRefusesNewOnes) {
    TaskProbe probe;
    {
        Win32MainLoop loop;
        // A task whose captured state posts again when it is destroyed.
        struct PostsWhenDestroyed {
            Win32MainLoop* loop;
            TaskProbe* probe;
            ~PostsWhenDestroyed() {
                if (probe != nullptr)
                    probe->posted_while_destroyed = loop->PostTask([] {});
            }
        };
        auto guard = std::make_shared<PostsWhenDestroyed>(PostsWhenDestroyed{&loop, nullptr});
        ASSERT_TRUE(loop.PostTask([&probe, guard] { probe.ran = true; }));
        guard->probe = &probe;
        guard.reset();
    }
    EXPECT_FALSE(probe.ran);
    EXPECT_EQ(probe.posted_while_destroyed, std::optional<bool>(false));
}

TEST(Win32MainLoop, TimerOutlivingTheLoopStaysStopped) {
    std::unique_ptr<OneShotTimer> timer;
    int fired = 0;
    {
        Win32MainLoop loop;
        timer = loop.CreateTimer([&] { ++fired; });
        timer->Start(20ms);
    }
    EXPECT_FALSE(timer->Running());
    timer->Start(20ms);
    EXPECT_FALSE(timer->Running());
    Sleep(60);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
    EXPECT_EQ(fired, 0);
}

}  // namespace
}  // namespace korv::win32
