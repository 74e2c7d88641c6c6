#include "programs/monitor/linux_monitor_services.h"

namespace korv::os_linux {
namespace {

constexpr char kSoundClientName[] = "korvanth417-monitor";

std::vector<SocketHidDeclaration> DeclaredSockets(const LinuxPlatform& platform) {
    std::vector<SocketHidDeclaration> sockets;
    for (SimulatedHidInterface& simulated :
         platform.settings.ReadSimulatedInterfaces(platform.debug))
        sockets.push_back({std::move(simulated.pipe_name), std::move(simulated.hardware_id),
                           simulated.capabilities});
    return sockets;
}

}  // namespace

std::unique_ptr<MonitorServices> MonitorServices::Start(LinuxPlatform& platform,
                                                        SdBusConnection connection) {
    if (!connection) {
        platform.debug.Trace(u"No session bus; the monitor ends");
        return nullptr;
    }
    auto bus = LinuxBus::Attach(std::move(connection), platform.main_loop, platform.debug);
    if (!bus) {
        platform.debug.Trace(u"The session bus cannot be served; the monitor ends");
        return nullptr;
    }
    // The bus name is the monitor's single-instance guard and the configuration program's way to
    // it: without the bus another monitor could start beside this one, so this one ends.
    bus->SetOnLost([&platform] {
        platform.debug.Trace(u"The monitor ends with its session bus");
        platform.main_loop.Quit(0);
    });
    std::unique_ptr<MonitorServices> self(new MonitorServices(platform, std::move(bus)));
    self->service_ = LinuxMonitorService::Create(*self->bus_, self->Requests());
    if (!self->service_) {
        platform.debug.Trace(u"The monitor's bus object cannot be registered; the monitor ends");
        return nullptr;
    }
    self->tray_ = LinuxSniTray::Create(*self->bus_, platform.files, platform.files.DataFolder(),
                                       self->TrayClicks(), platform.debug);
    if (!self->tray_) {
        platform.debug.Trace(u"The tray item cannot be put on the bus; the monitor ends");
        return nullptr;
    }
    return self;
}

MonitorServices::MonitorServices(LinuxPlatform& platform, std::unique_ptr<LinuxBus> bus)
    : platform_(platform),
      bus_(std::move(bus)),
      peer_(*bus_, ProgramBesideExecutable(kConfigProgramFile), platform.debug),
      microphone_(platform.main_loop, platform.debug, kSoundClientName),
      message_boxes_(*bus_, platform.debug, [this] { return Title(); }),
      hidraw_(platform.debug),
      sockets_(DefaultSocketFolder().value_or(std::string()), DeclaredSockets(platform)),
      hid_({&hidraw_, &sockets_}),
      device_notifications_(platform.main_loop, DefaultSocketFolder().value_or(std::string())) {
    microphone_.SetMuteListener([this](std::optional<bool> muted) { OnMuteChanged(muted); });
    microphone_.SetFailureListener(
        [this](std::u16string_view reason) { message_boxes_.ShowError(reason, Title()); });
}

std::u16string MonitorServices::Title() const {
    return monitor_ != nullptr ? monitor_->Title() : std::u16string(kApplicationTitle);
}

MonitorPorts MonitorServices::Ports(LinuxPlatform& platform) {
    return {platform.DataPorts(),
            peer_,
            microphone_,
            *tray_,
            {platform.files, nullptr, message_boxes_, keyboard_, platform.debug},
            hid_,
            platform.main_loop,
            device_notifications_};
}

MonitorRequests MonitorServices::Requests() {
    return {
        .reload_profiles =
            [this](std::int32_t profile_id) {
                if (monitor_ != nullptr)
                    monitor_->WMReloadProfiles(profile_id);
            },
        .reload_settings =
            [this] {
                if (monitor_ != nullptr)
                    monitor_->WMReloadSettings();
            },
        .toggle_microphone = [this] { microphone_.ToggleMute(); },
        .microphone_muted = [this] { return microphone_.Muted(); },
    };
}

// The clicks run from the main loop after the bus handler returned: Exit may end the loop and
// release the bus.
TrayActions MonitorServices::TrayClicks() {
    return {
        .config =
            [this] {
                if (monitor_ != nullptr)
                    monitor_->Config1Click();
            },
        .exit =
            [this] {
                if (monitor_ != nullptr)
                    monitor_->Exit1Click();
            },
    };
}

BusNameResult MonitorServices::OwnBusName(BusNameRequest& request) {
    const BusNameResult result = request.Wait();
    bus_->Refresh();
    return result;
}

void MonitorServices::Connect(TKORVANTH417MONMAIN& monitor) {
    monitor_ = &monitor;
}

void MonitorServices::ShowTray() {
    tray_->SetTitle(Title());
    if (!tray_->Show())
        platform_.debug.Trace(u"Tray icon cannot be added");
}

void MonitorServices::Disconnect() {
    monitor_ = nullptr;
}

// Whoever changed it (a button, the bus method, the desktop's mixer), the tray's state and the
// bus property follow.
void MonitorServices::OnMuteChanged(std::optional<bool> muted) {
    if (monitor_ != nullptr)
        monitor_->ShowMicrophoneState();
    if (service_ != nullptr)
        static_cast<void>(service_->EmitMutedChanged(muted.value_or(false)));
}

}  // namespace korv::os_linux
