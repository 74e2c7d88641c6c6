#pragma once
// A PulseAudio server of the test's own: its own runtime folder (so tests run side by side),
// started with the modules a test asks for, checked with pactl, stopped by its process id and
// its folder removed.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/linux/temp_folder.h"

extern char** environ;

namespace korv::os_linux::testing {

class PrivatePulseServer {
  public:
    // A null microphone (the default source) and a null speaker.
    static std::vector<std::string> WithMicrophone() {
        return {"module-native-protocol-unix", "module-null-sink", "module-null-source"};
    }
    // The protocol alone: a server without any source.
    static std::vector<std::string> WithoutSources() { return {"module-native-protocol-unix"}; }

    PrivatePulseServer() = default;
    // The server ends before its folder is removed.
    ~PrivatePulseServer() { Kill(SIGTERM); }
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    // Starts the server and waits until its socket takes connections; false when it did not.
    [[nodiscard]] bool Start(const std::vector<std::string>& modules) {
        if (!folder_.Valid() || pid_ > 0)
            return false;
        std::vector<std::string> args{"pulseaudio",     "-n",
                                      "--daemonize=no", "--exit-idle-time=-1",
                                      "--disable-shm",  "--log-target=stderr"};
        for (const std::string& module : modules) {
            args.push_back("-L");
            args.push_back(module);
        }
        std::vector<std::string> env = Environment();
        const std::string program = FindProgram("pulseaudio");
        const std::string log = folder_ / "pulseaudio.log";
        std::vector<char*> argv = Pointers(args);
        std::vector<char*> envp = Pointers(env);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            // The server ends with the test program even when a crash or a time limit ends it.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                _exit(1);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (out < 0 || in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
                _exit(1);
            close_range(3, ~0U, 0);  // no descriptor of the test program, a lock included
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            if (Pactl("info").find("Server Name") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Ends the server at once, as a crash would.
    void Kill(int signal = SIGKILL) {
        if (pid_ <= 0)
            return;
        kill(pid_, signal);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // The libpulse server string of this server.
    std::string Server() const { return "unix:" + folder_ / "pulse/native"; }

    // What pactl prints for the arguments (standard output and error), run against this server.
    std::string Pactl(const std::string& arguments) const {
        const std::string command = "env -i PATH=\"$PATH\" HOME='" + folder_.Path() +
                                    "' PULSE_SERVER='" + Server() + "' pactl " + arguments +
                                    " 2>&1";
        std::string out;
        const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        if (!pipe)
            return out;
        std::array<char, 256> buffer{};
        while (fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr)
            out += buffer.data();
        return out;
    }

    // "yes" or "no" as pactl reports the mute of a source, or what it said instead.
    std::string SourceMute(const std::string& source = "@DEFAULT_SOURCE@") const {
        const std::string out = Pactl("get-source-mute " + source);
        if (out.starts_with("Mute: "))
            return out.substr(6, out.find('\n') - 6);
        return out;
    }

  private:
    std::vector<std::string> Environment() const {
        return {"HOME=" + folder_.Path(), "XDG_RUNTIME_DIR=" + folder_.Path(),
                "PATH=" + std::string(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin")};
    }
    static std::string FindProgram(const std::string& name) {
        const char* path = getenv("PATH");
        std::string folders = path != nullptr ? path : "/usr/bin:/bin";
        for (std::size_t from = 0; from <= folders.size();) {
            const std::size_t cut = std::min(folders.find(':', from), folders.size());
            const std::string candidate = folders.substr(from, cut - from) + "/" + name;
            if (cut > from && access(candidate.c_str(), X_OK) == 0)
                return candidate;
            from = cut + 1;
        }
        return "/usr/bin/" + name;
    }
    static std::vector<char*> Pointers(std::vector<std::string>& texts) {
        std::vector<char*> pointers;
        for (std::string& text : texts)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
        return pointers;
    }

    TempFolder folder_;
    pid_t pid_ = -1;
};

}  // namespace korv::os_linux::testing
