#pragma once
// The fakes of every port the monitor window works through, on top of the data module's, and the
// monitor's ports made of them, for the monitor's tests and fuzzers. It lives with the tests: the
// fakes themselves may not see the monitor.

#include "app/mouse_monitor.h"
#include "platform/fake/fake_config_peer.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/fake/fake_device_notifications.h"
#include "platform/fake/fake_hid.h"
#include "platform/fake/fake_hook_library.h"
#include "platform/fake/fake_hook_services.h"
#include "platform/fake/fake_main_loop.h"
#include "platform/fake/fake_tray.h"

namespace korv::fake {

struct FakeMonitorPorts : FakeDataModulePorts {
    FakeConfigPeer peer;
    FakeMicrophone microphone;
    FakeTray tray;
    FakeHookLibrary hook_library;
    FakeLibraryLoader loader{hook_library, files.ExecutableFolder() + u"uiHook.dll"};
    RecordingMessageBoxes message_boxes;
    FakeKeyboardState keyboard;
    FakeHidInterfaces hid;
    FakeMainLoop loop;
    FakeDeviceNotifications notifications;
    MonitorPorts monitor_ports{
        Ports(), peer, microphone,   tray, {files, &loader, message_boxes, keyboard, debug},
        hid,     loop, notifications};
};

}  // namespace korv::fake
