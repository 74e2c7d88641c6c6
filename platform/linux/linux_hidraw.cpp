#include "platform/linux/linux_hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "hid/hardware_ids.h"
#include "hid/report_descriptor.h"
#include "platform/linux/unique_fd.h"
#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A sysfs text attribute is at most a page.
constexpr std::size_t kMaxUeventSize = 4096;
// bInterfaceNumber ("01\n") and bcdDevice ("2701\n").
constexpr std::size_t kMaxNumberFileSize = 16;
// The longest report hidraw hands over (the kernel's HID_MAX_BUFFER_SIZE).
constexpr std::size_t kMaxReportSize = 16384;
// The longest feature report an ioctl number can encode.
constexpr std::size_t kMaxFeatureSize = _IOC_SIZEMASK;
// More hidraw nodes than the kernel can number (it has 64 minors) are not looked at.
constexpr std::size_t kMaxNodes = 256;
constexpr std::uint16_t kBusUsb = 0x03;
constexpr std::string_view kNodePrefix = "hidraw";
constexpr std::string_view kCollectionMark = "#col";

// ---- Descriptors and files -------------------------------------------------------------------

enum class FileStatus : std::uint8_t { Read, Missing, TooLarge, Unreadable };

struct FileContents {
    FileStatus status = FileStatus::Unreadable;
    std::string bytes;
};

// Reads a regular file of at most `max_size` bytes; never more than one byte beyond that, so an
// oversized file costs nothing. Not a regular file (a FIFO that would block): Unreadable.
FileContents NotRead(FileStatus status) {
    return {status, {}};
}

FileContents ReadBoundedFile(const fs::path& path, std::size_t max_size) {
    const UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file.Valid())
        return NotRead(errno == ENOENT || errno == ENOTDIR ? FileStatus::Missing
                                                           : FileStatus::Unreadable);
    struct stat info {};
    if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return NotRead(FileStatus::Unreadable);
    std::string bytes(max_size + 1, '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = read(file.Get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return NotRead(FileStatus::Unreadable);
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    if (filled > max_size)
        return NotRead(FileStatus::TooLarge);
    bytes.resize(filled);
    return {FileStatus::Read, std::move(bytes)};
}

std::string_view StatusText(FileStatus status) {
    switch (status) {
        case FileStatus::Read:
            return "read";
        case FileStatus::Missing:
            return "missing";
        case FileStatus::TooLarge:
            return "too large";
        case FileStatus::Unreadable:
            return "unreadable";
    }
    return "unreadable";
}

// The value of "KEY=value" in a uevent file.
std::optional<std::string_view> UeventValue(std::string_view uevent, std::string_view key) {
    while (!uevent.empty()) {
        const std::size_t end = std::min(uevent.find('\n'), uevent.size());
        const std::string_view line = uevent.substr(0, end);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
            return line.substr(key.size() + 1);
        uevent.remove_prefix(std::min(end + 1, uevent.size()));
    }
    return std::nullopt;
}

// A hexadecimal number of 1 to `max_digits` digits, nothing else but a final line end.
// A number of sysfs: `max_digits` digits at most in `base`, blanks before it (bNumInterfaces is
// printed as "%2d") and the line's end after it allowed.
std::optional<std::uint32_t> Number(std::string_view text, std::size_t max_digits, int base) {
    if (text.ends_with('\n'))
        text.remove_suffix(1);
    while (text.starts_with(' '))
        text.remove_prefix(1);
    if (text.empty() || text.size() > max_digits)
        return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::uint32_t> HexNumber(std::string_view text, std::size_t max_digits) {
    return Number(text, max_digits, 16);
}

// A node's own name under /dev: one plain file name.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// The number of a "hidrawN" entry.
std::optional<unsigned> NodeNumber(std::string_view name) {
    if (!name.starts_with(kNodePrefix) || name.size() == kNodePrefix.size() || name.size() > 12)
        return std::nullopt;
    unsigned number = 0;
    const char* first = name.data() + kNodePrefix.size();
    const auto [end, error] = std::from_chars(first, name.data() + name.size(), number);
    if (error != std::errc() || end != name.data() + name.size())
        return std::nullopt;
    return number;
}

// ---- One node, as sysfs describes it -----------------------------------------------------------

struct HidrawNode {
    std::string device_file;     // <root>/dev/<DEVNAME>
    HidDeviceIdentity identity;  // collection fields still to be set
    std::vector<HidCollectionLayout> collections;
};

struct NodeRead {
    std::optional<HidrawNode> node;
    std::string why_skipped;
};

NodeRead Skipped(std::string why) {
    return {std::nullopt, std::move(why)};
}

// "0003:0000046D:0000C08B": bus, vendor, product.
bool ReadHidId(std::string_view hid_id, std::uint16_t& bus, HidDeviceIdentity& identity) {
    const std::size_t first = hid_id.find(':');
    const std::size_t second = hid_id.find(':', first == std::string_view::npos ? 0 : first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos)
        return false;
    const auto bus_value = HexNumber(hid_id.substr(0, first), 8);
    const auto vendor = HexNumber(hid_id.substr(first + 1, second - first - 1), 8);
    const auto product = HexNumber(hid_id.substr(second + 1), 8);
    if (!bus_value || !vendor || !product || *bus_value > 0xFFFF || *vendor > 0xFFFF ||
        *product > 0xFFFF) {
        return false;
    }
    bus = static_cast<std::uint16_t>(*bus_value);
    identity.vendor_id = static_cast<std::uint16_t>(*vendor);
    identity.product_id = static_cast<std::uint16_t>(*product);
    return true;
}

// A number file above the HID device: nothing when it is missing; false when it is present but
// not a number of at most `max_digits` hexadecimal digits.
bool ReadOptionalNumber(const fs::path& path, std::size_t max_digits, int base,
                        std::optional<std::uint32_t>& value) {
    const FileContents file = ReadBoundedFile(path, kMaxNumberFileSize);
    if (file.status == FileStatus::Missing)
        return true;
    if (file.status != FileStatus::Read)
        return false;
    value = Number(file.bytes, max_digits, base);
    return value.has_value();
}

// The USB interface number and device release of a HID device on USB: the interface folder is
// the HID device's parent, the USB device its grandparent. Windows names the interface (&MI_)
// only of a composite device, one with more than one interface; a device whose interface count
// is unknown keeps it.
std::string ReadUsbPlace(const fs::path& hid_device, HidDeviceIdentity& identity) {
    const fs::path usb_interface = hid_device.parent_path();
    std::optional<std::uint32_t> interface_number;
    std::optional<std::uint32_t> interfaces;
    std::optional<std::uint32_t> release;
    if (!ReadOptionalNumber(usb_interface / "bInterfaceNumber", 2, 16, interface_number))
        return "its bInterfaceNumber is not a number";
    if (!ReadOptionalNumber(usb_interface.parent_path() / "bNumInterfaces", 3, 10, interfaces))
        return "its bNumInterfaces is not a number";
    if (!ReadOptionalNumber(usb_interface.parent_path() / "bcdDevice", 4, 16, release))
        return "its bcdDevice is not a number";
    if (interface_number && interfaces.value_or(2) > 1)
        identity.interface_number = static_cast<std::uint8_t>(*interface_number);
    if (release)
        identity.revision = static_cast<std::uint16_t>(*release);
    return {};
}

std::string FileProblem(std::string_view what, FileStatus status) {
    return std::string("its ") + std::string(what) + " is " + std::string(StatusText(status));
}

NodeRead ReadNode(const fs::path& root, const std::string& name) {
    const fs::path class_entry = root / "sys/class/hidraw" / name;
    const FileContents uevent = ReadBoundedFile(class_entry / "uevent", kMaxUeventSize);
    if (uevent.status != FileStatus::Read)
        return Skipped(FileProblem("uevent", uevent.status));
    const auto devname = UeventValue(uevent.bytes, "DEVNAME");
    if (!devname || !IsPlainName(*devname))
        return Skipped("its uevent names no device file");
    std::error_code error;
    const fs::path hid_device = fs::canonical(class_entry / "device", error);
    if (error)
        return Skipped("it has no HID device");
    const FileContents hid_uevent = ReadBoundedFile(hid_device / "uevent", kMaxUeventSize);
    if (hid_uevent.status != FileStatus::Read)
        return Skipped(FileProblem("HID device's uevent", hid_uevent.status));
    HidrawNode node;
    std::uint16_t bus = 0;
    const auto hid_id = UeventValue(hid_uevent.bytes, "HID_ID");
    if (!hid_id || !ReadHidId(*hid_id, bus, node.identity))
        return Skipped("its HID device has no valid HID_ID");
    const FileContents descriptor =
        ReadBoundedFile(hid_device / "report_descriptor", kMaxReportDescriptorSize);
    if (descriptor.status != FileStatus::Read)
        return Skipped(FileProblem("report descriptor", descriptor.status));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(descriptor.bytes.data());
    auto collections = ParseReportDescriptor({bytes, descriptor.bytes.size()});
    if (!collections || collections->empty())
        return Skipped("its report descriptor is malformed");
    if (bus == kBusUsb) {
        if (std::string problem = ReadUsbPlace(hid_device, node.identity); !problem.empty())
            return Skipped(std::move(problem));
    }
    node.device_file = (root / "dev" / std::string(*devname)).string();
    node.collections = std::move(*collections);
    return {std::move(node), {}};
}

// The device path of one collection (0-based `index`).
std::string CollectionPath(const HidrawNode& node, std::size_t index) {
    if (node.collections.size() == 1)
        return node.device_file;
    const std::size_t number = index + 1;
    return node.device_file + std::string(kCollectionMark) + (number < 10 ? "0" : "") +
           std::to_string(number);
}

HidDeviceIdentity CollectionIdentity(const HidrawNode& node, std::size_t index) {
    HidDeviceIdentity identity = node.identity;
    const HidCapabilities& capabilities = node.collections[index].capabilities;
    identity.collection_index = static_cast<std::uint16_t>(index + 1);
    identity.collection_count = static_cast<std::uint16_t>(node.collections.size());
    identity.usage_page = capabilities.usage_page;
    identity.usage = capabilities.usage;
    return identity;
}

// The "hidrawN" entries of <root>/sys/class/hidraw, by number.
std::vector<std::string> NodeNames(const fs::path& root) {
    std::vector<std::pair<unsigned, std::string>> found;
    std::error_code error;
    fs::directory_iterator entries(root / "sys/class/hidraw", error);
    for (std::size_t seen = 0; !error && entries != fs::directory_iterator() && seen < kMaxNodes;
         entries.increment(error), ++seen) {
        std::string name = entries->path().filename().string();
        if (const auto number = NodeNumber(name))
            found.emplace_back(*number, std::move(name));
    }
    std::ranges::sort(found);
    std::vector<std::string> names;
    for (auto& [number, name] : found)
        names.push_back(std::move(name));
    return names;
}

// ---- Failures ----------------------------------------------------------------------------------

HidFailureKind KindOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:
        case ESHUTDOWN:
        case ENOTCONN:  // the server of the node went away
            return HidFailureKind::DeviceGone;
        case ECANCELED:
            return HidFailureKind::Cancelled;
        case EACCES:
        case EPERM:
        case EBUSY:
            return HidFailureKind::AccessDenied;
        case EINVAL:
        case EBADF:
        case ENOTTY:
        case EFAULT:
        case ENOSYS:
        case EOPNOTSUPP:
            return HidFailureKind::Invalid;
        default:
            return HidFailureKind::Other;
    }
}

HidFailure FailureOf(std::string_view operation, int error) {
    return {operation, KindOfErrno(error), static_cast<std::uint32_t>(error)};
}

HidReadResult ReadOutcome(HidReadResult::Status status, HidFailure failure) {
    HidReadResult result;
    result.status = status;
    result.failure = failure;
    return result;
}

HidReadResult CancelledRead() {
    return ReadOutcome(HidReadResult::Status::Cancelled,
                       {"read", HidFailureKind::Cancelled, ECANCELED});
}

// ---- The device --------------------------------------------------------------------------------

// One collection of an open node (or, for Identify, of a node that is not opened at all).
class HidrawDevice final : public HidDevice {
  public:
    HidrawDevice(HidCollectionLayout collection, HidOpenMode mode, UniqueFd node, UniqueFd stop)
        : collection_(std::move(collection)),
          mode_(mode),
          node_(std::move(node)),
          stop_(std::move(stop)) {}

    [[nodiscard]] CapabilitiesResult Capabilities() const override {
        return {collection_.capabilities, {}};
    }
    [[nodiscard]] HidReadResult Read(std::span<std::uint8_t> buffer) override;
    void CancelRead() override;
    [[nodiscard]] std::optional<HidFailure> Write(std::span<const std::uint8_t> report) override;
    [[nodiscard]] std::optional<HidFailure> GetFeature(std::span<std::uint8_t> buffer) override;
    [[nodiscard]] std::optional<HidFailure> SetFeature(
        std::span<const std::uint8_t> report) override;
    [[nodiscard]] std::size_t MaxButtonUsages() const override {
        return collection_.MaxButtonUsages();
    }
    [[nodiscard]] std::optional<std::vector<std::uint16_t>> ButtonUsages(
        std::span<const std::uint8_t> report) const override {
        // A report as Read hands it over: without identifiers its first byte is the 0 put
        // there, not the collection's data.
        if (!HasReportIds() && report.empty())
            return std::nullopt;
        return collection_.ButtonUsages(HasReportIds() ? report : report.subspan(1));
    }

  private:
    [[nodiscard]] bool HasReportIds() const { return !collection_.report_ids.empty(); }
    struct Waited {
        enum class How : std::uint8_t { Ready, Cancelled, TimedOut, Failed } how;
        short revents = 0;  // Ready: the node's
        int error = 0;      // Failed: poll's
    };
    // Waits in poll for `events` on the node and for the stop eventfd, until `deadline` if any.
    [[nodiscard]] Waited WaitFor(short events, std::optional<Clock::time_point> deadline) const;
    [[nodiscard]] std::optional<HidReadResult> Take(std::size_t size,
                                                    std::span<std::uint8_t> buffer) const;
    [[nodiscard]] std::optional<HidFailure> Transferable(std::string_view operation) const;
    [[nodiscard]] std::optional<HidFailure> FeatureIoctl(std::string_view operation,
                                                         unsigned long request,
                                                         std::span<std::uint8_t> buffer) const;

    const HidCollectionLayout collection_;
    const HidOpenMode mode_;
    const UniqueFd node_;
    const UniqueFd stop_;                  // readable once CancelRead was called
    std::atomic<bool> cancelled_ = false;  // ends every later read before it starts
    std::vector<std::uint8_t> scratch_;    // the reader's: one report of any length hidraw gives
};

HidrawDevice::Waited HidrawDevice::WaitFor(short events,
                                           std::optional<Clock::time_point> deadline) const {
    pollfd fds[] = {{node_.Get(), events, 0}, {stop_.Get(), POLLIN, 0}};
    for (;;) {
        int timeout_ms = -1;
        if (deadline) {
            const auto left = *deadline - Clock::now();
            timeout_ms = static_cast<int>(std::max<std::int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        const int ready = poll(fds, 2, timeout_ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return {Waited::How::Failed, 0, errno};
        if (fds[1].revents != 0)
            return {Waited::How::Cancelled};
        if (ready == 0)
            return {Waited::How::TimedOut};
        return {Waited::How::Ready, fds[0].revents};
    }
}

// Reads until a report of this collection arrives. The node's descriptor reads without
// waiting (O_NONBLOCK): a report already queued is taken at once, otherwise poll waits for the
// next one or for CancelRead. After an unplug hidraw still hands over what was queued, then
// fails with EIO.
HidReadResult HidrawDevice::Read(std::span<std::uint8_t> buffer) {
    if (mode_ == HidOpenMode::Identify)
        return ReadOutcome(HidReadResult::Status::Refused,
                           {"read", HidFailureKind::Invalid, EBADF});
    scratch_.resize(kMaxReportSize);
    bool hung_up = false;
    while (!cancelled_.load()) {
        const ssize_t n = read(node_.Get(), scratch_.data(), scratch_.size());
        if (n >= 0) {
            if (auto taken = Take(static_cast<std::size_t>(n), buffer))
                return *taken;
            continue;  // another collection's report
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return ReadOutcome(HidReadResult::Status::Failed, FailureOf("read", errno));
        if (hung_up)  // nothing queued and nothing will come
            return ReadOutcome(HidReadResult::Status::Failed,
                               {"poll", HidFailureKind::DeviceGone, ENODEV});
        const Waited waited = WaitFor(POLLIN, std::nullopt);
        if (waited.how == Waited::How::Cancelled)
            return CancelledRead();
        if (waited.how == Waited::How::Failed)
            return ReadOutcome(HidReadResult::Status::Failed, FailureOf("poll", waited.error));
        if ((waited.revents & POLLNVAL) != 0)
            return ReadOutcome(HidReadResult::Status::Failed, FailureOf("poll", EBADF));
        hung_up = (waited.revents & (POLLERR | POLLHUP)) != 0;
    }
    return CancelledRead();
}

// The outcome of a report of `size` bytes in the scratch buffer: nothing when it belongs to
// another collection of the node.
std::optional<HidReadResult> HidrawDevice::Take(std::size_t size,
                                                std::span<std::uint8_t> buffer) const {
    const std::span<const std::uint8_t> report(scratch_.data(), size);
    if (!collection_.OwnsReport(report))
        return std::nullopt;
    // Handed over as the Windows HID class hands a report over, so that the core reads one
    // framing everywhere: the identifier byte first, 0 for a collection without identifiers
    // (hidraw gives their data alone), and zeros up to the input report length.
    const std::size_t offset = HasReportIds() ? 0 : 1;
    const std::size_t framed =
        std::max<std::size_t>(report.size() + offset, collection_.capabilities.input_report_length);
    // A report longer than the buffer is not taken in part, as a message pipe's is not.
    if (framed > buffer.size())
        return ReadOutcome(HidReadResult::Status::Failed,
                           {"read", HidFailureKind::Other, EMSGSIZE});
    std::fill_n(buffer.begin(), framed, std::uint8_t{0});
    std::ranges::copy(report, buffer.begin() + static_cast<std::ptrdiff_t>(offset));
    HidReadResult result;
    result.status = HidReadResult::Status::Report;
    result.size = framed;
    return result;
}

void HidrawDevice::CancelRead() {
    cancelled_ = true;
    if (!stop_.Valid())
        return;
    const std::uint64_t one = 1;
    // An eventfd takes an 8-byte count at once or not at all; a full counter is readable anyway.
    static_cast<void>(write(stop_.Get(), &one, sizeof one));
}

std::optional<HidFailure> HidrawDevice::Transferable(std::string_view operation) const {
    if (mode_ == HidOpenMode::Identify)
        return HidFailure{operation, HidFailureKind::Invalid, EBADF};
    return std::nullopt;
}

// hidraw takes an output report whole, identifier byte first (0 for a collection without
// identifiers); a shorter one is padded to the output report length.
std::optional<HidFailure> HidrawDevice::Write(std::span<const std::uint8_t> report) {
    if (auto refused = Transferable("write"))
        return refused;
    std::vector<std::uint8_t> whole(report.begin(), report.end());
    whole.resize(
        std::max<std::size_t>(whole.size(), collection_.capabilities.output_report_length));
    const auto deadline = Clock::now() + std::chrono::milliseconds(kHidrawWriteTimeoutMs);
    while (!cancelled_.load()) {
        const ssize_t n = write(node_.Get(), whole.data(), whole.size());
        if (n >= 0) {
            if (static_cast<std::size_t>(n) == whole.size())
                return std::nullopt;
            return HidFailure{"write", HidFailureKind::Other, EIO};  // hidraw never takes part
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return FailureOf("write", errno);
        const Waited waited = WaitFor(POLLOUT, deadline);
        switch (waited.how) {
            case Waited::How::Cancelled:
                return HidFailure{"write", HidFailureKind::Cancelled, ECANCELED};
            case Waited::How::TimedOut:
                return HidFailure{"write", HidFailureKind::Other, ETIMEDOUT};
            case Waited::How::Failed:
                return FailureOf("poll", waited.error);
            case Waited::How::Ready:
                break;
        }
        if ((waited.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
            (waited.revents & POLLOUT) == 0) {
            return HidFailure{"write", HidFailureKind::DeviceGone, ENODEV};
        }
    }
    return HidFailure{"write", HidFailureKind::Cancelled, ECANCELED};
}

std::optional<HidFailure> HidrawDevice::FeatureIoctl(std::string_view operation,
                                                     unsigned long request,
                                                     std::span<std::uint8_t> buffer) const {
    if (auto refused = Transferable(operation))
        return refused;
    if (buffer.empty() || buffer.size() > kMaxFeatureSize)
        return HidFailure{operation, HidFailureKind::Invalid, EINVAL};
    for (;;) {
        if (ioctl(node_.Get(), request, buffer.data()) >= 0)
            return std::nullopt;
        if (errno != EINTR)
            return FailureOf(operation, errno);
    }
}

std::optional<HidFailure> HidrawDevice::GetFeature(std::span<std::uint8_t> buffer) {
    return FeatureIoctl("HIDIOCGFEATURE", HIDIOCGFEATURE(buffer.size()), buffer);
}

std::optional<HidFailure> HidrawDevice::SetFeature(std::span<const std::uint8_t> report) {
    // The ioctl's buffer is read and write; the caller's report stays untouched.
    std::vector<std::uint8_t> copy(report.begin(), report.end());
    return FeatureIoctl("HIDIOCSFEATURE", HIDIOCSFEATURE(copy.size()), copy);
}

}  // namespace

// ---- The interfaces
// ------------------------------------------------------------------------------

LinuxHidrawInterfaces::LinuxHidrawInterfaces(const DebugOutput& debug, std::string root)
    : debug_(debug), root_(std::move(root)) {}

std::vector<HidInterfaceInfo> LinuxHidrawInterfaces::Enumerate() const {
    std::vector<HidInterfaceInfo> found;
    for (const std::string& name : NodeNames(root_)) {
        const NodeRead read = ReadNode(root_, name);
        if (!read.node) {
            debug_.Trace(u"hidraw walk skips " + Utf16FromUtf8(name) + u": " +
                         Utf16FromUtf8(read.why_skipped));
            continue;
        }
        for (std::size_t i = 0; i < read.node->collections.size(); ++i) {
            found.push_back({Utf16FromUtf8(CollectionPath(*read.node, i)),
                             WindowsHardwareIds(CollectionIdentity(*read.node, i))});
        }
    }
    return found;
}

HidInterfaces::OpenResult LinuxHidrawInterfaces::Open(std::u16string_view path,
                                                      HidOpenMode mode) const {
    const std::string wanted = Utf8FromUtf16(path);
    const std::string device_file = wanted.substr(0, wanted.rfind(kCollectionMark));
    const std::string name = fs::path(device_file).filename().string();
    const HidFailure not_found{"open", HidFailureKind::DeviceGone, ENOENT};
    if (!NodeNumber(name))
        return {nullptr, not_found};
    NodeRead read = ReadNode(root_, name);
    if (!read.node || read.node->device_file != device_file)
        return {nullptr, not_found};
    std::size_t index = 0;
    while (index < read.node->collections.size() && CollectionPath(*read.node, index) != wanted)
        ++index;
    if (index == read.node->collections.size())
        return {nullptr, not_found};
    HidCollectionLayout collection = std::move(read.node->collections[index]);
    if (mode == HidOpenMode::Identify)
        return {std::make_unique<HidrawDevice>(std::move(collection), mode, UniqueFd(), UniqueFd()),
                {}};
    UniqueFd node(open(device_file.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!node.Valid())
        return {nullptr, FailureOf("open", errno)};
    UniqueFd stop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stop.Valid())
        return {nullptr, {"eventfd", HidFailureKind::Other, static_cast<std::uint32_t>(errno)}};
    return {std::make_unique<HidrawDevice>(std::move(collection), mode, std::move(node),
                                           std::move(stop)),
            {}};
}

}  // namespace korv::os_linux
