// The kernel's device events (uevents) on this machine over a time, by subsystem: what wakes a
// program that listens to the kernel's own events (where no udev daemon runs) whatever its
// filter, beside bench/linux_idle.sh's count of the monitor's wake-ups.
//
//   linux_uevents SECONDS
//
// Prints "N kernel device events" and one "  COUNT SUBSYSTEM" line per subsystem. Exit code 1
// when the kernel's event socket cannot be opened.

#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "bench/linux_bench_support.h"

namespace korv {
namespace {

constexpr unsigned kKernelEventsGroup = 1;

// The SUBSYSTEM= field of one event (NUL-separated "KEY=value" fields after a header line).
std::string Subsystem(const char* message, std::size_t size) {
    constexpr std::string_view kKey = "SUBSYSTEM=";
    std::string_view rest(message, size);
    while (!rest.empty()) {
        const std::string_view field = rest.substr(0, rest.find('\0'));
        if (field.starts_with(kKey))
            return std::string(field.substr(kKey.size()));
        rest.remove_prefix(std::min(rest.size(), field.size() + 1));
    }
    return "(none)";
}

int Run(int seconds) {
    const bench::UniqueFd events(
        socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT));
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = kKernelEventsGroup;
    if (!events.Valid() ||
        bind(events.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        std::perror("linux_uevents: the kernel's event socket");
        return 1;
    }
    std::map<std::string, int> by_subsystem;
    int total = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::array<char, 8192> message{};
    for (auto now = std::chrono::steady_clock::now(); now < deadline;
         now = std::chrono::steady_clock::now()) {
        pollfd waiting{events.Get(), POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (poll(&waiting, 1, static_cast<int>(left.count()) + 1) != 1)
            continue;
        const ssize_t size = recv(events.Get(), message.data(), message.size(), 0);
        if (size <= 0)
            continue;
        ++total;
        ++by_subsystem[Subsystem(message.data(), static_cast<std::size_t>(size))];
    }
    std::printf("%d kernel device events\n", total);
    for (const auto& [subsystem, count] : by_subsystem)
        std::printf("  %5d %s\n", count, subsystem.c_str());
    return 0;
}

}  // namespace
}  // namespace korv

int main(int argc, char** argv) {
    const int seconds = argc == 2 ? std::atoi(argv[1]) : 0;
    if (seconds <= 0) {
        std::fprintf(stderr, "Usage: linux_uevents SECONDS\n");
        return 1;
    }
    return korv::Run(seconds);
}
