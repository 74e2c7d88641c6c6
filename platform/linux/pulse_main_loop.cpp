#include "platform/linux/pulse_main_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/linux/linux_main_loop.h"
#include "platform/linux/unique_fd.h"

// libpulse declares its event types opaque; this loop gives them their content.

struct pa_io_event {
    korv::os_linux::PulseMainLoop::State* state;
    int fd;
    pa_io_event_cb_t callback;
    void* userdata;
    pa_io_event_destroy_cb_t on_destroy = nullptr;
    std::unique_ptr<korv::os_linux::FdWatch> watch;  // none while no event is wanted
};

struct pa_time_event {
    korv::os_linux::PulseMainLoop::State* state;
    pa_time_event_cb_t callback;
    void* userdata;
    pa_time_event_destroy_cb_t on_destroy = nullptr;
    timeval when{};
    std::unique_ptr<korv::OneShotTimer> timer;
};

struct pa_defer_event {
    korv::os_linux::PulseMainLoop::State* state;
    pa_defer_event_cb_t callback;
    void* userdata;
    pa_defer_event_destroy_cb_t on_destroy = nullptr;
    bool enabled = true;
    bool freed = false;  // freed while the deferred events run: removed once they have run
};

namespace korv::os_linux {
namespace {

// libpulse marks a time on the monotonic clock with this bit of tv_usec (a count of
// microseconds never reaches it); a time without it is on the wall clock.
constexpr suseconds_t kMonotonicTimeMark = suseconds_t{1} << 30;

std::uint32_t ToEpoll(pa_io_event_flags_t flags) {
    std::uint32_t events = 0;
    if (flags & PA_IO_EVENT_INPUT)
        events |= EPOLLIN;
    if (flags & PA_IO_EVENT_OUTPUT)
        events |= EPOLLOUT;
    return events;  // hang-up and error are reported by epoll unasked
}

pa_io_event_flags_t FromEpoll(std::uint32_t events) {
    unsigned flags = PA_IO_EVENT_NULL;
    if (events & EPOLLIN)
        flags |= PA_IO_EVENT_INPUT;
    if (events & EPOLLOUT)
        flags |= PA_IO_EVENT_OUTPUT;
    if (events & EPOLLHUP)
        flags |= PA_IO_EVENT_HANGUP;
    if (events & EPOLLERR)
        flags |= PA_IO_EVENT_ERROR;
    return static_cast<pa_io_event_flags_t>(flags);
}

// The time from now until `when`, rounded up to whole milliseconds; zero when it has passed.
std::chrono::milliseconds DelayUntil(timeval when) {
    const bool monotonic = (when.tv_usec & kMonotonicTimeMark) != 0;
    when.tv_usec &= ~kMonotonicTimeMark;
    timespec now{};
    clock_gettime(monotonic ? CLOCK_MONOTONIC : CLOCK_REALTIME, &now);
    const std::int64_t micros = (static_cast<std::int64_t>(when.tv_sec) - now.tv_sec) * 1'000'000 +
                                when.tv_usec - now.tv_nsec / 1000;
    return std::chrono::milliseconds(std::max<std::int64_t>(0, (micros + 999) / 1000));
}

template <typename Event>
void Erase(std::vector<std::unique_ptr<Event>>& events, Event* event) {
    std::erase_if(events, [event](const auto& owned) { return owned.get() == event; });
}

}  // namespace

struct PulseMainLoop::State {
    explicit State(LinuxMainLoop& main_loop) : loop(main_loop) {}
    ~State();

    LinuxMainLoop& loop;
    pa_mainloop_api api{};
    std::vector<std::unique_ptr<pa_io_event>> ios;
    std::vector<std::unique_ptr<pa_time_event>> times;
    std::vector<std::unique_ptr<pa_defer_event>> defers;
    // Readable while a deferred event is enabled, so that the loop runs them once per turn.
    UniqueFd defer_wake{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::unique_ptr<FdWatch> defer_watch;
    bool running_defers = false;

    void WakeDefers() const {
        const std::uint64_t one = 1;
        while (write(defer_wake.Get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    void RunDefers() {
        std::uint64_t count = 0;
        while (read(defer_wake.Get(), &count, sizeof count) < 0 && errno == EINTR) {
        }
        running_defers = true;
        // By index: a callback may add deferred events, which run in this turn too.
        for (std::size_t i = 0; i < defers.size(); ++i) {
            pa_defer_event* event = defers[i].get();
            if (event->enabled && !event->freed)
                event->callback(&api, event, event->userdata);
        }
        running_defers = false;
        std::erase_if(defers, [](const auto& event) { return event->freed; });
        if (std::ranges::any_of(defers, [](const auto& event) { return event->enabled; }))
            WakeDefers();
    }
};

namespace {

PulseMainLoop::State& StateOf(pa_mainloop_api* api) {
    return *static_cast<PulseMainLoop::State*>(api->userdata);
}

// --- descriptors -------------------------------------------------------------------------

// A watch with no events is no watch: epoll would still report a hang-up, again and again.
void WatchFor(pa_io_event* event, pa_io_event_flags_t flags) {
    const std::uint32_t events = ToEpoll(flags);
    if (events == 0) {
        event->watch.reset();
        return;
    }
    if (event->watch && event->state->loop.ChangeWatch(*event->watch, events))
        return;
    event->watch.reset();
    event->watch = event->state->loop.Watch(event->fd, events, [event](std::uint32_t ready) {
        // The callback may free the event: nothing of it is used afterwards.
        event->callback(&event->state->api, event, event->fd, FromEpoll(ready), event->userdata);
    });
}

pa_io_event* IoNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t flags, pa_io_event_cb_t cb,
                   void* userdata) {
    PulseMainLoop::State& state = StateOf(api);
    auto event = std::make_unique<pa_io_event>(&state, fd, cb, userdata);
    WatchFor(event.get(), flags);
    return state.ios.emplace_back(std::move(event)).get();
}

void IoEnable(pa_io_event* event, pa_io_event_flags_t flags) {
    WatchFor(event, flags);
}

void IoFree(pa_io_event* event) {
    if (event->on_destroy != nullptr)
        event->on_destroy(&event->state->api, event, event->userdata);
    Erase(event->state->ios, event);
}

void IoSetDestroy(pa_io_event* event, pa_io_event_destroy_cb_t cb) {
    event->on_destroy = cb;
}

// --- timers ------------------------------------------------------------------------------

void TimeRestart(pa_time_event* event, const timeval* when) {
    if (when == nullptr) {
        event->timer->Stop();
        return;
    }
    event->when = *when;
    event->timer->Start(DelayUntil(*when));
}

pa_time_event* TimeNew(pa_mainloop_api* api, const timeval* when, pa_time_event_cb_t cb,
                       void* userdata) {
    PulseMainLoop::State& state = StateOf(api);
    auto event = std::make_unique<pa_time_event>(&state, cb, userdata);
    pa_time_event* raw = event.get();
    event->timer = state.loop.CreateTimer([raw] {
        // The callback may free or restart the timer: nothing of it is used afterwards.
        const timeval when = raw->when;
        raw->callback(&raw->state->api, raw, &when, raw->userdata);
    });
    TimeRestart(raw, when);
    state.times.push_back(std::move(event));
    return raw;
}

void TimeFree(pa_time_event* event) {
    if (event->on_destroy != nullptr)
        event->on_destroy(&event->state->api, event, event->userdata);
    Erase(event->state->times, event);
}

void TimeSetDestroy(pa_time_event* event, pa_time_event_destroy_cb_t cb) {
    event->on_destroy = cb;
}

// --- deferred events ---------------------------------------------------------------------

pa_defer_event* DeferNew(pa_mainloop_api* api, pa_defer_event_cb_t cb, void* userdata) {
    PulseMainLoop::State& state = StateOf(api);
    auto event = std::make_unique<pa_defer_event>(&state, cb, userdata);
    state.WakeDefers();
    return state.defers.emplace_back(std::move(event)).get();
}

void DeferEnable(pa_defer_event* event, int enable) {
    event->enabled = enable != 0;
    if (event->enabled)
        event->state->WakeDefers();
}

void DeferFree(pa_defer_event* event) {
    if (event->on_destroy != nullptr)
        event->on_destroy(&event->state->api, event, event->userdata);
    PulseMainLoop::State& state = *event->state;
    event->freed = true;
    event->enabled = false;
    if (!state.running_defers)
        Erase(state.defers, event);
}

void DeferSetDestroy(pa_defer_event* event, pa_defer_event_destroy_cb_t cb) {
    event->on_destroy = cb;
}

void Quit(pa_mainloop_api*, int) {
    // The program's loop is not libpulse's to end.
}

}  // namespace

PulseMainLoop::State::~State() {
    while (!ios.empty())
        IoFree(ios.back().get());
    while (!times.empty())
        TimeFree(times.back().get());
    while (!defers.empty()) {
        pa_defer_event* event = defers.back().get();
        if (!event->freed && event->on_destroy != nullptr)
            event->on_destroy(&api, event, event->userdata);
        defers.pop_back();
    }
}

PulseMainLoop::PulseMainLoop(LinuxMainLoop& loop) : state_(std::make_unique<State>(loop)) {
    pa_mainloop_api& api = state_->api;
    api.userdata = state_.get();
    api.io_new = IoNew;
    api.io_enable = IoEnable;
    api.io_free = IoFree;
    api.io_set_destroy = IoSetDestroy;
    api.time_new = TimeNew;
    api.time_restart = TimeRestart;
    api.time_free = TimeFree;
    api.time_set_destroy = TimeSetDestroy;
    api.defer_new = DeferNew;
    api.defer_enable = DeferEnable;
    api.defer_free = DeferFree;
    api.defer_set_destroy = DeferSetDestroy;
    api.quit = Quit;
    if (state_->defer_wake.Valid()) {
        State* state = state_.get();
        state_->defer_watch = loop.Watch(state_->defer_wake.Get(), EPOLLIN,
                                         [state](std::uint32_t) { state->RunDefers(); });
    }
}

PulseMainLoop::~PulseMainLoop() = default;

bool PulseMainLoop::Valid() const {
    return state_->defer_watch != nullptr;
}

pa_mainloop_api* PulseMainLoop::Api() {
    return &state_->api;
}

}  // namespace korv::os_linux
