#pragma once
// HID interfaces on Windows: the device-setup walk of the HID interface class, the HID library's
// attributes, capabilities and button usages, and overlapped reads that wait for the read and a
// cancel event together. The device-setup and HID functions are bound at run time from the
// system folder, at the first call that needs them, so a system without them still runs (the walk
// then lists only the simulated interfaces).
//
// Simulated interfaces are message-mode named pipes served by another program. They are opened
// and read with the same calls as a device, so delivery, cancelling and removal (a broken pipe
// reads as "device not connected") follow the same paths.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ports/hid_interfaces.h"

namespace korv::win32 {

// The device-setup and HID functions, bound at run time; shared by the interfaces object and
// the devices it opens, so that a device keeps its libraries loaded.
struct HidLibraries;

// The device path of a simulated interface: "\\.\pipe\" followed by the pipe name.
[[nodiscard]] std::u16string SimulatedInterfacePath(std::u16string_view pipe_name);

class Win32HidInterfaces : public HidInterfaces {
  public:
    explicit Win32HidInterfaces(std::vector<SimulatedHidInterface> simulated = {});
    ~Win32HidInterfaces() override;
    Win32HidInterfaces(const Win32HidInterfaces&) = delete;
    Win32HidInterfaces& operator=(const Win32HidInterfaces&) = delete;

    // Whether "SetupApi.dll" was bound (the platform's interfaces can be walked) and whether
    // "HID.dll" was bound too (their capabilities, features and usages can be read).
    [[nodiscard]] bool DeviceSetupBound() const;
    [[nodiscard]] bool HidBound() const;

    // The platform's interfaces of the HID class in the order the device-setup walk lists
    // them, then each simulated interface whose pipe exists at the moment.
    [[nodiscard]] std::vector<HidInterfaceInfo> Enumerate() const override;

    // Opens a platform interface, or a simulated one when `path` is the path of a declared
    // simulated interface. `Read` works on an OverlappedRead device only (a Plain device refuses
    // it with ERROR_INVALID_FUNCTION); `Write` works in both modes.
    [[nodiscard]] OpenResult Open(std::u16string_view path, HidOpenMode mode) const override;

  private:
    [[nodiscard]] const std::shared_ptr<const HidLibraries>& Libraries() const;
    mutable std::shared_ptr<const HidLibraries> libraries_;
    std::vector<SimulatedHidInterface> simulated_;
};

}  // namespace korv::win32
