#include "platform/linux/linux_device_notifications.h"

#include <dirent.h>
#include <libudev.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/linux/linux_socket_hid.h"
#include "platform/linux/unique_fd.h"
#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

// How many udev messages one wake-up takes at most; the watch is level-triggered, so the rest
// come with the next turn of the loop and other descriptors get theirs in between.
constexpr int kMaxUdevMessagesPerWakeUp = 64;

struct UdevUnref {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UniqueUdev = std::unique_ptr<udev, UdevUnref>;
using UniqueUdevMonitor = std::unique_ptr<udev_monitor, UdevUnref>;
using UniqueUdevDevice = std::unique_ptr<udev_device, UdevUnref>;

struct DirClose {
    void operator()(DIR* folder) const { closedir(folder); }
};
using UniqueDir = std::unique_ptr<DIR, DirClose>;

DeviceNotificationFailure FailureOf(std::u16string call, int error) {
    return {std::move(call), static_cast<std::uint32_t>(error)};
}

// ---- udev: hidraw nodes that come and go

// The event of a hidraw uevent, or nothing for actions other than add and remove (change,
// bind, ...) and for a device without a node.
std::optional<DeviceEvent> EventOf(udev_device* device) {
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    if (action == nullptr || node == nullptr)
        return std::nullopt;
    if (std::strcmp(action, "add") == 0)
        return DeviceEvent{DeviceEventKind::Arrival, Utf16FromUtf8(node)};
    if (std::strcmp(action, "remove") == 0)
        return DeviceEvent{DeviceEventKind::Removal, Utf16FromUtf8(node)};
    return std::nullopt;
}

class UdevSource {
  public:
    // The descriptor to watch, or the failing call.
    [[nodiscard]] std::optional<DeviceNotificationFailure> Start() {
        context_.reset(udev_new());
        if (!context_)
            return FailureOf(u"udev_new", errno);
        // The "udev" source: events the udev daemon has processed, so the node exists.
        monitor_.reset(udev_monitor_new_from_netlink(context_.get(), "udev"));
        if (!monitor_)
            return FailureOf(u"udev_monitor_new_from_netlink", errno);
        if (const int r =
                udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "hidraw", nullptr);
            r < 0)
            return FailureOf(u"udev_monitor_filter_add_match_subsystem_devtype", -r);
        if (const int r = udev_monitor_enable_receiving(monitor_.get()); r < 0)
            return FailureOf(u"udev_monitor_enable_receiving", -r);
        return std::nullopt;
    }

    [[nodiscard]] int Fd() const { return udev_monitor_get_fd(monitor_.get()); }

    // The events of the messages waiting now (the socket does not block). A message that
    // libudev refuses (not from udev, malformed, filtered out) gives none.
    [[nodiscard]] std::vector<DeviceEvent> Drain() {
        std::vector<DeviceEvent> events;
        for (int i = 0; i < kMaxUdevMessagesPerWakeUp; ++i) {
            errno = 0;
            const UniqueUdevDevice device(udev_monitor_receive_device(monitor_.get()));
            if (!device && (errno == EAGAIN || errno == 0))
                break;
            // The socket overflowed and events were lost: which devices came or went is unknown,
            // so it counts as an arrival, and the re-open it starts finds whatever is there now.
            if (!device && errno == ENOBUFS)
                events.push_back({DeviceEventKind::Arrival, {}});
            if (!device)
                continue;
            if (std::optional<DeviceEvent> event = EventOf(device.get()))
                events.push_back(std::move(*event));
        }
        return events;
    }

  private:
    UniqueUdev context_;
    UniqueUdevMonitor monitor_;
};

// ---- inotify: the sockets of simulated interfaces, and hidraw nodes without a udev daemon

bool IsSocketIn(const std::string& folder, const std::string& name) {
    struct stat status {};
    const std::string path = folder + "/" + name;
    return lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

bool IsHidrawNodeIn(const std::string& folder, const std::string& name) {
    struct stat status {};
    const std::string path = folder + "/" + name;
    return name.starts_with("hidraw") && lstat(path.c_str(), &status) == 0 &&
           S_ISCHR(status.st_mode);
}

// The entries of a folder that a source reports, and whether the source makes the folder.
struct FolderEntries {
    bool (*is_one)(const std::string& folder, const std::string& name);
    bool create_folder;
};
constexpr FolderEntries kSimulatedSockets{IsSocketIn, true};
constexpr FolderEntries kHidrawNodes{IsHidrawNodeIn, false};

std::set<std::string> EntriesIn(const std::string& folder, FolderEntries entries) {
    std::set<std::string> found;
    const UniqueDir listing(opendir(folder.c_str()));
    if (!listing)
        return found;
    while (const dirent* entry = readdir(listing.get())) {
        if (entries.is_one(folder, entry->d_name))
            found.insert(entry->d_name);
    }
    return found;
}

// Arrivals and removals of the entries of one folder, from inotify.
class FolderSource {
  public:
    FolderSource(std::string folder, FolderEntries entries)
        : folder_(std::move(folder)), entries_(entries) {}

    [[nodiscard]] std::optional<DeviceNotificationFailure> Start() {
        if (const int error = entries_.create_folder ? CreateSocketFolder(folder_) : 0; error != 0)
            return FailureOf(u"mkdir", error);
        inotify_.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!inotify_)
            return FailureOf(u"inotify_init1", errno);
        if (!AddWatch())
            return FailureOf(u"inotify_add_watch", errno);
        known_ = EntriesIn(folder_, entries_);
        return std::nullopt;
    }

    [[nodiscard]] int Fd() const { return inotify_.Get(); }

    [[nodiscard]] std::vector<DeviceEvent> Drain() {
        std::vector<DeviceEvent> events;
        // Aligned for inotify_event; holds at least one event with the longest name.
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = read(inotify_.Get(), buffer, sizeof buffer);
            if (length < 0 && errno == EINTR)
                continue;
            if (length <= 0)
                break;
            for (std::size_t at = 0;
                 at + sizeof(inotify_event) <= static_cast<std::size_t>(length);) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                const std::size_t size = sizeof(inotify_event) + event->len;
                if (at + size > static_cast<std::size_t>(length))
                    break;
                Handle(*event, events);
                at += size;
            }
        }
        return events;
    }

  private:
    static constexpr std::uint32_t kEvents =
        IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;

    [[nodiscard]] bool AddWatch() { return inotify_add_watch(Fd(), folder_.c_str(), kEvents) >= 0; }

    void Handle(const inotify_event& event, std::vector<DeviceEvent>& events) {
        if ((event.mask & IN_Q_OVERFLOW) != 0)
            return Rescan(events);
        if ((event.mask & IN_IGNORED) != 0)
            return WatchAgain(events);
        if ((event.mask & IN_ISDIR) != 0 || event.len == 0)
            return;
        const std::string name(event.name, strnlen(event.name, event.len));
        if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0 && entries_.is_one(folder_, name)) {
            known_.insert(name);
            events.push_back({DeviceEventKind::Arrival, PathOf(name)});
        } else if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0 && known_.erase(name) != 0) {
            events.push_back({DeviceEventKind::Removal, PathOf(name)});
        }
    }

    // Events were lost: what is there now against what was known.
    void Rescan(std::vector<DeviceEvent>& events) {
        std::set<std::string> now = EntriesIn(folder_, entries_);
        for (const std::string& name : known_) {
            if (!now.contains(name))
                events.push_back({DeviceEventKind::Removal, PathOf(name)});
        }
        for (const std::string& name : now) {
            if (!known_.contains(name))
                events.push_back({DeviceEventKind::Arrival, PathOf(name)});
        }
        known_ = std::move(now);
    }

    // The folder was removed, which ends its watch: it is made again (the source's own) and
    // watched again, so a simulator that starts later is still noticed.
    void WatchAgain(std::vector<DeviceEvent>& events) {
        const bool there = entries_.create_folder ? CreateSocketFolder(folder_) == 0
                                                  : access(folder_.c_str(), F_OK) == 0;
        if (there && AddWatch())
            return Rescan(events);
        for (const std::string& name : known_)
            events.push_back({DeviceEventKind::Removal, PathOf(name)});
        known_.clear();
    }

    std::u16string PathOf(const std::string& name) const {
        return Utf16FromUtf8(folder_ + "/" + name);
    }

    std::string folder_;
    FolderEntries entries_;
    UniqueFd inotify_;
    std::set<std::string> known_;  // the entries in the folder, as far as the events tell
};

// ---- The registration

class LinuxDeviceNotificationRegistration : public DeviceNotificationRegistration {
  public:
    LinuxDeviceNotificationRegistration(LinuxMainLoop& loop, std::string socket_folder,
                                        std::string dev_folder, DeviceChangeListener& listener)
        : loop_(loop),
          listener_(listener),
          nodes_(std::move(dev_folder), kHidrawNodes),
          sockets_(std::move(socket_folder), kSimulatedSockets) {}
    ~LinuxDeviceNotificationRegistration() override {
        // Watches first: no callback once the sources begin to go.
        udev_watch_.reset();
        nodes_watch_.reset();
        sockets_watch_.reset();
    }
    LinuxDeviceNotificationRegistration(const LinuxDeviceNotificationRegistration&) = delete;
    LinuxDeviceNotificationRegistration& operator=(const LinuxDeviceNotificationRegistration&) =
        delete;

    // Starts the sources: hidraw nodes from the udev daemon's events where one runs, else from
    // the dev folder (the kernel makes the nodes there; its own events would wake the monitor
    // for every device of the machine), and the simulated sockets. The first failure, if any.
    [[nodiscard]] std::optional<DeviceNotificationFailure> Start(HidrawEvents hidraw,
                                                                 bool watch_sockets) {
        if (hidraw == HidrawEvents::Automatic)
            hidraw = RunningHidrawEvents();
        std::optional<DeviceNotificationFailure> failure;
        if (hidraw == HidrawEvents::FromUdevDaemon) {
            failure = udev_.Start();
            if (!failure)
                failure = WatchSource(udev_watch_, udev_.Fd(), [this] { Deliver(udev_.Drain()); });
        } else {
            failure = nodes_.Start();
            if (!failure)
                failure =
                    WatchSource(nodes_watch_, nodes_.Fd(), [this] { Deliver(nodes_.Drain()); });
        }
        if (!watch_sockets)
            return failure;
        std::optional<DeviceNotificationFailure> socket_failure = sockets_.Start();
        if (!socket_failure) {
            socket_failure =
                WatchSource(sockets_watch_, sockets_.Fd(), [this] { Deliver(sockets_.Drain()); });
        }
        return failure ? failure : socket_failure;
    }

    [[nodiscard]] bool PostNodesChanged() override {
        return loop_.PostTask([alive = std::weak_ptr<int>(alive_), &listener = listener_] {
            if (!alive.expired())
                listener.OnDeviceEvent({DeviceEventKind::NodesChanged, {}});
        });
    }

  private:
    [[nodiscard]] std::optional<DeviceNotificationFailure> WatchSource(
        std::unique_ptr<FdWatch>& watch, int fd, std::function<void()> on_ready) {
        watch = loop_.Watch(fd, EPOLLIN,
                            [on_ready = std::move(on_ready)](std::uint32_t) { on_ready(); });
        if (!watch)
            return FailureOf(u"epoll_ctl", errno);
        return std::nullopt;
    }

    // A listener may end the registration from its callback: nothing of it is used after that.
    void Deliver(std::vector<DeviceEvent> events) {
        const std::weak_ptr<int> alive = alive_;
        DeviceChangeListener& listener = listener_;
        for (const DeviceEvent& event : events) {
            if (alive.expired())
                return;
            listener.OnDeviceEvent(event);
        }
    }

    LinuxMainLoop& loop_;
    DeviceChangeListener& listener_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // expires with the registration
    UdevSource udev_;
    FolderSource nodes_;
    FolderSource sockets_;
    std::unique_ptr<FdWatch> udev_watch_;
    std::unique_ptr<FdWatch> nodes_watch_;
    std::unique_ptr<FdWatch> sockets_watch_;
};

}  // namespace

// systemd's own test for a running udev daemon: its control socket.
HidrawEvents RunningHidrawEvents() {
    return access("/run/udev/control", F_OK) == 0 ? HidrawEvents::FromUdevDaemon
                                                  : HidrawEvents::FromDevFolder;
}

LinuxDeviceNotifications::LinuxDeviceNotifications(LinuxMainLoop& loop, std::string socket_folder,
                                                   HidrawEvents hidraw_events,
                                                   std::string dev_folder)
    : loop_(loop),
      socket_folder_(std::move(socket_folder)),
      hidraw_events_(hidraw_events),
      dev_folder_(std::move(dev_folder)) {}

std::u16string LinuxDeviceNotifications::InterfaceClassName() const {
    return u"hidraw";
}

DeviceNotificationStart LinuxDeviceNotifications::Register(DeviceChangeListener& listener) {
    auto registration = std::make_unique<LinuxDeviceNotificationRegistration>(
        loop_, socket_folder_, dev_folder_, listener);
    std::optional<DeviceNotificationFailure> failure =
        registration->Start(hidraw_events_, !socket_folder_.empty());
    return {std::move(registration), std::move(failure)};
}

}  // namespace korv::os_linux
