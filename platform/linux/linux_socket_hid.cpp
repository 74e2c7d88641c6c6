#include "platform/linux/linux_socket_hid.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/linux/unique_fd.h"
#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

// How long a write may wait for room in the socket before it fails, as a HID write may.
constexpr int kWriteTimeoutMs = 1000;

HidFailureKind SocketFailureKindOf(int error) {
    switch (error) {
        case ENOENT:
        case ECONNREFUSED:  // the file is there, no server listens on it any more
        case ECONNRESET:
        case EPIPE:
        case ENOTCONN:
            return HidFailureKind::DeviceGone;
        case ECANCELED:
            return HidFailureKind::Cancelled;
        case EACCES:
        case EPERM:
            return HidFailureKind::AccessDenied;
        case EBADF:
        case EINVAL:
        case ENAMETOOLONG:
        case EMSGSIZE:
        case ENOTSOCK:
        case EOPNOTSUPP:
        case EPROTOTYPE:  // a socket of another type
            return HidFailureKind::Invalid;
        default:
            return HidFailureKind::Other;
    }
}

HidFailure SocketFailure(std::string_view operation, int error) {
    return {operation, SocketFailureKindOf(error), static_cast<std::uint32_t>(error)};
}

HidReadResult ReadOutcome(HidReadResult::Status status, HidFailure failure) {
    HidReadResult result;
    result.status = status;
    result.failure = failure;
    return result;
}

HidReadResult CancelledRead() {
    return ReadOutcome(HidReadResult::Status::Cancelled,
                       {"poll", HidFailureKind::Cancelled, ECANCELED});
}

HidReadResult ReportOf(std::size_t size) {
    HidReadResult result;
    result.status = HidReadResult::Status::Report;
    result.size = size;
    return result;
}

// recv gives 0 both for an empty message and at the end of the connection. It is the end when
// the server has closed its side and nothing is left to read.
bool ConnectionEnded(int fd) {
    pollfd entry{fd, POLLRDHUP, 0};
    if (poll(&entry, 1, 0) != 1 || (entry.revents & (POLLRDHUP | POLLHUP)) == 0)
        return false;
    int queued = 0;
    return ioctl(fd, SIOCINQ, &queued) != 0 || queued == 0;
}

bool ValidName(std::u16string_view name) {
    return !name.empty() && name != u"." && name != u".." && name.find(u'/') == name.npos &&
           name.find(u'\0') == name.npos;
}

std::vector<SocketHidDeclaration> OnePerName(std::vector<SocketHidDeclaration> declared) {
    std::vector<SocketHidDeclaration> kept;
    for (SocketHidDeclaration& declaration : declared) {
        const bool seen = std::ranges::any_of(
            kept, [&](const SocketHidDeclaration& k) { return k.name == declaration.name; });
        if (ValidName(declaration.name) && !seen)
            kept.push_back(std::move(declaration));
    }
    return kept;
}

bool IsSocketFile(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

// A socket connected to `path` without waiting, or the errno of the call that failed.
struct Connected {
    UniqueFd socket;
    std::string_view operation;
    int error = 0;
};

Connected ConnectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return {UniqueFd(), "connect", ENAMETOOLONG};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket)
        return {UniqueFd(), "socket", errno};
    // A Unix socket connects at once or not at all; EAGAIN is a full listen queue.
    if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return {UniqueFd(), "connect", errno};
    return {std::move(socket), {}, 0};
}

// A socket's device: the declared capabilities, no features and no button usages (the server
// sends the reports the declared collection would).
class SocketHidDevice : public HidDevice {
  public:
    SocketHidDevice(UniqueFd socket, UniqueFd stop, HidOpenMode mode,
                    const HidCapabilities& capabilities)
        : socket_(std::move(socket)),
          stop_(std::move(stop)),
          mode_(mode),
          capabilities_(capabilities) {}

    CapabilitiesResult Capabilities() const override { return {capabilities_, {}}; }
    HidReadResult Read(std::span<std::uint8_t> buffer) override;
    void CancelRead() override;
    std::optional<HidFailure> Write(std::span<const std::uint8_t> report) override;
    // The socket protocol carries input and output reports only.
    std::optional<HidFailure> GetFeature(std::span<std::uint8_t>) override {
        return HidFailure{"HIDIOCGFEATURE", HidFailureKind::Invalid, EOPNOTSUPP};
    }
    std::optional<HidFailure> SetFeature(std::span<const std::uint8_t>) override {
        return HidFailure{"HIDIOCSFEATURE", HidFailureKind::Invalid, EOPNOTSUPP};
    }
    std::size_t MaxButtonUsages() const override { return 0; }
    std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t>) const override {
        return std::nullopt;
    }

  private:
    enum class Ready : std::uint8_t { Socket, Stopped, TimedOut, Failed };
    // Waits until the socket has `events` or CancelRead was called; `timeout_ms` -1 waits on.
    [[nodiscard]] Ready WaitFor(short events, int timeout_ms, int& error) const;
    [[nodiscard]] std::optional<HidFailure> Send(std::span<const std::uint8_t> message);

    UniqueFd socket_;
    UniqueFd stop_;  // an eventfd: readable once CancelRead was called, and from then on
    HidOpenMode mode_;
    HidCapabilities capabilities_;
    std::atomic<bool> cancelled_ = false;  // ends every later read and write before it starts
};

SocketHidDevice::Ready SocketHidDevice::WaitFor(short events, int timeout_ms, int& error) const {
    for (;;) {
        pollfd entries[] = {{socket_.Get(), events, 0}, {stop_.Get(), POLLIN, 0}};
        const int ready = poll(entries, 2, timeout_ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            error = errno;
            return Ready::Failed;
        }
        if (ready == 0)
            return Ready::TimedOut;
        if (entries[1].revents != 0)
            return Ready::Stopped;
        return Ready::Socket;  // ready, hung up or failed: the next call on it says which
    }
}

HidReadResult SocketHidDevice::Read(std::span<std::uint8_t> buffer) {
    if (mode_ == HidOpenMode::Identify)
        return ReadOutcome(HidReadResult::Status::Refused, SocketFailure("recv", EBADF));
    for (;;) {
        if (cancelled_.load())
            return CancelledRead();
        // MSG_TRUNC makes recv return the message's whole length. A message longer than the
        // buffer fills it and the rest of it is dropped, as a hidraw read into a short buffer
        // does; the next read starts at the next message.
        const ssize_t length =
            recv(socket_.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (length > 0)
            return ReportOf(std::min(static_cast<std::size_t>(length), buffer.size()));
        if (length == 0) {
            if (ConnectionEnded(socket_.Get()))
                return ReadOutcome(HidReadResult::Status::Failed,
                                   {"recv", HidFailureKind::DeviceGone, 0});
            return ReportOf(0);
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return ReadOutcome(HidReadResult::Status::Failed, SocketFailure("recv", errno));
        int error = 0;
        switch (WaitFor(POLLIN, -1, error)) {
            case Ready::Socket:
                break;
            case Ready::Stopped:
                return CancelledRead();
            case Ready::TimedOut:
            case Ready::Failed:
                return ReadOutcome(HidReadResult::Status::Failed, SocketFailure("poll", error));
        }
    }
}

void SocketHidDevice::CancelRead() {
    cancelled_ = true;
    const std::uint64_t one = 1;
    // The eventfd is never read, so it stays readable; a full counter is readable as well.
    static_cast<void>(write(stop_.Get(), &one, sizeof one));
}

std::optional<HidFailure> SocketHidDevice::Write(std::span<const std::uint8_t> report) {
    if (mode_ == HidOpenMode::Identify)
        return SocketFailure("send", EBADF);
    if (report.size() > kMaxSocketReportLength)
        return SocketFailure("send", EMSGSIZE);
    if (report.size() >= capabilities_.output_report_length)
        return Send(report);
    std::vector<std::uint8_t> padded(capabilities_.output_report_length, 0);
    std::ranges::copy(report, padded.begin());
    return Send(padded);
}

// One message, waiting for room in the socket at most kWriteTimeoutMs.
std::optional<HidFailure> SocketHidDevice::Send(std::span<const std::uint8_t> message) {
    for (;;) {
        if (cancelled_.load())
            return SocketFailure("send", ECANCELED);
        // MSG_NOSIGNAL: a server that went away is an error here, not a SIGPIPE.
        if (send(socket_.Get(), message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
            return std::nullopt;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return SocketFailure("send", errno);
        int error = 0;
        switch (WaitFor(POLLOUT, kWriteTimeoutMs, error)) {
            case Ready::Socket:
                break;
            case Ready::Stopped:
                return SocketFailure("send", ECANCELED);
            case Ready::TimedOut:
                return SocketFailure("send", ETIMEDOUT);
            case Ready::Failed:
                return SocketFailure("poll", error);
        }
    }
}

}  // namespace

std::optional<std::string> DefaultSocketFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/')
        return std::nullopt;
    std::string folder = runtime;
    if (folder.back() != '/')
        folder += '/';
    return folder + std::string(kSocketFolderName);
}

int CreateSocketFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) == 0)
        return 0;
    const int error = errno;
    struct stat status {};
    if (error == EEXIST && stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return 0;
    return error == EEXIST ? ENOTDIR : error;
}

std::u16string SocketHidPath(std::string_view folder, std::u16string_view name) {
    return Utf16FromUtf8(folder) + u"/" + std::u16string(name);
}

LinuxSocketHidInterfaces::LinuxSocketHidInterfaces(std::string folder,
                                                   std::vector<SocketHidDeclaration> declared)
    : folder_(std::move(folder)) {
    if (!folder_.empty())
        declared_ = OnePerName(std::move(declared));
}

std::vector<HidInterfaceInfo> LinuxSocketHidInterfaces::Enumerate() const {
    std::vector<HidInterfaceInfo> found;
    for (const SocketHidDeclaration& declaration : declared_) {
        std::u16string path = SocketHidPath(folder_, declaration.name);
        if (IsSocketFile(Utf8FromUtf16(path)))
            found.push_back({std::move(path), {declaration.hardware_id}});
    }
    return found;
}

HidInterfaces::OpenResult LinuxSocketHidInterfaces::Open(std::u16string_view path,
                                                         HidOpenMode mode) const {
    const auto declared = std::ranges::find_if(declared_, [&](const SocketHidDeclaration& d) {
        return SocketHidPath(folder_, d.name) == path;
    });
    if (declared == declared_.end())
        return {nullptr, SocketFailure("connect", ENOENT)};
    if (mode == HidOpenMode::Identify) {
        return {
            std::make_unique<SocketHidDevice>(UniqueFd(), UniqueFd(), mode, declared->capabilities),
            {}};
    }
    UniqueFd stop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stop)
        return {nullptr, SocketFailure("eventfd", errno)};
    Connected connected = ConnectTo(Utf8FromUtf16(path));
    if (!connected.socket)
        return {nullptr, SocketFailure(connected.operation, connected.error)};
    return {std::make_unique<SocketHidDevice>(std::move(connected.socket), std::move(stop), mode,
                                              declared->capabilities),
            {}};
}

}  // namespace korv::os_linux
