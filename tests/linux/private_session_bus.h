#pragma once
// A private session bus for one test: a dbus-daemon of its own, listening on a socket in a
// temporary folder of its own, so that tests run side by side and never meet the user's bus.
// The daemon is stopped by its process id and the folder removed when the test ends. Also a
// small runner for the command-line tools that talk to it (busctl).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_main_loop.h"
#include "tests/linux/temp_folder.h"

extern char** environ;

namespace korv::testing {

// A process started with its standard output in a pipe; stopped and reaped when destroyed, and
// ended with the test program even when a crash or a time limit ends that. It inherits no
// descriptor but its standard ones (a lock held by whoever started the tests included).
class ChildProcess {
  public:
    // `quiet`: its standard error goes to /dev/null.
    explicit ChildProcess(const std::vector<std::string>& args, bool quiet = false) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent || dup2(out[1], STDOUT_FILENO) < 0)
                _exit(1);
            if (quiet) {
                const int null = open("/dev/null", O_WRONLY);
                if (null < 0 || dup2(null, STDERR_FILENO) < 0)
                    _exit(1);
            }
            close_range(3, ~0U, 0);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
    }
    ~ChildProcess() {
        Stop();
        if (output_ >= 0)
            close(output_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    [[nodiscard]] bool Started() const { return pid_ > 0; }

    // One line of its output, waiting at most `limit`; empty when none came.
    std::string ReadLine(std::chrono::milliseconds limit) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + limit;
        char c = 0;
        while (std::chrono::steady_clock::now() < end) {
            pollfd ready{output_, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0)
                continue;
            if (read(output_, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
        return {};
    }

    // Whether it ended; its exit status is kept.
    bool Ended() {
        if (pid_ <= 0)
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_)
            return false;
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return true;
    }
    [[nodiscard]] int ExitCode() const { return exit_code_; }

    // Everything it wrote once it ended.
    std::string RestOfOutput() {
        std::string text;
        char buffer[4096];
        for (ssize_t got; (got = read(output_, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(got));
        return text;
    }

    void Stop() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    int exit_code_ = -1;
};

class PrivateSessionBus {
  public:
    PrivateSessionBus() {
        if (folder_.Path().empty())
            return;
        daemon_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                     "--print-address",
                                     "--address=unix:path=" + folder_.Path() + "/bus"},
            /*quiet=*/true);
        if (daemon_->Started())
            address_ = daemon_->ReadLine(std::chrono::seconds(5));
    }
    ~PrivateSessionBus() { Stop(); }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // The bus's address; empty when the daemon did not start.
    [[nodiscard]] const std::string& Address() const { return address_; }
    // Ends the daemon: every connection to it is lost.
    void Stop() { daemon_.reset(); }

  private:
    os_linux::testing::TempFolder folder_;
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

// Runs the loop until `done` holds or `limit` passes; false on the time-out.
inline bool RunUntil(os_linux::LinuxMainLoop& loop, const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        loop.ProcessPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace korv::testing
