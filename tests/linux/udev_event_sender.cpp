#include "tests/linux/udev_event_sender.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <sched.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace korv::os_linux::test {
namespace {

constexpr std::uint32_t kUdevMonitorMagic = 0xfeedcafe;
constexpr std::uint32_t kUdevGroup = 2;

// The header of a libudev monitor message; every number in network byte order.
struct UdevMonitorHeader {
    char prefix[8];  // "libudev" and its NUL
    std::uint32_t magic;
    std::uint32_t header_size;
    std::uint32_t properties_offset;
    std::uint32_t properties_length;
    std::uint32_t subsystem_hash;
    std::uint32_t devtype_hash;
    std::uint32_t tag_bloom_high;
    std::uint32_t tag_bloom_low;
};

// MurmurHash2 with seed 0, which libudev's socket filter compares the subsystem's hash with.
std::uint32_t MurmurHash2(std::string_view key) {
    constexpr std::uint32_t m = 0x5bd1e995;
    std::uint32_t h = static_cast<std::uint32_t>(key.size());
    const auto* data = reinterpret_cast<const unsigned char*>(key.data());
    std::size_t length = key.size();
    for (; length >= 4; data += 4, length -= 4) {
        std::uint32_t k;
        std::memcpy(&k, data, 4);
        k *= m;
        k ^= k >> 24;
        k *= m;
        h = h * m ^ k;
    }
    switch (length) {
        case 3:
            h ^= static_cast<std::uint32_t>(data[2]) << 16;
            [[fallthrough]];
        case 2:
            h ^= static_cast<std::uint32_t>(data[1]) << 8;
            [[fallthrough]];
        case 1:
            h ^= data[0];
            h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

}  // namespace

std::vector<std::string> HidrawEventProperties(std::string_view action, int number,
                                               std::uint64_t sequence_number) {
    const std::string node = std::to_string(number);
    return {"ACTION=" + std::string(action),
            "DEVPATH=/devices/virtual/misc/uhid/0003:1234:5678.0001/hidraw/hidraw" + node,
            "SUBSYSTEM=hidraw",
            "DEVNAME=/dev/hidraw" + node,
            "SEQNUM=" + std::to_string(sequence_number),
            "MAJOR=245",
            "MINOR=" + node};
}

std::string UdevMonitorMessage(const std::vector<std::string>& properties) {
    std::string text;
    std::string subsystem;
    for (const std::string& property : properties) {
        text += property;
        text += '\0';
        if (property.starts_with("SUBSYSTEM="))
            subsystem = property.substr(10);
    }
    UdevMonitorHeader header{};
    std::memcpy(header.prefix, "libudev", 8);
    header.magic = htonl(kUdevMonitorMagic);
    header.header_size = sizeof header;
    header.properties_offset = sizeof header;
    header.properties_length = static_cast<std::uint32_t>(text.size());
    header.subsystem_hash = htonl(MurmurHash2(subsystem));
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + text;
}

UdevEventSender::UdevEventSender()
    : socket_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT)) {
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    if (socket_ && bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0)
        socket_.Reset();
}

bool UdevEventSender::SendRaw(std::string_view message) const {
    sockaddr_nl group{};
    group.nl_family = AF_NETLINK;
    group.nl_groups = kUdevGroup;
    return sendto(socket_.Get(), message.data(), message.size(), 0,
                  reinterpret_cast<const sockaddr*>(&group),
                  sizeof group) == static_cast<ssize_t>(message.size());
}

int RunInPrivateNetworkNamespace(const std::function<void()>& body) {
    int error = 0;
    // A namespace is a thread's own until it makes another thread: a thread of its own keeps
    // the change away from the test program's other threads and later tests.
    std::thread thread([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            error = errno;
            return;
        }
        body();
    });
    thread.join();
    return error;
}

}  // namespace korv::os_linux::test
