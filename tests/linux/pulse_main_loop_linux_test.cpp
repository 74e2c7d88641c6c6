// libpulse's main-loop interface on the epoll loop, driven the way libpulse drives it: deferred
// events that run once per turn while enabled, timers at wall-clock and monotonic times, watches
// that ask for no events, and events freed from inside their own callbacks.

#include <gtest/gtest.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "platform/linux/linux_main_loop.h"
#include "platform/linux/pulse_main_loop.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;

// libpulse's mark of a monotonic time in tv_usec.
constexpr suseconds_t kMonotonicMark = suseconds_t{1} << 30;

timeval WallClockIn(std::chrono::milliseconds delay) {
    timeval now{};
    gettimeofday(&now, nullptr);
    const long long micros = now.tv_sec * 1'000'000LL + now.tv_usec + delay.count() * 1000;
    return {static_cast<time_t>(micros / 1'000'000), static_cast<suseconds_t>(micros % 1'000'000)};
}

timeval MonotonicIn(std::chrono::milliseconds delay) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long micros = now.tv_sec * 1'000'000LL + now.tv_nsec / 1000 + delay.count() * 1000;
    return {static_cast<time_t>(micros / 1'000'000),
            static_cast<suseconds_t>(micros % 1'000'000) | kMonotonicMark};
}

class PulseMainLoopTest : public ::testing::Test {
  protected:
    void Turns(int count) {
        for (int i = 0; i < count; ++i)
            loop_.ProcessPending();
    }

    LinuxMainLoop loop_;
    PulseMainLoop pulse_{loop_};
    pa_mainloop_api* api_ = pulse_.Api();
};

struct DeferCount {
    int runs = 0;
    int stop_after = 1000;
    int destroyed = 0;
    bool free_self = false;
    pa_defer_event* other_to_free = nullptr;
};

void CountDefer(pa_mainloop_api* api, pa_defer_event* event, void* userdata) {
    auto& count = *static_cast<DeferCount*>(userdata);
    ++count.runs;
    if (count.other_to_free != nullptr) {
        api->defer_free(count.other_to_free);
        count.other_to_free = nullptr;
    }
    if (count.free_self)
        api->defer_free(event);
    else if (count.runs >= count.stop_after)
        api->defer_enable(event, 0);
}

TEST_F(PulseMainLoopTest, DeferredEventsRunOncePerTurnWhileEnabled) {
    ASSERT_TRUE(pulse_.Valid());
    DeferCount count{.stop_after = 3};
    pa_defer_event* event = api_->defer_new(api_, CountDefer, &count);
    Turns(10);
    EXPECT_EQ(count.runs, 3);  // one per turn, none once disabled
    api_->defer_enable(event, 1);
    Turns(1);
    EXPECT_EQ(count.runs, 4);
    api_->defer_enable(event, 0);
    Turns(3);
    EXPECT_EQ(count.runs, 4);
    api_->defer_free(event);
}

TEST_F(PulseMainLoopTest, DeferredEventsFreedInsideATurnNeverRunAgain) {
    DeferCount killer{.free_self = true};
    DeferCount victim;
    api_->defer_new(api_, CountDefer, &killer);
    pa_defer_event* second = api_->defer_new(api_, CountDefer, &victim);
    api_->defer_set_destroy(second, [](pa_mainloop_api*, pa_defer_event*, void* userdata) {
        ++static_cast<DeferCount*>(userdata)->destroyed;
    });
    killer.other_to_free = second;  // the first frees the second before its turn, then itself
    Turns(3);
    EXPECT_EQ(killer.runs, 1);
    EXPECT_EQ(victim.runs, 0);
    EXPECT_EQ(victim.destroyed, 1);
}

struct TimerCount {
    int fired = 0;
    bool free_self = false;
    std::chrono::steady_clock::time_point at;
};

void CountTimer(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata) {
    auto& count = *static_cast<TimerCount*>(userdata);
    ++count.fired;
    count.at = std::chrono::steady_clock::now();
    if (count.free_self)
        api->time_free(event);
}

TEST_F(PulseMainLoopTest, TimersFireAtWallClockAndMonotonicTimes) {
    for (const bool monotonic : {false, true}) {
        SCOPED_TRACE(monotonic ? "monotonic" : "wall clock");
        TimerCount count;
        count.free_self = true;
        const auto start = std::chrono::steady_clock::now();
        const timeval when = monotonic ? MonotonicIn(40ms) : WallClockIn(40ms);
        api_->time_new(api_, &when, CountTimer, &count);
        const auto quit = loop_.CreateTimer([&] { loop_.Quit(0); });
        quit->Start(200ms);
        loop_.Run();
        EXPECT_EQ(count.fired, 1);
        EXPECT_GE(count.at - start, 39ms);
        EXPECT_LT(count.at - start, 150ms);
    }
}

TEST_F(PulseMainLoopTest, ARestartWithoutATimeStopsTheTimer) {
    TimerCount count;
    const timeval soon = WallClockIn(10ms);
    pa_time_event* event = api_->time_new(api_, &soon, CountTimer, &count);
    api_->time_restart(event, nullptr);
    usleep(30'000);
    Turns(2);
    EXPECT_EQ(count.fired, 0);
    const timeval past = WallClockIn(-1000ms);  // already due: fires at once
    api_->time_restart(event, &past);
    usleep(5'000);
    Turns(2);
    EXPECT_EQ(count.fired, 1);
    api_->time_free(event);
}

struct IoCount {
    int calls = 0;
    pa_io_event_flags_t last = PA_IO_EVENT_NULL;
};

void CountIo(pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t flags, void* userdata) {
    auto& count = *static_cast<IoCount*>(userdata);
    ++count.calls;
    count.last = flags;
}

// A hung-up descriptor whose event asks for nothing must not be reported again and again.
TEST_F(PulseMainLoopTest, AWatchThatAsksForNothingIsNotCalledOnAHangUp) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[1]);  // the read end now reports a hang-up
    IoCount count;
    pa_io_event* event = api_->io_new(api_, fds[0], PA_IO_EVENT_NULL, CountIo, &count);
    Turns(3);
    EXPECT_EQ(count.calls, 0);
    api_->io_enable(event, PA_IO_EVENT_INPUT);
    Turns(1);
    EXPECT_EQ(count.calls, 1);
    EXPECT_TRUE(count.last & PA_IO_EVENT_HANGUP);
    api_->io_enable(event, PA_IO_EVENT_NULL);
    Turns(3);
    EXPECT_EQ(count.calls, 1);
    api_->io_free(event);
    close(fds[0]);
}

// What libpulse has not freed when the loop goes is freed then, each destroy callback once, and
// none of the callbacks runs afterwards.
TEST(PulseMainLoopLifetime, EventsLeftAreDestroyedOnceWithTheLoop) {
    LinuxMainLoop loop;
    int destroyed = 0;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        PulseMainLoop pulse(loop);
        pa_mainloop_api* api = pulse.Api();
        pa_io_event* io = api->io_new(
            api, fds[0], PA_IO_EVENT_INPUT,
            [](pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void*) { ADD_FAILURE(); },
            &destroyed);
        api->io_set_destroy(io, [](pa_mainloop_api*, pa_io_event*, void* userdata) {
            ++*static_cast<int*>(userdata);
        });
        const timeval soon = WallClockIn(1ms);
        pa_time_event* time = api->time_new(
            api, &soon,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void*) { ADD_FAILURE(); },
            &destroyed);
        api->time_set_destroy(time, [](pa_mainloop_api*, pa_time_event*, void* userdata) {
            ++*static_cast<int*>(userdata);
        });
        pa_defer_event* defer = api->defer_new(
            api, [](pa_mainloop_api*, pa_defer_event*, void*) { ADD_FAILURE(); }, &destroyed);
        api->defer_set_destroy(defer, [](pa_mainloop_api*, pa_defer_event*, void* userdata) {
            ++*static_cast<int*>(userdata);
        });
    }
    EXPECT_EQ(destroyed, 3);
    ASSERT_EQ(write(fds[1], "x", 1), 1);  // the descriptor is ready, the timer due
    usleep(5'000);
    loop.ProcessPending();
    close(fds[1]);
    close(fds[0]);
}

}  // namespace
}  // namespace korv::os_linux
