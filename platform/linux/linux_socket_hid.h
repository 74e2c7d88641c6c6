#pragma once
// Simulated HID interfaces on Linux: Unix SOCK_SEQPACKET sockets served by another program (the
// simulated mouse, a bench, a test) in the folder `$XDG_RUNTIME_DIR/korvanth417/`, declared
// with the capabilities a device would report. The walk lists a declared socket while its file
// exists; each message the server sends is one input report, identifier byte first, and each
// message a client sends is an output report. A device reads them the way the hidraw class
// reads a node: one report per read, a wait in poll on the socket and a stop eventfd, and a
// server that closes the connection or goes away is a device gone.
//
// Threads: Enumerate and Open on the owner's thread, as the port says; the devices as the port
// says.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/hid_interfaces.h"

namespace korv::os_linux {

// The folder's name below the user's runtime folder.
inline constexpr std::string_view kSocketFolderName = "korvanth417";

// `$XDG_RUNTIME_DIR/korvanth417`, or nothing when XDG_RUNTIME_DIR is unset or not a full path.
[[nodiscard]] std::optional<std::string> DefaultSocketFolder();

// Creates the socket folder, readable by its owner only, when it is missing (one level: the
// folder above must exist). 0 when the folder is there now, else the errno of mkdir.
[[nodiscard]] int CreateSocketFolder(const std::string& folder);

// One socket that a server may offer as a HID interface.
struct SocketHidDeclaration {
    std::u16string name;  // the socket is <folder>/<name>
    std::u16string hardware_id;
    HidCapabilities capabilities;
};

// The device path of a declared socket: its full file name.
[[nodiscard]] std::u16string SocketHidPath(std::string_view folder, std::u16string_view name);

// The longest output report a device writes in one message.
inline constexpr std::size_t kMaxSocketReportLength = 65535;

class LinuxSocketHidInterfaces : public HidInterfaces {
  public:
    // `folder`: where the sockets are (DefaultSocketFolder, or a test's own); empty when there
    // is none, and then nothing is listed or opened. A name declared
    // more than once is one interface, its first declaration counts; a name that holds a '/', is
    // empty, or is "." or ".." declares nothing.
    LinuxSocketHidInterfaces(std::string folder, std::vector<SocketHidDeclaration> declared);

    // Each declared socket whose file exists, in the order declared, with its hardware
    // identifier. No connection is made.
    [[nodiscard]] std::vector<HidInterfaceInfo> Enumerate() const override;

    // Identify: the declared capabilities, without connecting. Reading and Control: connects to
    // the socket without waiting; a socket that is missing or that no server listens on any
    // more fails as DeviceGone, one whose listen queue is full as Other.
    [[nodiscard]] OpenResult Open(std::u16string_view path, HidOpenMode mode) const override;

  private:
    std::string folder_;
    std::vector<SocketHidDeclaration> declared_;
};

}  // namespace korv::os_linux
