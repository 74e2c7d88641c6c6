// The fake hidraw node itself, through plain system calls: it must behave as the kernel's
// hidraw does where the backend relies on it, or the backend's tests prove nothing.

#include "tests/linux/fake_hidraw.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace korv::test {
namespace {

using namespace std::chrono_literals;

// The boot-protocol mouse of the HID class definition.
const Report kBootMouse{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00,
                        0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01,
                        0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05,
                        0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81,
                        0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};

class File {
  public:
    File(const std::string& path, int flags) : fd_(open(path.c_str(), flags | O_CLOEXEC)) {}
    ~File() {
        if (fd_ >= 0)
            close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

short Revents(const File& file) {
    pollfd fd{file.Get(), POLLIN, 0};
    return poll(&fd, 1, 0) == 1 ? fd.revents : 0;
}

TEST(FakeHidrawNode, OneReadIsOneReportCutToTheReadAndEveryOpenFileGetsItsOwnCopy) {
    FakeHidraw fake;
    ASSERT_TRUE(fake.Valid());
    const int node = fake.AddDevice(kBootMouse, {});
    const File blocking(fake.NodePath(node), O_RDWR);
    const File other(fake.NodePath(node), O_RDWR | O_NONBLOCK);
    ASSERT_GE(blocking.Get(), 0);
    ASSERT_GE(other.Get(), 0);
    ssize_t got = 0;
    std::uint8_t bytes[64] = {};
    std::thread reader([&] { got = read(blocking.Get(), bytes, 2); });
    ASSERT_TRUE(fake.WaitForWaiters(node, 1, 5s));
    fake.PushReport(node, {7, 1, 2, 3});
    fake.PushReport(node, {8, 4});
    reader.join();
    ASSERT_EQ(got, 2);  // the first report, cut to the read
    EXPECT_EQ(bytes[0], 7);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(read(blocking.Get(), bytes, sizeof bytes), 2);  // the next report, whole
    EXPECT_EQ(bytes[0], 8);

    EXPECT_EQ(read(other.Get(), bytes, sizeof bytes), 4);  // the other file has both
    EXPECT_EQ(Revents(other) & POLLIN, POLLIN);
    EXPECT_EQ(read(other.Get(), bytes, sizeof bytes), 2);
    EXPECT_EQ(Revents(other), 0);
    EXPECT_EQ(read(other.Get(), bytes, sizeof bytes), -1);
    EXPECT_EQ(errno, EAGAIN);
}

TEST(FakeHidrawNode, AnUnpluggedNodeHangsUpFailsAndIsGoneUntilReplugged) {
    FakeHidraw fake;
    ASSERT_TRUE(fake.Valid());
    const int node = fake.AddDevice(kBootMouse, {});
    const File file(fake.NodePath(node), O_RDWR | O_NONBLOCK);
    ASSERT_GE(file.Get(), 0);
    fake.PushReport(node, {1, 2, 3});
    fake.Unplug(node);
    EXPECT_EQ(Revents(file), POLLIN | POLLERR | POLLHUP);
    std::uint8_t bytes[8];
    EXPECT_EQ(read(file.Get(), bytes, sizeof bytes), 3);  // what was queued before
    EXPECT_EQ(Revents(file), POLLERR | POLLHUP);
    EXPECT_EQ(read(file.Get(), bytes, sizeof bytes), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(write(file.Get(), bytes, 2), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_LT(open(fake.NodePath(node).c_str(), O_RDWR | O_CLOEXEC), 0);
    EXPECT_EQ(errno, ENOENT);
    struct stat info {};
    EXPECT_NE(lstat((fake.Root() + "/sys/class/hidraw/hidraw0").c_str(), &info), 0);

    fake.Replug(node);
    EXPECT_EQ(Revents(file), POLLERR | POLLHUP);  // the old file stays unplugged
    const File again(fake.NodePath(node), O_RDWR | O_NONBLOCK);
    EXPECT_GE(again.Get(), 0);
    EXPECT_EQ(lstat((fake.Root() + "/sys/class/hidraw/hidraw0").c_str(), &info), 0);
}

}  // namespace
}  // namespace korv::test
