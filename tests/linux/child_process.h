#pragma once
// Programs that a test starts: with an environment of the test's own, output captured or sent to
// a log file, waited for with a limit through a pidfd, and killed by their process id when they
// do not end in time, so that none outlives its test.
//
// Threads: a child is handled by the thread that started it.

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/unique_fd.h"

namespace korv::os_linux::test {

// This process's environment with `overrides` ("NAME=value") put in place of the same names.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& overrides);

class ChildProcess {
  public:
    // Starts `program` with `args`; standard output and error go to `log_file` (created), or
    // to pipes that Finish reads when `log_file` is empty.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment, const std::string& log_file = {});
    // Kills a child that still runs and waits for it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    [[nodiscard]] bool Started() const { return pid_ > 0; }
    [[nodiscard]] pid_t Pid() const { return pid_; }

    // The exit code once the child has ended within `limit` (128 + the signal when a signal
    // ended it); nothing when it still runs.
    std::optional<int> Wait(std::chrono::milliseconds limit);

    struct Output {
        std::optional<int> exit_code;
        std::string out;
        std::string err;
    };
    // Reads the captured output until the child closes it, then waits for its end.
    Output Finish(std::chrono::milliseconds limit);

    void Kill();

  private:
    pid_t pid_ = -1;
    UniqueFd pidfd_;
    UniqueFd out_;
    UniqueFd err_;
    std::optional<int> exit_code_;
};

}  // namespace korv::os_linux::test
