#pragma once
// Simulated HID interfaces on Windows: message-mode named pipes served by another program (the
// simulated mouse, a bench, a test), declared with the capabilities a device would report. The
// walk lists a declared pipe while it exists; each message the server writes is one input
// report, identifier byte first, and what the client writes is an output report. They are read
// and written with the same calls as the platform's HID class (win32_hid_device.h), so
// delivery, cancelling and removal (a broken pipe is a device gone) follow the same paths.
//
// Threads: Enumerate and Open on the owner's thread, as the port says.

#include <string>
#include <string_view>
#include <vector>

#include "ports/hid_interfaces.h"

namespace korv::win32 {

// One pipe that a server may offer as a HID interface.
struct PipeHidDeclaration {
    std::u16string pipe_name;  // the pipe is "\\.\pipe\" followed by this
    std::u16string hardware_id;
    HidCapabilities capabilities;
};

// The device path of a declared pipe: "\\.\pipe\" followed by the pipe name.
[[nodiscard]] std::u16string PipeHidPath(std::u16string_view pipe_name);

class Win32PipeHidInterfaces : public HidInterfaces {
  public:
    // A pipe declared more than once, also in another letter case or with trailing dots or
    // blanks (which the system drops from a pipe name), is one interface: its first declaration
    // counts, without the trailing dots and blanks.
    explicit Win32PipeHidInterfaces(std::vector<PipeHidDeclaration> declared);

    // Each declared pipe that exists, in the order declared. Telling whether a pipe exists
    // waits a moment when every instance of it is taken; those waits end after a few
    // milliseconds per walk, and the pipes left are listed without a look (opening them tells).
    [[nodiscard]] std::vector<HidInterfaceInfo> Enumerate() const override;

    // Identify: the declared capabilities, without connecting to the pipe. Reading and Control:
    // connects to a free instance of the pipe, without waiting for one; a pipe whose every
    // instance is taken fails as CreateFileW with the system's "pipe busy".
    [[nodiscard]] OpenResult Open(std::u16string_view path, HidOpenMode mode) const override;

  private:
    std::vector<PipeHidDeclaration> declared_;
};

}  // namespace korv::win32
