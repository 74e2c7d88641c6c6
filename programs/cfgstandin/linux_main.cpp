// korvanth417-config, the stand-in for the suite's configuration program on Linux. Without a
// command it owns the configuration program's bus name and logs, to standard output and to the
// file named after --log, every call the monitor makes; a profile switch of the mouse makes that
// profile the current one and asks the monitor to reload. With a command it edits the stored
// records the monitor acts on and asks the running monitor to reload, as the configuration
// program does, or lists what they hold. See StandInUsage for the commands.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "base/decimal_text.h"
#include "lang/ui_language.h"
#include "platform/linux/linux_bus.h"
#include "platform/linux/linux_config_service.h"
#include "platform/linux/linux_monitor_client.h"
#include "platform/linux/utf8_text.h"
#include "profile/dm_unit.h"
#include "programs/cfgstandin/standin_commands.h"
#include "programs/common/linux_platform.h"

namespace korv::os_linux {
namespace {

constexpr int kExitUsage = 1;
constexpr int kExitNoMonitor = 2;
constexpr int kExitNotStored = 3;
constexpr int kExitNoAnswer = 4;
constexpr int kExitNoBus = 5;

// The log file named on the command line, written through line by line so that a reader sees
// each line while the program runs.
class LogFile {
  public:
    explicit LogFile(const std::string& path) {
        if (!path.empty())
            file_.open(path, std::ios::app);
    }
    void Write(std::string_view line) {
        if (file_.is_open())
            file_ << line << '\n' << std::flush;
    }

  private:
    std::ofstream file_;
};

// Says what happened on standard output (standard error for a failure) and in the log.
int Report(LogFile& log, const std::u16string& line, int exit_code) {
    const std::string text = Utf8FromUtf16(line);
    std::fprintf(exit_code == 0 ? stdout : stderr, "%s\n", text.c_str());
    log.Write(text);
    return exit_code;
}

int RunCommand(LogFile& log, StandInCommand command) {
    LinuxPlatform platform;
    if (const auto problem = ResolveLanguage(command, {platform.locale, platform.files}))
        return Report(log, *problem, kExitUsage);
    const auto dm = LoadDataModule(platform.DataPorts(), platform.settings);
    if (command.kind == StandInCommand::Kind::Show)
        return Report(log, ListButtons(*dm, command.profile), 0);
    if (command.kind == StandInCommand::Kind::ListFunctions)
        return Report(log, ListFunctions(), 0);
    const std::u16string what = DescribeStandInCommand(command);
    const ReloadRequest request = ApplyStandInCommand(command, *dm);
    if (!request.stored) {
        return Report(log, what + u": cannot be stored; the monitor was not asked to reload",
                      kExitNotStored);
    }
    LinuxMonitorClient monitor(ConnectSessionBus());
    const MonitorAnswer answer = request.kind == ReloadRequest::Kind::ReloadProfiles
                                     ? monitor.ReloadProfiles(request.profile_id)
                                     : monitor.ReloadSettings();
    switch (answer) {
        case MonitorAnswer::Done:
            return Report(log, what + u"; monitor asked to reload", 0);
        case MonitorAnswer::NoMonitor:
            return Report(log, what + u"; the monitor is not running: it takes effect at its start",
                          kExitNoMonitor);
        case MonitorAnswer::NoAnswer:
            break;
    }
    return Report(log, what + u"; the monitor did not answer the reload request", kExitNoAnswer);
}

int Serve(LogFile& log) {
    LinuxPlatform platform;
    const auto signals = platform.WatchSignals({SIGINT, SIGTERM, SIGHUP},
                                               [&platform] { platform.main_loop.Quit(0); });
    SdBusConnection connection = ConnectSessionBus();
    auto bus = connection
                   ? LinuxBus::Attach(std::move(connection), platform.main_loop, platform.debug)
                   : nullptr;
    if (!bus)
        return Report(log, u"No session bus: the configuration program cannot serve", kExitNoBus);
    const auto service = LinuxConfigService::Create(
        *bus,
        [&log](std::string_view line) {
            std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
            std::fflush(stdout);
            log.Write(line);
        },
        &platform.main_loop,
        [&log](std::uint32_t slot) {
            // The mouse switched profile: it becomes the current one, as with set-profile.
            if (const auto command = ProfileSwitchedCommand(slot))
                static_cast<void>(RunCommand(log, *command));
            else
                Report(log, u"profile " + DecimalText(slot) + u" is not 0-4: nothing switched", 1);
        });
    if (!service || service->OwnName() != BusNameResult::Owned) {
        return Report(log, u"Another configuration program runs (or the bus refused its name)",
                      kExitUsage);
    }
    Report(log, u"Waiting for calls from the monitor.", 0);
    return platform.main_loop.Run();
}

}  // namespace
}  // namespace korv::os_linux

int main(int argc, char** argv) {
    using namespace korv::os_linux;
    // An output whose reader has gone fails a write; it must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::string log_path;
    std::vector<std::u16string> command_args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--log" || arg == "/log") && i + 1 < argc)
            log_path = argv[++i];
        else
            command_args.push_back(Utf16FromUtf8(arg));
    }
    LogFile log(log_path);
    if (command_args.empty())
        return Serve(log);
    const korv::ParsedStandInCommand parsed = korv::ParseStandInCommand(command_args);
    if (!parsed.command) {
        const int exit_code = Report(log, parsed.problem, kExitUsage);
        if (parsed.unknown) {
            std::fprintf(
                stderr, "usage:\n%s",
                Utf8FromUtf16(korv::StandInUsage(u"korvanth417-config", u"[--log FILE]",
                                                 u"serves the configuration program's bus name, "
                                                 u"logs the monitor's calls"))
                    .c_str());
        }
        return exit_code;
    }
    return RunCommand(log, *parsed.command);
}
