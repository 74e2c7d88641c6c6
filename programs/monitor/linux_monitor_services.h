#pragma once
// What the monitor on Linux works through beside the shared platform: the session bus with the
// monitor's object and the configuration program as its peer, the sound server's microphone, the
// HID interfaces (hidraw nodes, then the simulated sockets config.ini declares) and their
// arrival notices, the tray item a desktop panel shows, message boxes as desktop notifications
// (a press that leaves the microphone as it was is one), and no keyboard state.
//
// Threads: the main thread.

#include <memory>

#include "app/mouse_monitor.h"
#include "hid/combined_hid_interfaces.h"
#include "platform/linux/bus_names.h"
#include "platform/linux/linux_bus.h"
#include "platform/linux/linux_config_peer.h"
#include "platform/linux/linux_device_notifications.h"
#include "platform/linux/linux_hidraw.h"
#include "platform/linux/linux_keyboard_state.h"
#include "platform/linux/linux_microphone.h"
#include "platform/linux/linux_monitor_service.h"
#include "platform/linux/linux_notifications.h"
#include "platform/linux/linux_sni_tray.h"
#include "platform/linux/linux_socket_hid.h"
#include "programs/common/linux_platform.h"

namespace korv::os_linux {

class MonitorServices {
  public:
    // Serves the session bus `connection` from the main loop and puts the monitor's object and
    // its tray item on it, without registering the item. Null, with a trace line, when there is
    // no connection or it refuses an object.
    [[nodiscard]] static std::unique_ptr<MonitorServices> Start(LinuxPlatform& platform,
                                                                SdBusConnection connection);
    MonitorServices(const MonitorServices&) = delete;
    MonitorServices& operator=(const MonitorServices&) = delete;

    // Waits for the answer to the request for the monitor's bus name, sent on the connection
    // given to Start: AlreadyOwned when another monitor runs.
    [[nodiscard]] BusNameResult OwnBusName(BusNameRequest& request);

    // Everything the monitor's component works through, with the shared platform's ports.
    [[nodiscard]] MonitorPorts Ports(LinuxPlatform& platform);

    // From now on the bus object's requests, the tray's clicks and the microphone's changes go
    // to `monitor`, until Disconnect; before, they find no monitor and do nothing.
    void Connect(TKORVANTH417MONMAIN& monitor);
    // Registers the tray item, with the application's title, with the panel's watcher now (the
    // request leaves at once) and whenever one appears. Call it as soon as the bus name is
    // owned: the monitor's state reaches the panel as signals when it is shown.
    void ShowTray();
    void Disconnect();

  private:
    MonitorServices(LinuxPlatform& platform, std::unique_ptr<LinuxBus> bus);
    MonitorRequests Requests();
    TrayActions TrayClicks();
    void OnMuteChanged(std::optional<bool> muted);
    // The monitor's title once it runs (it follows the language), the default before.
    [[nodiscard]] std::u16string Title() const;

    LinuxPlatform& platform_;
    std::unique_ptr<LinuxBus> bus_;
    std::unique_ptr<LinuxMonitorService> service_;
    LinuxConfigPeer peer_;
    LinuxMicrophone microphone_;
    std::unique_ptr<LinuxSniTray> tray_;
    LinuxNotifications message_boxes_;
    NoKeyboardState keyboard_;
    LinuxHidrawInterfaces hidraw_;
    LinuxSocketHidInterfaces sockets_;
    CombinedHidInterfaces hid_;
    LinuxDeviceNotifications device_notifications_;
    TKORVANTH417MONMAIN* monitor_ = nullptr;
};

}  // namespace korv::os_linux
