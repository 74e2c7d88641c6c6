#pragma once
// A PulseAudio server of the test's own: its own runtime folder (so tests run side by side),
// started with the modules a test asks for, checked with pactl, stopped by its process id and
// its folder removed.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

    PrivatePulseServer() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "korv-pulse-test.XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            folder_ = pattern;
    }
    ~PrivatePulseServer() {
        Kill(SIGTERM);
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    // Starts the server and waits until its socket takes connections; false when it did not.
    [[nodiscard]] bool Start(const std::vector<std::string>& modules) {
        if (folder_.empty() || pid_ > 0)
            return false;
        std::vector<std::string> args{"pulseaudio",     "-n",
                                      "--daemonize=no", "--exit-idle-time=-1",
                                      "--disable-shm",  "--log-target=stderr"};
        for (const std::string& module : modules) {
            args.push_back("-L");
            args.push_back(module);
        }
        std::vector<std::string> env = Environment();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const std::string log = folder_ + "/pulseaudio.log";
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int spawned = posix_spawnp(&pid_, "pulseaudio", &actions, nullptr,
                                         Pointers(args).data(), Pointers(env).data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return false;
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
    std::string Server() const { return "unix:" + folder_ + "/pulse/native"; }

    // What pactl prints for the arguments (standard output and error), run against this server.
    std::string Pactl(const std::string& arguments) const {
        const std::string command = "env -i PATH=\"$PATH\" HOME='" + folder_ + "' PULSE_SERVER='" +
                                    Server() + "' pactl " + arguments + " 2>&1";
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
        return {"HOME=" + folder_, "XDG_RUNTIME_DIR=" + folder_,
                "PATH=" + std::string(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin")};
    }
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

}  // namespace korv::os_linux::testing
