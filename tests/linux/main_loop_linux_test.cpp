// The epoll main loop: tasks from other threads in order, timers that restart and stop, watches
// that end inside their own callback, and Quit from another thread.

#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/linux/linux_main_loop.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;

TEST(LinuxMainLoop, TasksOfOtherThreadsRunInTheirOrderOnTheMainThread) {
    LinuxMainLoop loop;
    ASSERT_TRUE(loop.Valid());
    const auto main_thread = std::this_thread::get_id();
    std::vector<int> seen;
    bool on_main = true;
    std::thread other([&] {
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(loop.PostTask([&, i] {
                seen.push_back(i);
                on_main = on_main && std::this_thread::get_id() == main_thread;
            }));
        ASSERT_TRUE(loop.PostTask([&] { loop.Quit(7); }));
    });
    EXPECT_EQ(loop.Run(), 7);
    other.join();
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_TRUE(on_main);
}

TEST(LinuxMainLoop, ATaskThatRunsTheLoopAgainKeepsTheOrder) {
    LinuxMainLoop loop;
    std::string order;
    ASSERT_TRUE(loop.PostTask([&] {
        order += 'A';
        loop.ProcessPending();
    }));
    ASSERT_TRUE(loop.PostTask([&] { order += 'B'; }));
    ASSERT_TRUE(loop.PostTask([&] { order += 'C'; }));
    loop.ProcessPending();
    EXPECT_EQ(order, "ABC");
}

TEST(LinuxMainLoop, ARestartedTimerFiresOnceAfterTheLastStart) {
    LinuxMainLoop loop;
    int fired = 0;
    const auto timer = loop.CreateTimer([&] {
        ++fired;
        loop.Quit(0);
    });
    const auto begin = std::chrono::steady_clock::now();
    timer->Start(30ms);
    loop.Sleep(20ms);
    timer->Start(30ms);  // counts from zero again
    EXPECT_TRUE(timer->Running());
    EXPECT_EQ(loop.Run(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 50ms);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer->Running());
}

TEST(LinuxMainLoop, AStoppedTimerNeverFiresEvenWhenItExpiredUnseen) {
    LinuxMainLoop loop;
    int fired = 0;
    const auto timer = loop.CreateTimer([&] { ++fired; });
    timer->Start(1ms);
    loop.Sleep(10ms);  // expired, not yet dispatched
    timer->Stop();
    loop.ProcessPending();
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(timer->Running());
}

TEST(LinuxMainLoop, AWatchDestroyedByAnEarlierCallbackOfTheSameBatchIsNotCalled) {
    LinuxMainLoop loop;
    const int first = eventfd(1, EFD_CLOEXEC);
    const int second = eventfd(1, EFD_CLOEXEC);
    int calls = 0;
    std::unique_ptr<FdWatch> watch_a, watch_b;
    // Whichever runs first ends both watches: the other must not run.
    watch_a = loop.Watch(first, EPOLLIN, [&](std::uint32_t) {
        ++calls;
        watch_a.reset();
        watch_b.reset();
    });
    watch_b = loop.Watch(second, EPOLLIN, [&](std::uint32_t) {
        ++calls;
        watch_b.reset();
        watch_a.reset();
    });
    ASSERT_TRUE(watch_a && watch_b);
    loop.ProcessPending();
    loop.ProcessPending();
    EXPECT_EQ(calls, 1);
    close(first);
    close(second);
}

TEST(LinuxMainLoop, QuitFromAnotherThreadEndsRun) {
    LinuxMainLoop loop;
    std::thread other([&] {
        std::this_thread::sleep_for(20ms);
        loop.Quit(3);
    });
    EXPECT_EQ(loop.Run(), 3);
    other.join();
}

TEST(LinuxMainLoop, NoTaskIsTakenOnceTheLoopIsGone) {
    auto loop = std::make_unique<LinuxMainLoop>();
    int ran = 0;
    ASSERT_TRUE(loop->PostTask([&] { ++ran; }));
    loop.reset();  // the queued task is dropped unrun
    EXPECT_EQ(ran, 0);
}

}  // namespace
}  // namespace korv::os_linux
