// The panel's side of the tray for the Linux benches (bench/linux_startup.sh, bench/linux_idle.sh):
// the tests' stand-in of org.kde.StatusNotifierWatcher on the session bus, with what a panel does
// beside it: it reads each new item's properties once, as a panel shows the item, and announces
// StatusNotifierItemUnregistered when the item's connection leaves the bus. Each event is one
// line on standard output, stamped with CLOCK_MONOTONIC in milliseconds:
//
//   <ms> watching
//   <ms> registered <service>
//   <ms> shown <service> <property count> properties, Status=<status>
//   <ms> unregistered <service>
//
// Ends on SIGTERM or SIGINT, or when the bus goes away. Exit codes: 0 ended, 2 no session bus or
// the watcher's name or object was refused.
//
//   linux_sni_watcher

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "platform/linux/linux_bus.h"
#include "platform/linux/linux_sni_tray.h"
#include "platform/linux/unique_fd.h"
#include "platform/linux/utf8_text.h"
#include "tests/linux/tray_watcher_standin.h"

namespace {

using namespace korv::os_linux;

// steady_clock is CLOCK_MONOTONIC on Linux.
void Log(const std::string& line) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::printf("%.3f %s\n", std::chrono::duration<double, std::milli>(now).count(), line.c_str());
    std::fflush(stdout);
}

class StderrTrace : public korv::DebugOutput {
  public:
    void Trace(std::u16string_view line) const override {
        std::fprintf(stderr, "%s\n", Utf8FromUtf16(line).c_str());
    }
};

// What a panel does with the items the watcher takes: shows them, and lets them go with their
// connections.
class Panel {
  public:
    explicit Panel(LinuxBus& bus) : bus_(bus) {}

    [[nodiscard]] bool FollowConnections() {
        sd_bus_slot* slot = nullptr;
        if (sd_bus_match_signal(bus_.Get(), &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameOwnerChanged", OnOwnerChanged,
                                this) < 0)
            return false;
        owners_.reset(slot);
        bus_.Refresh();
        return true;
    }

    // `service` is the bus name the item gave; its object is at the usual path.
    void Registered(const std::string& sender, const std::string& service) {
        const std::string item = service + kTrayItemObjectPath;
        items_[item] = sender;
        Log("registered " + item);
        auto context = std::make_unique<std::string>(item);
        if (sd_bus_call_method_async(bus_.Get(), nullptr, service.c_str(), kTrayItemObjectPath,
                                     "org.freedesktop.DBus.Properties", "GetAll", OnProperties,
                                     context.get(), "s", kTrayItemInterface) >= 0)
            static_cast<void>(context.release());  // OnProperties takes it
        else
            Log("unshown " + item + " (the call could not be sent)");
        bus_.Refresh();
    }

  private:
    static int OnProperties(sd_bus_message* reply, void* context, sd_bus_error*) {
        const std::unique_ptr<std::string> item(static_cast<std::string*>(context));
        if (sd_bus_message_is_method_error(reply, nullptr)) {
            Log("unshown " + *item + " (" + sd_bus_message_get_error(reply)->name + ")");
            return 0;
        }
        int count = 0;
        std::string status = "(none)";
        if (sd_bus_message_enter_container(reply, 'a', "{sv}") >= 0) {
            while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
                const char* name = nullptr;
                const char* value = nullptr;
                if (sd_bus_message_read(reply, "s", &name) >= 0 && std::string(name) == "Status" &&
                    sd_bus_message_read(reply, "v", "s", &value) >= 0)
                    status = value;
                else
                    sd_bus_message_skip(reply, "v");
                sd_bus_message_exit_container(reply);
                ++count;
            }
        }
        Log("shown " + *item + " " + std::to_string(count) + " properties, Status=" + status);
        return 0;
    }

    static int OnOwnerChanged(sd_bus_message* signal, void* self, sd_bus_error*) {
        const char* name = nullptr;
        const char* old_owner = nullptr;
        const char* new_owner = nullptr;
        if (sd_bus_message_read(signal, "sss", &name, &old_owner, &new_owner) < 0 ||
            new_owner[0] != '\0')
            return 0;
        Panel& panel = *static_cast<Panel*>(self);
        for (auto at = panel.items_.begin(); at != panel.items_.end();) {
            if (at->second != old_owner) {
                ++at;
                continue;
            }
            Log("unregistered " + at->first);
            static_cast<void>(
                sd_bus_emit_signal(panel.bus_.Get(), kTrayWatcherObjectPath, kTrayWatcherInterface,
                                   "StatusNotifierItemUnregistered", "s", at->first.c_str()));
            at = panel.items_.erase(at);
        }
        return 0;
    }

    LinuxBus& bus_;
    SdBusSlot owners_;
    std::map<std::string, std::string> items_;  // the item's service path -> its connection
};

}  // namespace

int main() {
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    const UniqueFd stop_fd(signalfd(-1, &stop_signals, SFD_CLOEXEC));

    LinuxMainLoop loop;
    StderrTrace debug;
    const auto bus = LinuxBus::Attach(ConnectSessionBus(), loop, debug);
    if (!stop_fd.Valid() || !bus) {
        std::fprintf(stderr, "linux_sni_watcher: no session bus\n");
        return 2;
    }
    bus->SetOnLost([&loop] { loop.Quit(0); });
    const auto stop = loop.Watch(stop_fd.Get(), EPOLLIN, [&loop](std::uint32_t) { loop.Quit(0); });
    Panel panel(*bus);
    const auto watcher = korv::testing::TrayWatcherStandIn::Start(
        *bus, [&panel](const std::string& sender, const std::string& service) {
            panel.Registered(sender, service);
        });
    if (!stop || !watcher || !panel.FollowConnections()) {
        std::fprintf(stderr, "linux_sni_watcher: the bus refused the watcher\n");
        return 2;
    }
    Log("watching");
    return loop.Run();
}
