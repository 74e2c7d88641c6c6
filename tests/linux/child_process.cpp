#include "tests/linux/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace korv::os_linux::test {
namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Posix-spawn file actions, destroyed with their owner.
class FileActions {
  public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

Pipe MakePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return {};
    return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

}  // namespace

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& overrides) {
    std::vector<std::string> environment = overrides;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string& o : overrides)
            replaced = replaced || o.starts_with(name);
        if (!replaced)
            environment.push_back(text);
    }
    return environment;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& environment,
                           const std::string& log_file) {
    std::vector<std::string> argv_texts{program};
    argv_texts.insert(argv_texts.end(), args.begin(), args.end());
    std::vector<std::string> env_texts = environment;
    const std::vector<char*> argv = Pointers(argv_texts);
    const std::vector<char*> envp = Pointers(env_texts);
    FileActions actions;
    Pipe out;
    Pipe err;
    if (log_file.empty()) {
        out = MakePipe();
        err = MakePipe();
        posix_spawn_file_actions_adddup2(actions.Get(), out.write.Get(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(actions.Get(), err.write.Get(), STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, log_file.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(actions.Get(), STDOUT_FILENO, STDERR_FILENO);
    }
    if (posix_spawn(&pid_, program.c_str(), actions.Get(), nullptr, argv.data(), envp.data()) !=
        0) {
        pid_ = -1;
        return;
    }
    // Through syscall: the header of Debian 12's C library declares pidfd_open without C
    // linkage.
    pidfd_.Reset(static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)));
    out_ = std::move(out.read);
    err_ = std::move(err.read);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !Wait(std::chrono::milliseconds(0))) {
        Kill();
        static_cast<void>(Wait(std::chrono::seconds(10)));
    }
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
    if (exit_code_ || pid_ <= 0)
        return exit_code_;
    pollfd entry{pidfd_.Get(), POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(limit.count())) != 1)
        return std::nullopt;
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_)
        return std::nullopt;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exit_code_;
}

ChildProcess::Output ChildProcess::Finish(std::chrono::milliseconds limit) {
    Output output;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (out_.Valid() || err_.Valid()) {
        pollfd entries[] = {{out_.Get(), POLLIN, 0}, {err_.Get(), POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(entries, 2, static_cast<int>(left.count())) <= 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (entries[i].revents == 0)
                continue;
            UniqueFd& fd = i == 0 ? out_ : err_;
            char chunk[4096];
            const ssize_t got = read(fd.Get(), chunk, sizeof chunk);
            if (got <= 0)
                fd.Reset();
            else
                (i == 0 ? output.out : output.err).append(chunk, static_cast<std::size_t>(got));
        }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    output.exit_code = Wait(std::max(left, std::chrono::milliseconds(0)));
    return output;
}

void ChildProcess::Kill() {
    if (pid_ > 0 && !exit_code_)
        kill(pid_, SIGKILL);
}

}  // namespace korv::os_linux::test
