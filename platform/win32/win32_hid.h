#pragma once
// The platform's HID interfaces on Windows: the device-setup walk of the HID interface class,
// the HID library's attributes, capabilities, features and button usages, and the shared
// overlapped reads and bounded writes (win32_hid_device.h). The device-setup and HID functions
// are bound at run time from the system folder, at the first call that needs them, so a system
// without them still runs (the walk then lists nothing).

#include <memory>
#include <string_view>
#include <vector>

#include "ports/hid_interfaces.h"

namespace korv::win32 {

// The device-setup and HID functions, bound at run time; shared by the interfaces object and
// the devices it opens, so that a device keeps its libraries loaded.
struct HidLibraries;

class Win32HidInterfaces : public HidInterfaces {
  public:
    Win32HidInterfaces();
    ~Win32HidInterfaces() override;
    Win32HidInterfaces(const Win32HidInterfaces&) = delete;
    Win32HidInterfaces& operator=(const Win32HidInterfaces&) = delete;

    // Whether "SetupApi.dll" was bound (the platform's interfaces can be walked) and whether
    // "HID.dll" was bound too (their capabilities, features and usages can be read).
    [[nodiscard]] bool DeviceSetupBound() const;
    [[nodiscard]] bool HidBound() const;

    // The platform's interfaces of the HID class in the order the device-setup walk lists them.
    [[nodiscard]] std::vector<HidInterfaceInfo> Enumerate() const override;

    // Opens an interface for overlapped I/O in every mode, with read and write access as the
    // walk of the HID class always opened it; a device opened to Identify refuses transfers.
    [[nodiscard]] OpenResult Open(std::u16string_view path, HidOpenMode mode) const override;

  private:
    [[nodiscard]] const std::shared_ptr<const HidLibraries>& Libraries() const;
    mutable std::shared_ptr<const HidLibraries> libraries_;
};

}  // namespace korv::win32
