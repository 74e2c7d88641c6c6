#include "platform/linux/linux_config_peer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <iterator>
#include <utility>

#include "base/decimal_text.h"
#include "platform/linux/bus_names.h"

extern char** environ;

namespace korv::os_linux {
namespace {

// The message numbers the Windows monitor posts for the same notices, which the trace lines
// name.
constexpr std::uint32_t kMonitorExitMessage = 7036;
constexpr std::uint32_t kDeviceEvent2Message = 7042;
constexpr std::uint32_t kDeviceEvent6Message = 7043;
constexpr std::uint32_t kNoTrace = 0;

class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    [[nodiscard]] int Get() const { return fd_; }

  private:
    int fd_;
};

// What posix_spawn needs set up, released with it.
class SpawnSetup {
  public:
    SpawnSetup() {
        actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
        attributes_ok_ = posix_spawnattr_init(&attributes_) == 0;
    }
    ~SpawnSetup() {
        if (actions_ok_)
            posix_spawn_file_actions_destroy(&actions_);
        if (attributes_ok_)
            posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // A program of its own: a new session (no signals from the monitor's terminal), no signal
    // blocked or ignored, input from /dev/null, and its own folder as the working folder.
    [[nodiscard]] bool Prepare(const std::string& folder) {
        if (!actions_ok_ || !attributes_ok_)
            return false;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        return posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                          POSIX_SPAWN_SETSIGDEF) == 0 &&
               posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
               posix_spawnattr_setsigdefault(&attributes_, &all) == 0 &&
               posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY,
                                                0) == 0 &&
               (folder.empty() ||
                posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()) == 0);
    }

    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attributes() const { return &attributes_; }

  private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool actions_ok_ = false;
    bool attributes_ok_ = false;
};

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Errors that mean the name has no owner: the bus's answer to GetNameOwner, and to a call to a
// name nobody owns and nothing may be started for.
bool IsNoOwner(const sd_bus_error* error) {
    return sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.NameHasNoOwner") ||
           sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.ServiceUnknown");
}

// Debian 12's <sys/pidfd.h> declares pidfd_open without C linkage for C++: the system call.
int PidFdOpen(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

struct LinuxConfigPeer::Child {
    explicit Child(pid_t child_pid) : pid(child_pid), pidfd(PidFdOpen(child_pid)) {}
    pid_t pid;
    UniqueFd pidfd;
    std::unique_ptr<FdWatch> watch;
};

std::string ProgramBesideExecutable(std::string_view file) {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    return FolderOf(std::string(path, static_cast<std::size_t>(length))) + std::string(file);
}

LinuxConfigPeer::LinuxConfigPeer(LinuxBus& bus, std::string program, const DebugOutput& debug)
    : bus_(bus),
      program_(std::move(program)),
      program_name_(kConfigProgramFile, kConfigProgramFile + sizeof kConfigProgramFile - 1),
      debug_(debug) {}

LinuxConfigPeer::~LinuxConfigPeer() = default;

PeerDelivery LinuxConfigPeer::FindPeer(std::string& owner) {
    if (!bus_.Connected())
        return PeerDelivery::NoPeer;
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus_.Get(), &raw, "org.freedesktop.DBus",
                                       "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                       "GetNameOwner") < 0)
        return PeerDelivery::Failed;
    const SdBusMessage question(raw);
    SdBusError error;
    raw = nullptr;
    const int result = sd_bus_message_append(question.get(), "s", kConfigBusName) >= 0
                           ? sd_bus_call(bus_.Get(), question.get(), BusTimeout(kPeerAnswerTimeout),
                                         error.Get(), &raw)
                           : -EINVAL;
    const SdBusMessage reply(raw);
    bus_.Refresh();
    if (result < 0)
        return IsNoOwner(error.Get()) ? PeerDelivery::NoPeer : PeerDelivery::Failed;
    const char* name = nullptr;
    if (sd_bus_message_read(reply.get(), "s", &name) < 0 || name == nullptr)
        return PeerDelivery::Failed;
    owner = name;
    return PeerDelivery::Delivered;
}

PeerDelivery LinuxConfigPeer::Notify(std::uint32_t message, const char* member, const char* types,
                                     std::uint32_t first, std::uint32_t second) {
    std::string owner;
    if (const PeerDelivery found = FindPeer(owner); found != PeerDelivery::Delivered)
        return found;
    sd_bus_message* raw = nullptr;
    const int created = sd_bus_message_new_method_call(bus_.Get(), &raw, owner.c_str(),
                                                       kConfigObjectPath, kConfigInterface, member);
    const SdBusMessage call(raw);
    const bool sent = created >= 0 &&
                      sd_bus_message_append(call.get(), types, first, second) >= 0 &&
                      sd_bus_message_set_expect_reply(call.get(), 0) >= 0 &&
                      sd_bus_message_set_auto_start(call.get(), 0) >= 0 &&
                      sd_bus_send(bus_.Get(), call.get(), nullptr) >= 0;
    bus_.Refresh();
    if (sent)
        return PeerDelivery::Delivered;
    if (message != kNoTrace)
        debug_.Trace(u"Message " + DecimalText(message) + u" could not be posted");
    return PeerDelivery::Failed;
}

PeerDelivery LinuxConfigPeer::NotifyMonitorExit() {
    return Notify(kMonitorExitMessage, "MonitorExit", "");
}

PeerDelivery LinuxConfigPeer::NotifyDeviceEvent(PeerDeviceEvent event, std::uint8_t value) {
    return Notify(event == PeerDeviceEvent::Kind2 ? kDeviceEvent2Message : kDeviceEvent6Message,
                  "DeviceEvent", "uu", static_cast<std::uint32_t>(event), value);
}

// The bus says whether the name has an owner; the question then goes on its way, and the loop
// receives its answer. A switch while one is on its way waits in place of any earlier one.
PeerDelivery LinuxConfigPeer::AskProfileSwitched(std::uint8_t slot) {
    std::string owner;
    if (const PeerDelivery found = FindPeer(owner); found != PeerDelivery::Delivered)
        return found;
    if (question_) {
        waiting_slot_ = slot;
        return PeerDelivery::Delivered;
    }
    const bool sent = SendQuestion(slot);
    bus_.Refresh();
    return sent ? PeerDelivery::Delivered : PeerDelivery::Failed;
}

// The call goes to the well-known name, with nothing to start: for a name that lost its owner
// meanwhile the bus answers at once.
bool LinuxConfigPeer::SendQuestion(std::uint8_t slot) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus_.Get(), &raw, kConfigBusName, kConfigObjectPath,
                                       kConfigInterface, "ProfileSwitched") < 0)
        return false;
    const SdBusMessage call(raw);
    sd_bus_slot* question = nullptr;
    if (sd_bus_message_append(call.get(), "u", static_cast<std::uint32_t>(slot)) < 0 ||
        sd_bus_message_set_auto_start(call.get(), 0) < 0 ||
        sd_bus_call_async(bus_.Get(), &question, call.get(), &LinuxConfigPeer::OnAnswer, this,
                          BusTimeout(kPeerAnswerTimeout)) < 0)
        return false;
    question_.reset(question);
    return true;
}

int LinuxConfigPeer::OnAnswer(sd_bus_message* reply, void* self, sd_bus_error*) {
    static_cast<LinuxConfigPeer*>(self)->Answered(reply);
    return 0;
}

// sd-bus holds its own reference to the question's slot while it calls back, so the slot can
// go here. A peer that went away meanwhile is no one to tell; a lost connection ends both the
// question and the switch that waits, and is traced by the bus.
void LinuxConfigPeer::Answered(sd_bus_message* reply) {
    question_.reset();
    if (sd_bus_is_open(bus_.Get()) <= 0) {
        waiting_slot_.reset();
        return;
    }
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    if (error != nullptr && !IsNoOwner(error))
        debug_.Trace(kPeerNoAnswerTrace);
    const std::optional<std::uint8_t> next = std::exchange(waiting_slot_, std::nullopt);
    if (next && !SendQuestion(*next))
        debug_.Trace(kPeerNoAnswerTrace);
}

bool LinuxConfigPeer::Show() {
    return Notify(kNoTrace, "Show", "") == PeerDelivery::Delivered;
}

bool LinuxConfigPeer::Start() {
    if (program_.empty())
        return false;
    SpawnSetup setup;
    if (!setup.Prepare(FolderOf(program_)))
        return false;
    char* const argv[] = {program_.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program_.c_str(), setup.Actions(), setup.Attributes(), argv, environ) !=
        0)
        return false;
    WatchChild(pid);
    return true;
}

// The pidfd becomes readable when the program ends; then it is reaped, and no zombie stays.
void LinuxConfigPeer::WatchChild(pid_t pid) {
    Child& child = children_.emplace_back(pid);
    if (child.pidfd.Get() < 0) {  // a kernel without pidfds (before 5.3)
        children_.pop_back();
        return;
    }
    const auto entry = std::prev(children_.end());
    child.watch = bus_.Loop().Watch(child.pidfd.Get(), EPOLLIN, [this, entry](std::uint32_t) {
        waitpid(entry->pid, nullptr, WNOHANG);
        children_.erase(entry);
    });
}

std::u16string_view LinuxConfigPeer::ProgramName() const {
    return program_name_;
}

}  // namespace korv::os_linux
