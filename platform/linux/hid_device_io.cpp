#include "platform/linux/hid_device_io.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace korv::os_linux {

HidFailureKind HidFailureKindOf(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:
        case ESHUTDOWN:
        case ENOTCONN:      // the server of a node or socket went away
        case ECONNREFUSED:  // the socket file is there, no server listens on it any more
        case ECONNRESET:
        case EPIPE:
            return HidFailureKind::DeviceGone;
        case ECANCELED:
            return HidFailureKind::Cancelled;
        case EACCES:
        case EPERM:
        case EBUSY:
            return HidFailureKind::AccessDenied;
        case EINVAL:
        case EBADF:
        case ENOTTY:
        case EFAULT:
        case ENOSYS:
        case EOPNOTSUPP:
        case ENAMETOOLONG:
        case EMSGSIZE:
        case ENOTSOCK:
        case EPROTOTYPE:  // a socket of another type
            return HidFailureKind::Invalid;
        default:
            return HidFailureKind::Other;
    }
}

HidFailure HidFailureOf(std::string_view operation, int error) {
    return {operation, HidFailureKindOf(error), static_cast<std::uint32_t>(error)};
}

HidReadResult ReadOutcome(HidReadResult::Status status, HidFailure failure) {
    HidReadResult result;
    result.status = status;
    result.failure = failure;
    return result;
}

HidReadResult CancelledRead(std::string_view operation) {
    return ReadOutcome(HidReadResult::Status::Cancelled,
                       {operation, HidFailureKind::Cancelled, ECANCELED});
}

HidReadResult ReportRead(std::size_t size) {
    HidReadResult result;
    result.status = HidReadResult::Status::Report;
    result.size = size;
    return result;
}

UniqueFd NewStopEvent() {
    return UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void SignalStop(const UniqueFd& stop) {
    if (!stop.Valid())
        return;
    const std::uint64_t one = 1;
    // An eventfd takes an 8-byte count at once or not at all; a full counter is readable anyway,
    // so a failed write leaves nothing to do. (A cast to void does not silence glibc's
    // warn_unused_result on write under _FORTIFY_SOURCE; a test of the result does.)
    if (write(stop.Get(), &one, sizeof one) != sizeof one)
        return;
}

DeviceWait WaitForDeviceOrStop(int device, short events, int stop,
                               std::optional<DeviceClock::time_point> deadline) {
    pollfd fds[] = {{device, events, 0}, {stop, POLLIN, 0}};
    for (;;) {
        int timeout_ms = -1;
        if (deadline) {
            const auto left = *deadline - DeviceClock::now();
            timeout_ms = static_cast<int>(std::max<std::int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        const int ready = poll(fds, 2, timeout_ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return {DeviceWait::How::Failed, 0, errno};
        if (fds[1].revents != 0)
            return {DeviceWait::How::Stopped};
        if (ready == 0)
            return {DeviceWait::How::TimedOut};
        return {DeviceWait::How::Ready, fds[0].revents};
    }
}

}  // namespace korv::os_linux
