// korvanth417-monitor, the monitor on Linux: one per user session, no window. It owns the bus
// name com.korvanth417.Monitor (a second start finds it owned and ends), reads the mouse through
// hidraw and the simulated sockets, and mutes the sound server's default source.

#include <csignal>
#include <optional>

#include "app/mouse_monitor.h"
#include "programs/common/linux_platform.h"
#include "programs/monitor/linux_monitor_services.h"

namespace korv::os_linux {
namespace {

constexpr int kExitNoBus = 2;
constexpr int kExitNoSignals = 3;

// The session bus as the monitor opens it before anything else: connected, with the request for
// the monitor's name queued. The connection's login exchange travels while config.ini is read;
// Hello and the request then travel while the services start.
struct EarlyBus {
    EarlyBus() : connection(ConnectSessionBus()) {
        if (connection)
            name.emplace(connection.get(), kMonitorBusName);
    }

    SdBusConnection connection;
    std::optional<BusNameRequest> name;
};

int RunMonitor(LinuxPlatform& platform, EarlyBus& bus) {
    // The signals are taken over before any thread starts, so that every thread leaves them to
    // the main loop. INT, TERM and HUP end the monitor as its Exit does: the configuration
    // program is told, the readers stop, the bus name is released.
    TKORVANTH417MONMAIN* running = nullptr;
    const auto signals = platform.WatchSignals({SIGINT, SIGTERM, SIGHUP}, [&running] {
        if (running != nullptr)
            running->Exit1Click();
    });
    if (!signals) {
        platform.debug.Trace(u"The signals cannot be watched; the monitor ends");
        return kExitNoSignals;
    }
    if (bus.name)
        bus.name->Push();
    const auto services = MonitorServices::Start(platform, std::move(bus.connection));
    if (!services)
        return kExitNoBus;
    switch (services->OwnBusName(*bus.name)) {
        case BusNameResult::Owned:
            break;
        case BusNameResult::AlreadyOwned:
            platform.debug.Trace(kAlreadyRunningTrace);
            return 0;
        case BusNameResult::Failed:
            platform.debug.Trace(u"The monitor's bus name cannot be taken; the monitor ends");
            return kExitNoBus;
    }
    // The panel shows the item as soon as this monitor is the only one; the captions, tooltip
    // and icon follow as signals once FormCreate has applied the language, before the loop
    // answers the panel's first request.
    services->ShowTray();
    const auto data_module = LoadDataModule(platform.DataPorts(), platform.settings);
    TKORVANTH417MONMAIN monitor(nullptr, services->Ports(platform), *data_module,
                                platform.settings);
    services->Connect(monitor);
    running = &monitor;
    monitor.FormCreate();
    const int result = platform.main_loop.Run();
    running = nullptr;
    monitor.FormDestroy();
    services->Disconnect();
    return result;
}

}  // namespace
}  // namespace korv::os_linux

int main() {
    // A trace line to a standard error whose reader has gone fails; it must not end the monitor.
    std::signal(SIGPIPE, SIG_IGN);
    korv::os_linux::EarlyBus bus;
    korv::os_linux::LinuxPlatform platform;
    return korv::os_linux::RunMonitor(platform, bus);
}
