#pragma once
// What the Linux benchmark programs share: owners of descriptors, temporary folders and child
// processes, a PulseAudio server of the bench's own, and percentiles of a series.
//
// Threads: each object on the thread that owns it.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/linux/temp_folder.h"

extern char** environ;

namespace korv::bench {

// A descriptor of the bench's own, closed when it goes.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            close(fd_);
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    [[nodiscard]] bool Valid() const { return fd_ >= 0; }
    [[nodiscard]] int Get() const { return fd_; }

  private:
    int fd_;
};

// A folder below the system's temporary folder, removed with everything in it when it goes.
using TempFolder = os_linux::testing::TempFolder;

// The address of the socket file `path`; false when the path is too long for one.
inline bool UnixAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A client of `type` (SOCK_STREAM, SOCK_SEQPACKET) connected to the socket file `path`; invalid
// when refused.
inline UniqueFd ConnectUnix(const std::string& path, int type) {
    sockaddr_un address;
    if (!UnixAddress(path, address))
        return UniqueFd();
    UniqueFd socket_fd(socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    if (!socket_fd.Valid() || connect(socket_fd.Get(), reinterpret_cast<const sockaddr*>(&address),
                                      sizeof(address)) != 0) {
        return UniqueFd();
    }
    return socket_fd;
}

// A PulseAudio server of the bench's own, in its own folder (its runtime folder and home), with a
// null microphone as its only source and so the default one; stopped by its process id.
class PrivatePulseServer {
  public:
    explicit PrivatePulseServer(std::string folder) : folder_(std::move(folder)) {}
    ~PrivatePulseServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    // Starts the server and waits until its socket takes connections; false when it did not
    // within 5 s (its log is `pulseaudio.log` in the folder).
    [[nodiscard]] bool Start() {
        std::vector<std::string> args{"pulseaudio",
                                      "-n",
                                      "--daemonize=no",
                                      "--exit-idle-time=-1",
                                      "--log-target=stderr",
                                      "-L",
                                      "module-native-protocol-unix auth-anonymous=1",
                                      "-L",
                                      "module-null-source source_name=korv_bench_mic"};
        const char* path = std::getenv("PATH");
        std::vector<std::string> env{"HOME=" + folder_, "XDG_RUNTIME_DIR=" + folder_,
                                     std::string("PATH=") + (path != nullptr ? path : "/usr/bin")};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const std::string log = folder_ + "/pulseaudio.log";
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const int spawned = posix_spawnp(&pid_, "pulseaudio", &actions, nullptr,
                                         Pointers(args).data(), Pointers(env).data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return false;
        }
        for (int i = 0; i < 100; ++i) {
            if (ConnectUnix(SocketPath(), SOCK_STREAM).Valid())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // The libpulse server string of this server.
    [[nodiscard]] std::string Server() const { return "unix:" + SocketPath(); }

  private:
    std::string SocketPath() const { return folder_ + "/pulse/native"; }
    static std::vector<char*> Pointers(std::vector<std::string>& texts) {
        std::vector<char*> pointers;
        for (std::string& text : texts)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
        return pointers;
    }

    std::string folder_;
    pid_t pid_ = -1;
};

// The value below which `fraction` of the values lie (0.5: the median).
inline double Percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size()));
    return values[std::min(index, values.size() - 1)];
}

inline double Median(std::vector<double> values) {
    return Percentile(std::move(values), 0.5);
}

}  // namespace korv::bench
