#include "tests/linux/fake_hidraw.h"

#define FUSE_USE_VERSION 35
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace korv::test {
namespace {

namespace fs = std::filesystem;

constexpr fuse_ino_t kRootInode = FUSE_ROOT_ID;
constexpr std::size_t kQueuedReports = 64;  // hidraw's HIDRAW_BUFFER_SIZE
constexpr std::size_t kMaxWrite = 16384;    // HID_MAX_BUFFER_SIZE

// A descriptor closed by its owner's destructor.
class OwnedFd {
  public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd() {
        if (fd_ >= 0)
            close(fd_);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    [[nodiscard]] int Get() const { return fd_; }

  private:
    int fd_;
};

fuse_ino_t InodeOf(int node) {
    return kRootInode + 1 + static_cast<fuse_ino_t>(node);
}

std::string NodeName(int node) {
    return "hidraw" + std::to_string(node);
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The folder of a node's HID device below sys/, as the kernel places it.
fs::path DeviceFolder(int node, const FakeHidrawIds& ids) {
    const std::string hid = Hex(ids.bus, 4) + ":" + Hex(ids.vendor, 4) + ":" + Hex(ids.product, 4) +
                            "." + Hex(static_cast<unsigned>(node + 1), 4);
    if (ids.bus != 0x0003)
        return fs::path("devices/virtual/misc/uhid") / hid;
    const std::string interface =
        ids.usb_port + ":1." + std::to_string(ids.interface_number.value_or(0));
    return fs::path("devices/pci0000:00/0000:00:14.0/usb1") / ids.usb_port / interface / hid;
}

}  // namespace

// The FUSE side. Everything in it is guarded by `mutex`, which is recursive because libfuse may
// call a request's interrupt function from inside fuse_req_interrupt_func.
struct FakeHidraw::Server {
    struct Device {
        Report descriptor;
        FakeHidrawIds ids;
        bool plugged = true;
        std::uint64_t generation = 0;  // files opened before a replug stay unplugged
        std::map<std::uint8_t, Report> features;
        std::vector<Report> outputs;
        std::vector<Report> features_set;
        bool hold_writes = false;
        bool deny_opens = false;
        int opens = 0;
    };
    struct PendingRead {
        fuse_req_t req;
        std::size_t size;
    };
    struct File {
        int node = 0;
        std::uint64_t generation = 0;
        std::deque<Report> queue;
        fuse_pollhandle* poll = nullptr;  // to notify at the next change
        std::deque<PendingRead> reads;    // blocking reads that wait for a report
    };

    mutable std::recursive_mutex mutex;
    mutable std::condition_variable_any changed;
    std::vector<Device> devices;
    std::map<std::uint64_t, File> files;
    std::uint64_t next_file = 1;

    fuse_session* session = nullptr;
    OwnedFd stop{eventfd(0, EFD_CLOEXEC)};
    std::thread thread;

    ~Server() { Stop(); }

    bool Start(const std::string& mountpoint);
    void Serve();
    void Stop();

    [[nodiscard]] bool Alive(const File& file) const {
        const Device& device = devices[static_cast<std::size_t>(file.node)];
        return device.plugged && device.generation == file.generation;
    }
    [[nodiscard]] std::optional<int> NodeOfInode(fuse_ino_t inode) const {
        if (inode <= kRootInode || inode > InodeOf(static_cast<int>(devices.size()) - 1))
            return std::nullopt;
        return static_cast<int>(inode - kRootInode - 1);
    }
    File* FileOf(const fuse_file_info* fi) {
        const auto found = files.find(fi->fh);
        return found == files.end() ? nullptr : &found->second;
    }
    // Tells a poll that waits on the file that something changed.
    static void Wake(File& file) {
        if (file.poll == nullptr)
            return;
        fuse_lowlevel_notify_poll(file.poll);
        fuse_pollhandle_destroy(file.poll);
        file.poll = nullptr;
    }
    static void Answer(const PendingRead& read, const Report& report) {
        fuse_reply_buf(read.req, reinterpret_cast<const char*>(report.data()),
                       std::min(read.size, report.size()));
    }
    void Deliver(File& file, const Report& report) {
        if (!file.reads.empty()) {
            Answer(file.reads.front(), report);
            file.reads.pop_front();
        } else if (file.queue.size() < kQueuedReports) {
            file.queue.push_back(report);
        }
        Wake(file);
    }
    void EndFile(File& file, int error) {
        for (const PendingRead& read : file.reads)
            fuse_reply_err(read.req, error);
        file.reads.clear();
        Wake(file);
    }
    static struct stat Attributes(fuse_ino_t inode) {
        struct stat attributes {};
        attributes.st_ino = inode;
        attributes.st_mode = inode == kRootInode ? S_IFDIR | 0755 : S_IFREG | 0600;
        attributes.st_nlink = inode == kRootInode ? 2 : 1;
        return attributes;
    }
    unsigned Revents(const File& file) const {
        const Device& device = devices[static_cast<std::size_t>(file.node)];
        unsigned revents = 0;
        if (!file.queue.empty())
            revents |= POLLIN | POLLRDNORM;
        if (!Alive(file))
            return revents | POLLERR | POLLHUP;
        if (!device.hold_writes)
            revents |= POLLOUT | POLLWRNORM;
        return revents;
    }

    static Server& Of(fuse_req_t req) { return *static_cast<Server*>(fuse_req_userdata(req)); }

    // ---- Requests, on the session's thread ----

    static void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        for (std::size_t i = 0; i < server.devices.size(); ++i) {
            const int node = static_cast<int>(i);
            if (parent == kRootInode && name == NodeName(node) && server.devices[i].plugged) {
                fuse_entry_param entry{};
                entry.ino = InodeOf(node);
                entry.attr = Attributes(entry.ino);
                fuse_reply_entry(req, &entry);  // no timeouts: every open asks again
                return;
            }
        }
        fuse_reply_err(req, ENOENT);
    }

    static void GetAttr(fuse_req_t req, fuse_ino_t inode, fuse_file_info*) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        const auto node = server.NodeOfInode(inode);
        if (inode != kRootInode &&
            !(node && server.devices[static_cast<std::size_t>(*node)].plugged))
            return static_cast<void>(fuse_reply_err(req, ENOENT));
        const struct stat attributes = Attributes(inode);
        fuse_reply_attr(req, &attributes, 0);
    }

    static void ReadDir(fuse_req_t req, fuse_ino_t inode, std::size_t size, off_t offset,
                        fuse_file_info*) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        if (inode != kRootInode)
            return static_cast<void>(fuse_reply_err(req, ENOTDIR));
        std::vector<std::pair<std::string, fuse_ino_t>> entries{{".", kRootInode},
                                                                {"..", kRootInode}};
        for (std::size_t i = 0; i < server.devices.size(); ++i) {
            if (server.devices[i].plugged)
                entries.emplace_back(NodeName(static_cast<int>(i)), InodeOf(static_cast<int>(i)));
        }
        std::vector<char> buffer(size);
        std::size_t used = 0;
        for (auto i = static_cast<std::size_t>(offset); i < entries.size(); ++i) {
            const struct stat attributes = Attributes(entries[i].second);
            const std::size_t needed =
                fuse_add_direntry(req, buffer.data() + used, size - used, entries[i].first.c_str(),
                                  &attributes, static_cast<off_t>(i + 1));
            if (needed > size - used)
                break;
            used += needed;
        }
        fuse_reply_buf(req, buffer.data(), used);
    }

    static void Open(fuse_req_t req, fuse_ino_t inode, fuse_file_info* fi) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        const auto node = server.NodeOfInode(inode);
        if (!node || !server.devices[static_cast<std::size_t>(*node)].plugged)
            return static_cast<void>(fuse_reply_err(req, ENOENT));
        if (server.devices[static_cast<std::size_t>(*node)].deny_opens)
            return static_cast<void>(fuse_reply_err(req, EACCES));
        fi->fh = server.next_file++;
        fi->direct_io = 1;  // every read and write reaches the server, whole
        fi->nonseekable = 1;
        ++server.devices[static_cast<std::size_t>(*node)].opens;
        File& file = server.files[fi->fh];
        file.node = *node;
        file.generation = server.devices[static_cast<std::size_t>(*node)].generation;
        if (fuse_reply_open(req, fi) != 0)
            server.files.erase(fi->fh);  // the open was interrupted: no release will come
        server.changed.notify_all();
    }

    static void Release(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        if (File* file = server.FileOf(fi)) {
            server.EndFile(*file, EBADF);
            server.files.erase(fi->fh);
        }
        fuse_reply_err(req, 0);
        server.changed.notify_all();
    }

    static void Interrupted(fuse_req_t req, void* data) {
        Server& server = *static_cast<Server*>(data);
        const std::lock_guard lock(server.mutex);
        for (auto& [id, file] : server.files) {
            const auto read = std::ranges::find(file.reads, req, &PendingRead::req);
            if (read != file.reads.end()) {
                file.reads.erase(read);
                fuse_reply_err(req, EINTR);
                server.changed.notify_all();
                return;
            }
        }
    }

    static void Read(fuse_req_t req, fuse_ino_t, std::size_t size, off_t, fuse_file_info* fi) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        File* file = server.FileOf(fi);
        if (file == nullptr)
            return static_cast<void>(fuse_reply_err(req, EBADF));
        if (!file->queue.empty()) {
            Answer({req, size}, file->queue.front());
            file->queue.pop_front();
        } else if (!server.Alive(*file)) {
            fuse_reply_err(req, EIO);
        } else if ((fi->flags & O_NONBLOCK) != 0) {
            fuse_reply_err(req, EAGAIN);
        } else {
            file->reads.push_back({req, size});
            fuse_req_interrupt_func(req, Interrupted, &server);
            server.changed.notify_all();
        }
    }

    static void Write(fuse_req_t req, fuse_ino_t, const char* bytes, std::size_t size, off_t,
                      fuse_file_info* fi) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        File* file = server.FileOf(fi);
        if (file == nullptr)
            return static_cast<void>(fuse_reply_err(req, EBADF));
        Device& device = server.devices[static_cast<std::size_t>(file->node)];
        if (!server.Alive(*file))
            return static_cast<void>(fuse_reply_err(req, ENODEV));
        if (size < 2 || size > kMaxWrite)
            return static_cast<void>(fuse_reply_err(req, EINVAL));
        if (device.hold_writes)
            return static_cast<void>(fuse_reply_err(req, EAGAIN));
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes);
        device.outputs.emplace_back(data, data + size);
        fuse_reply_write(req, size);
        server.changed.notify_all();
    }

    static void Poll(fuse_req_t req, fuse_ino_t, fuse_file_info* fi, fuse_pollhandle* handle) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        File* file = server.FileOf(fi);
        if (file == nullptr) {
            if (handle != nullptr)
                fuse_pollhandle_destroy(handle);
            return static_cast<void>(fuse_reply_err(req, EBADF));
        }
        if (handle != nullptr) {
            if (file->poll != nullptr)
                fuse_pollhandle_destroy(file->poll);
            file->poll = handle;
        }
        fuse_reply_poll(req, server.Revents(*file));
        server.changed.notify_all();
    }

    static void Ioctl(fuse_req_t req, fuse_ino_t, unsigned int command, void*, fuse_file_info* fi,
                      unsigned flags, const void* in, std::size_t in_size, std::size_t out_size) {
        Server& server = Of(req);
        const std::lock_guard lock(server.mutex);
        File* file = server.FileOf(fi);
        if (file == nullptr)
            return static_cast<void>(fuse_reply_err(req, EBADF));
        if ((flags & FUSE_IOCTL_COMPAT) != 0 || _IOC_TYPE(command) != 'H')
            return static_cast<void>(fuse_reply_err(req, ENOTTY));
        if (!server.Alive(*file))
            return static_cast<void>(fuse_reply_err(req, ENODEV));
        Device& device = server.devices[static_cast<std::size_t>(file->node)];
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        const unsigned number = _IOC_NR(command);
        if (in_size < 1 || _IOC_DIR(command) != (_IOC_READ | _IOC_WRITE))
            return static_cast<void>(fuse_reply_err(req, ENOTTY));
        if (number == _IOC_NR(HIDIOCGFEATURE(0))) {
            const auto found = device.features.find(bytes[0]);
            if (found == device.features.end())
                return static_cast<void>(fuse_reply_err(req, EPIPE));
            const std::size_t size = std::min(out_size, found->second.size());
            fuse_reply_ioctl(req, static_cast<int>(size), found->second.data(), size);
        } else if (number == _IOC_NR(HIDIOCSFEATURE(0))) {
            device.features_set.emplace_back(bytes, bytes + in_size);
            device.features[bytes[0]] = device.features_set.back();
            fuse_reply_ioctl(req, static_cast<int>(in_size), nullptr, 0);
            server.changed.notify_all();
        } else {
            fuse_reply_err(req, ENOTTY);
        }
    }
};

bool FakeHidraw::Server::Start(const std::string& mountpoint) {
    fuse_lowlevel_ops operations{};
    operations.lookup = Lookup;
    operations.getattr = GetAttr;
    operations.readdir = ReadDir;
    operations.open = Open;
    operations.release = Release;
    operations.read = Read;
    operations.write = Write;
    operations.poll = Poll;
    operations.ioctl = Ioctl;
    char program[] = "korv-fake-hidraw";
    char option[] = "-ofsname=korv-fake-hidraw";
    char* argv[] = {program, option, nullptr};
    fuse_args args = FUSE_ARGS_INIT(2, argv);
    session = fuse_session_new(&args, &operations, sizeof operations, this);
    fuse_opt_free_args(&args);
    if (session == nullptr || stop.Get() < 0)
        return false;
    if (fuse_session_mount(session, mountpoint.c_str()) != 0) {
        fuse_session_destroy(session);
        session = nullptr;
        return false;
    }
    thread = std::thread([this] { Serve(); });
    return true;
}

// One request at a time, until the stop eventfd is written or the file system is unmounted.
void FakeHidraw::Server::Serve() {
    fuse_buf buffer{};
    pollfd fds[] = {{fuse_session_fd(session), POLLIN, 0}, {stop.Get(), POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0 && errno == EINTR)
            continue;
        if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            break;
        const int received = fuse_session_receive_buf(session, &buffer);
        if (received == -EINTR || received == -EAGAIN)
            continue;
        if (received <= 0)
            break;
        fuse_session_process_buf(session, &buffer);
    }
    std::free(buffer.mem);
}

void FakeHidraw::Server::Stop() {
    if (session == nullptr)
        return;
    const std::uint64_t one = 1;
    static_cast<void>(write(stop.Get(), &one, sizeof one));
    if (thread.joinable())
        thread.join();
    {
        const std::lock_guard lock(mutex);
        for (auto& [id, file] : files)
            EndFile(file, EIO);
    }
    fuse_session_unmount(session);
    fuse_session_destroy(session);
    session = nullptr;
}

FakeHidraw::FakeHidraw() : server_(std::make_unique<Server>()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/korv-hidraw-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return;
    root_ = pattern;
    std::error_code error;
    fs::create_directories(fs::path(root_) / "sys/class/hidraw", error);
    fs::create_directories(fs::path(root_) / "dev", error);
    if (!server_->Start(root_ + "/dev"))
        server_->session = nullptr;
}

FakeHidraw::~FakeHidraw() {
    server_->Stop();
    if (!root_.empty()) {
        std::error_code error;
        fs::remove_all(root_, error);
    }
}

bool FakeHidraw::Valid() const {
    return !root_.empty() && server_->session != nullptr;
}

const std::string& FakeHidraw::Root() const {
    return root_;
}

int FakeHidraw::AddDevice(Report descriptor, const FakeHidrawIds& ids) {
    int node = 0;
    {
        const std::lock_guard lock(server_->mutex);
        node = static_cast<int>(server_->devices.size());
        Server::Device& device = server_->devices.emplace_back();
        device.descriptor = std::move(descriptor);
        device.ids = ids;
    }
    WriteSysfs(node);
    return node;
}

std::string FakeHidraw::NodePath(int node) const {
    return root_ + "/dev/" + NodeName(node);
}

std::string FakeHidraw::SysfsDevicePath(int node) const {
    const std::lock_guard lock(server_->mutex);
    return (fs::path(root_) / "sys" /
            DeviceFolder(node, server_->devices[static_cast<std::size_t>(node)].ids))
        .string();
}

std::string FakeHidraw::SysfsNodePath(int node) const {
    return SysfsDevicePath(node) + "/hidraw/" + NodeName(node);
}

// sys/class/hidraw/hidrawN -> ../../devices/.../<HID device>/hidraw/hidrawN, whose "device"
// link leads back up to the HID device, as the kernel lays them out.
void FakeHidraw::WriteSysfs(int node) const {
    Server::Device device;
    {
        const std::lock_guard lock(server_->mutex);
        device = server_->devices[static_cast<std::size_t>(node)];
    }
    const FakeHidrawIds& ids = device.ids;
    const fs::path sys = fs::path(root_) / "sys";
    const fs::path folder = DeviceFolder(node, ids);
    const fs::path node_folder = sys / folder / "hidraw" / NodeName(node);
    std::error_code error;
    fs::create_directories(node_folder, error);
    WriteFile(node_folder / "uevent",
              "MAJOR=245\nMINOR=" + std::to_string(node) + "\nDEVNAME=" + NodeName(node) + "\n");
    fs::create_directory_symlink("../..", node_folder / "device", error);
    const std::string hid_id =
        Hex(ids.bus, 4) + ":" + Hex(ids.vendor, 8) + ":" + Hex(ids.product, 8);
    WriteFile(sys / folder / "uevent", "DRIVER=hid-generic\nHID_ID=" + hid_id +
                                           "\nHID_NAME=Fake Device\nHID_UNIQ=\nMODALIAS=hid:b" +
                                           Hex(ids.bus, 4) + "\n");
    WriteFile(sys / folder / "report_descriptor",
              {reinterpret_cast<const char*>(device.descriptor.data()), device.descriptor.size()});
    if (ids.bus == 0x0003 && ids.interface_number)
        WriteFile(sys / folder.parent_path() / "bInterfaceNumber",
                  Hex(*ids.interface_number, 2) + "\n");
    if (ids.bus == 0x0003 && ids.interfaces) {
        const std::string count = std::to_string(*ids.interfaces);
        WriteFile(sys / folder.parent_path().parent_path() / "bNumInterfaces",
                  std::string(count.size() < 2 ? 2 - count.size() : 0, ' ') + count + "\n");
    }
    if (ids.bus == 0x0003 && ids.bcd_device)
        WriteFile(sys / folder.parent_path().parent_path() / "bcdDevice",
                  Hex(*ids.bcd_device, 4) + "\n");
    fs::create_directory_symlink(fs::path("../..") / folder / "hidraw" / NodeName(node),
                                 sys / "class/hidraw" / NodeName(node), error);
}

void FakeHidraw::PushReport(int node, Report report) {
    const std::lock_guard lock(server_->mutex);
    for (auto& [id, file] : server_->files) {
        if (file.node == node && server_->Alive(file))
            server_->Deliver(file, report);
    }
}

void FakeHidraw::Unplug(int node) {
    {
        const std::lock_guard lock(server_->mutex);
        server_->devices[static_cast<std::size_t>(node)].plugged = false;
        // Blocking reads wait only on an empty queue; queued reports are still read.
        for (auto& [id, file] : server_->files) {
            if (file.node == node)
                server_->EndFile(file, EIO);
        }
    }
    std::error_code error;
    fs::remove(fs::path(root_) / "sys/class/hidraw" / NodeName(node), error);
    fs::remove_all(SysfsDevicePath(node), error);
}

void FakeHidraw::Replug(int node) {
    {
        const std::lock_guard lock(server_->mutex);
        Server::Device& device = server_->devices[static_cast<std::size_t>(node)];
        device.plugged = true;
        ++device.generation;
    }
    WriteSysfs(node);
}

void FakeHidraw::SetFeatureReport(int node, Report report) {
    const std::lock_guard lock(server_->mutex);
    const std::uint8_t id = report.empty() ? 0 : report[0];
    server_->devices[static_cast<std::size_t>(node)].features[id] = std::move(report);
}

void FakeHidraw::HoldWrites(int node, bool hold) {
    const std::lock_guard lock(server_->mutex);
    server_->devices[static_cast<std::size_t>(node)].hold_writes = hold;
    for (auto& [id, file] : server_->files) {
        if (file.node == node)
            Server::Wake(file);
    }
}

void FakeHidraw::DenyOpens(int node, bool deny) {
    const std::lock_guard lock(server_->mutex);
    server_->devices[static_cast<std::size_t>(node)].deny_opens = deny;
}

std::vector<Report> FakeHidraw::Outputs(int node) const {
    const std::lock_guard lock(server_->mutex);
    return server_->devices[static_cast<std::size_t>(node)].outputs;
}

std::vector<Report> FakeHidraw::FeaturesSet(int node) const {
    const std::lock_guard lock(server_->mutex);
    return server_->devices[static_cast<std::size_t>(node)].features_set;
}

int FakeHidraw::OpenFiles(int node) const {
    const std::lock_guard lock(server_->mutex);
    return static_cast<int>(std::ranges::count(
        server_->files, node, [](const auto& entry) { return entry.second.node; }));
}

int FakeHidraw::Opens(int node) const {
    const std::lock_guard lock(server_->mutex);
    return server_->devices[static_cast<std::size_t>(node)].opens;
}

bool FakeHidraw::WaitForOpenFiles(int node, int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(server_->mutex);
    return server_->changed.wait_for(lock, timeout, [&] { return OpenFiles(node) == count; });
}

bool FakeHidraw::WaitForWaiters(int node, int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(server_->mutex);
    return server_->changed.wait_for(lock, timeout, [&] {
        int waiting = 0;
        for (const auto& [id, file] : server_->files) {
            waiting += file.node == node && file.queue.empty() &&
                       (file.poll != nullptr || !file.reads.empty());
        }
        return waiting >= count;
    });
}

}  // namespace korv::test
