#include "platform/linux/linux_bus.h"

#include <poll.h>
#include <sys/epoll.h>
#include <time.h>

#include <cerrno>
#include <optional>
#include <utility>

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;

std::uint64_t MonotonicNowUsec() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// The epoll events for sd-bus's poll events.
std::uint32_t EpollEvents(int poll_events) {
    return ((poll_events & POLLIN) != 0 ? EPOLLIN : 0u) |
           ((poll_events & POLLOUT) != 0 ? EPOLLOUT : 0u);
}

}  // namespace

SdBusConnection ConnectSessionBus(std::string_view address) {
    sd_bus* raw = nullptr;
    if (address.empty())
        return SdBusConnection(sd_bus_open_user(&raw) >= 0 ? raw : nullptr);
    if (sd_bus_new(&raw) < 0)
        return nullptr;
    SdBusConnection bus(raw);
    const std::string text(address);
    if (sd_bus_set_address(raw, text.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
        sd_bus_start(raw) < 0)
        return nullptr;
    return bus;
}

namespace {

// The bus's answers to RequestName (DBUS_REQUEST_NAME_REPLY_*).
constexpr std::uint32_t kPrimaryOwner = 1;
constexpr std::uint32_t kExists = 3;
constexpr std::uint32_t kAlreadyOwner = 4;

int OnNameReply(sd_bus_message* reply, void* answer, sd_bus_error*) {
    auto& result = *static_cast<std::optional<BusNameResult>*>(answer);
    std::uint32_t code = 0;
    if (sd_bus_message_is_method_error(reply, nullptr) ||
        sd_bus_message_read(reply, "u", &code) < 0)
        result = BusNameResult::Failed;
    else if (code == kPrimaryOwner || code == kAlreadyOwner)
        result = BusNameResult::Owned;
    else
        result = code == kExists ? BusNameResult::AlreadyOwned : BusNameResult::Failed;
    return 0;
}

}  // namespace

bool ServeBusUntil(sd_bus* bus, const std::function<bool()>& done,
                   std::optional<std::chrono::milliseconds> limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit.value_or(0ms);
    while (!done()) {
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0)
            return false;
        if (processed > 0)
            continue;
        std::uint64_t wait_usec = UINT64_MAX;
        if (limit) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= 0ms)
                return false;
            wait_usec = static_cast<std::uint64_t>(
                std::chrono::ceil<std::chrono::microseconds>(left).count());
        }
        const int waited = sd_bus_wait(bus, wait_usec);
        if (waited < 0 && waited != -EINTR)
            return false;
    }
    return true;
}

// The request is queued behind the connection's Hello, which is still unanswered (a blocking
// call would wait for Hello's answer first): both leave together once the connection is driven,
// one round trip to the bus, not two.
BusNameRequest::BusNameRequest(sd_bus* bus, const char* name) : bus_(sd_bus_ref(bus)) {
    sd_bus_slot* raw = nullptr;
    // Without SD_BUS_NAME_QUEUE sd-bus asks with DO_NOT_QUEUE.
    if (sd_bus_request_name_async(bus, &raw, name, 0, OnNameReply, &answer_) < 0)
        answer_ = BusNameResult::Failed;
    slot_.reset(raw);
}

void BusNameRequest::Push() {
    while (sd_bus_is_ready(bus_.get()) == 0 && sd_bus_process(bus_.get(), nullptr) > 0) {
    }
}

BusNameResult BusNameRequest::Wait() {
    // The call's own time-out ends the wait with an error reply at the latest.
    if (!ServeBusUntil(bus_.get(), [this] { return answer_.has_value(); }))
        return BusNameResult::Failed;
    return *answer_;
}

BusNameResult RequestBusName(sd_bus* bus, const char* name) {
    return BusNameRequest(bus, name).Wait();
}

LinuxBus::LinuxBus(SdBusConnection connection, LinuxMainLoop& loop, const DebugOutput& debug)
    : connection_(std::move(connection)), loop_(loop), debug_(debug) {}

std::unique_ptr<LinuxBus> LinuxBus::Attach(SdBusConnection connection, LinuxMainLoop& loop,
                                           const DebugOutput& debug) {
    if (!connection)
        return nullptr;
    const int fd = sd_bus_get_fd(connection.get());
    if (fd < 0)
        return nullptr;
    std::unique_ptr<LinuxBus> bus(new LinuxBus(std::move(connection), loop, debug));
    LinuxBus* self = bus.get();
    bus->watched_events_ = EPOLLIN;
    bus->watch_ = loop.Watch(fd, EPOLLIN, [self](std::uint32_t) { self->Process(); });
    bus->timer_ = loop.CreateTimer([self] {
        self->deadline_usec_ = UINT64_MAX;
        self->Process();
    });
    if (!bus->watch_ || !bus->timer_)
        return nullptr;
    bus->Refresh();
    return bus;
}

LinuxBus::~LinuxBus() {
    watch_.reset();
    timer_.reset();
}

// sd_bus_process handles one thing at a time (a message, a time-out, a step of the start or
// of the closing) and says 0 once there is nothing left to do now. It must not be entered
// again from one of its own callbacks.
void LinuxBus::Process() {
    owner_.Check();
    if (processing_)
        return;
    processing_ = true;
    while (sd_bus_process(connection_.get(), nullptr) > 0) {
    }
    processing_ = false;
    Refresh();
}

void LinuxBus::Refresh() {
    owner_.Check();
    if (!watch_ || processing_)
        return;
    sd_bus* bus = connection_.get();
    const int events = sd_bus_is_open(bus) > 0 ? sd_bus_get_events(bus) : -ENOTCONN;
    if (events < 0) {
        Disconnected();
        return;
    }
    const std::uint32_t wanted = EpollEvents(events);
    if (wanted != watched_events_ && loop_.ChangeWatch(*watch_, wanted))
        watched_events_ = wanted;

    std::uint64_t deadline = UINT64_MAX;
    if (sd_bus_get_timeout(bus, &deadline) <= 0)
        deadline = UINT64_MAX;
    if (deadline == UINT64_MAX) {
        timer_->Stop();
    } else if (deadline != deadline_usec_ || !timer_->Running()) {
        const std::uint64_t now = MonotonicNowUsec();
        const std::uint64_t wait_usec = deadline > now ? deadline - now : 0;
        timer_->Start(std::chrono::milliseconds((wait_usec + 999) / 1000));
    }
    deadline_usec_ = deadline;
}

// A lost connection is not reopened: the loop stops watching its socket, which would otherwise
// report its hang-up for ever.
void LinuxBus::Disconnected() {
    debug_.Trace(u"Session bus connection lost");
    watch_.reset();
    timer_->Stop();
    deadline_usec_ = UINT64_MAX;
    if (on_lost_)
        std::exchange(on_lost_, nullptr)();
}

}  // namespace korv::os_linux
