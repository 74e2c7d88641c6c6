#include "programs/common/linux_platform.h"

#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "platform/linux/unique_fd.h"

namespace korv::os_linux {
namespace {

// The signal descriptor and its watch, released in that order's reverse.
class SignalWatch final : public FdWatch {
  public:
    SignalWatch(UniqueFd fd, sigset_t set) : fd_(std::move(fd)), set_(set) {}
    ~SignalWatch() override {
        watch_.reset();
        pthread_sigmask(SIG_UNBLOCK, &set_, nullptr);
    }
    bool Start(LinuxMainLoop& loop, std::function<void()> on_signal) {
        watch_ = loop.Watch(fd_.Get(), EPOLLIN, [this, on_signal](std::uint32_t) {
            signalfd_siginfo info;
            while (read(fd_.Get(), &info, sizeof info) == sizeof info)
                on_signal();
        });
        return watch_ != nullptr;
    }

  private:
    UniqueFd fd_;
    sigset_t set_;
    std::unique_ptr<FdWatch> watch_;
};

}  // namespace

std::unique_ptr<FdWatch> LinuxPlatform::WatchSignals(std::initializer_list<int> signals,
                                                     std::function<void()> on_signal) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : signals)
        sigaddset(&set, signal);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        return nullptr;
    auto watch = std::make_unique<SignalWatch>(
        UniqueFd(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC)), set);
    if (!watch->Start(main_loop, std::move(on_signal)))
        return nullptr;  // unblocks the signals again
    return watch;
}

}  // namespace korv::os_linux
