#pragma once
// What the tests of device arrivals, the socket-served HID class and the simulated mouse share:
// a private folder per test (removed with everything in it), a socket server of the test's own,
// and running the main loop until something happened or a generous limit passed.

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/linux_main_loop.h"
#include "platform/linux/unique_fd.h"

namespace korv::os_linux::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr auto kGenerous = std::chrono::seconds(10);

// A folder below /tmp of this test's own, removed with its contents at the end.
class PrivateFolder {
  public:
    PrivateFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "korv-test-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~PrivateFolder() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    [[nodiscard]] bool Valid() const { return !path_.empty(); }
    [[nodiscard]] const std::string& Path() const { return path_; }
    [[nodiscard]] std::string operator/(const std::string& name) const {
        return path_ + "/" + name;
    }

  private:
    std::string path_;
};

inline sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

// A SOCK_SEQPACKET socket listening on `path` (created), or an invalid one.
inline UniqueFd ListenOn(const std::string& path, int type = SOCK_SEQPACKET) {
    UniqueFd fd(socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    const sockaddr_un address = AddressOf(path);
    if (!fd || bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd.Get(), 16) != 0)
        return UniqueFd();
    return fd;
}

// Runs the loop until `done` holds, checked after each event the test's callbacks report with
// `Check`, or until the limit; whether it held.
class LoopRunner {
  public:
    explicit LoopRunner(LinuxMainLoop& loop) : loop_(loop) {}

    void Check() {
        if (done_ && done_())
            loop_.Quit(0);
    }

    bool RunUntil(std::function<bool()> done, std::chrono::milliseconds limit = kGenerous) {
        if (done())
            return true;
        done_ = std::move(done);
        const auto timer = loop_.CreateTimer([this] { loop_.Quit(1); });
        timer->Start(limit);
        const bool held = loop_.Run() == 0;
        done_ = nullptr;
        return held;
    }

  private:
    LinuxMainLoop& loop_;
    std::function<bool()> done_;
};

// Runs what is ready in the loop until `done` holds or the limit passes, looking every few
// milliseconds: for a state that no callback of the test reports.
inline bool PollUntil(LinuxMainLoop& loop, const std::function<bool()>& done,
                      std::chrono::milliseconds limit = kGenerous) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        loop.ProcessPending();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        loop.Sleep(std::chrono::milliseconds(5));
    }
}

}  // namespace korv::os_linux::test
