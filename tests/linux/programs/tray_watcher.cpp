// korv-tray-watcher: a panel's StatusNotifierWatcher for the end-to-end script, on the session
// bus of the environment. It prints "registered SERVICE" for each item that registers, and ends
// on SIGTERM or SIGINT, or when the bus goes away.

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

#include "platform/linux/linux_bus.h"
#include "platform/linux/utf8_text.h"
#include "tests/linux/tray_watcher_standin.h"

namespace {

class StderrTrace : public korv::DebugOutput {
  public:
    void Trace(std::u16string_view line) const override {
        std::fprintf(stderr, "%s\n", korv::os_linux::Utf8FromUtf16(line).c_str());
    }
};

}  // namespace

int main() {
    using namespace korv::os_linux;
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    const int stop_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);

    LinuxMainLoop loop;
    StderrTrace debug;
    const auto bus = LinuxBus::Attach(ConnectSessionBus(), loop, debug);
    if (stop_fd < 0 || !bus)
        return 2;
    bus->SetOnLost([&loop] { loop.Quit(0); });
    const auto stop = loop.Watch(stop_fd, EPOLLIN, [&loop](std::uint32_t) { loop.Quit(0); });
    const auto watcher = korv::testing::TrayWatcherStandIn::Start(
        *bus, [](const std::string&, const std::string& service) {
            std::printf("registered %s\n", service.c_str());
            std::fflush(stdout);
        });
    if (!watcher || !stop)
        return 2;
    std::printf("watching\n");
    std::fflush(stdout);
    const int result = loop.Run();
    close(stop_fd);
    return result;
}
