// korvanth417-sim, the simulated mouse on Linux. "serve" plugs a simulated KORVANTH417 in: a
// Unix SOCK_SEQPACKET socket $XDG_RUNTIME_DIR/korvanth417/NAME whose every message is one input
// report, which the monitor opens and reads with its HID reader once its config.ini declares
// the socket, and whose file appearing and vanishing the monitor notices as a device's arrival
// and removal. The other commands are passed to the running simulator through its control
// socket NAME-control beside it: one message with the command line, one message in reply
// ('+' and the text when done, '-' and the text when not). The commands, the config.ini entry and
// the socket protocol are described in "The simulated mouse" of the project's README.md.
//
// One thread serves everything in one epoll loop: SIGINT and SIGTERM (a signalfd), the control
// socket and its connections, the device socket and every client.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/ini_file.h"
#include "platform/linux/linux_main_loop.h"
#include "platform/linux/linux_socket_hid.h"
#include "platform/linux/unique_fd.h"
#include "platform/linux/utf8_text.h"
#include "ports/locale.h"
#include "programs/mousesim/sim_commands.h"
#include "programs/mousesim/sim_protocol.h"

namespace korv::sim {
namespace {

using os_linux::FdWatch;
using os_linux::LinuxMainLoop;
using os_linux::UniqueFd;

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNotRunning = 2;
constexpr int kExitFailed = 3;

constexpr int kClientSendWaitMs = 1000;  // a client that takes no report for this long is dropped
constexpr int kReplyWaitMs = 10000;      // how long a command waits for the simulator's reply
constexpr std::size_t kMaxClients = 64;
constexpr std::size_t kMaxControlConnections = 8;
constexpr std::size_t kMaxCommandBytes = 4096;
constexpr std::size_t kMaxReplyBytes = 64 * 1024;
constexpr int kMaxMessagesPerWakeUp = 64;

constexpr std::wstring_view kUsage =
    LR"(Usage: korvanth417-sim serve [--name NAME]
       korvanth417-sim [--name NAME] COMMAND

A simulated KORVANTH417 mouse. "serve" plugs it in as the Unix SOCK_SEQPACKET socket
$XDG_RUNTIME_DIR/korvanth417/NAME (default KORVANTH417-SIM-1) and serves it until "quit",
Ctrl+C or SIGTERM. Each message on the socket is one input report, identifier byte first;
each message a client sends is an output report. The other commands go to the simulator
running on that socket:
  press N            button N (0-23) down: sends key report 7 with the buttons held down
  release N          button N up: sends key report 7
  click N            press, about 30 ms, release
  profile P          device event report 8: profile switch to P (0-4; others are ignored)
  event KIND VALUE   device event report 8 of any kind and value (0-255)
  report HEX...      raw bytes of any length (1-1024), e.g. report 07 10 00 00 00 00 00 00
  unplug             closes every connection and removes the socket file
  replug             unplugs if needed and creates the socket again
  status             plugged in or not, clients connected, buttons held down
  quit               unplugs and ends the simulator
Numbers are decimal or 0x-hex. Profiles count from 0 and buttons from 0, as the configuration
program counts them ("profile 2" here is its profile 2). The monitor reads the socket only when its config.ini
($XDG_CONFIG_HOME/korvanth417/config.ini, else the installed one) declares it in the section
[SimulatedHIDDeviceList], for example:
  sim1=KORVANTH417-SIM-1, HID\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0
Exit codes: 0 done, 1 bad arguments, 2 no simulator running, 3 the command failed.)";

// ---- Output: UTF-8 lines, written at once (a log file sees each line as it happens).

void WriteLine(int fd, std::wstring_view text) {
    const std::string line = os_linux::Utf8FromWide(text) + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t written = write(fd, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

void Say(std::wstring_view text) {
    WriteLine(STDOUT_FILENO, text);
}

void Complain(std::wstring_view text) {
    WriteLine(STDERR_FILENO, text);
}

std::wstring Wide(std::string_view text) {
    return os_linux::WideFromUtf8(text);
}

std::wstring ErrorText(int error) {
    return Wide(std::strerror(error));
}

// ---- Where things are

struct Places {
    std::string folder;   // $XDG_RUNTIME_DIR/korvanth417
    std::string device;   // folder/NAME
    std::string control;  // folder/NAME-control
    std::string lock;     // folder/NAME-control.lock, held by the serving simulator
};

std::optional<Places> PlacesOf(const std::wstring& name) {
    const std::optional<std::string> folder = os_linux::DefaultSocketFolder();
    if (!folder)
        return std::nullopt;
    const std::string device = *folder + "/" + os_linux::Utf8FromWide(name);
    return Places{*folder, device, device + "-control", device + "-control.lock"};
}

bool IsSocketFile(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

struct Listening {
    UniqueFd socket;
    int error = 0;
};

// A non-blocking SOCK_SEQPACKET socket listening on `path`. A socket file left there by a
// simulator that ended without removing it is replaced (the caller holds the name's lock).
Listening ListenOn(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return {UniqueFd(), ENAMETOOLONG};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket)
        return {UniqueFd(), errno};
    if (IsSocketFile(path))
        unlink(path.c_str());
    if (bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(socket.Get(), SOMAXCONN) != 0)
        return {UniqueFd(), errno};
    return {std::move(socket), 0};
}

// ---- The device

// The simulated mouse as a device: while plugged in, its socket listens for clients, and every
// connected client gets every report.
class Device {
  public:
    Device(LinuxMainLoop& loop, std::string path) : loop_(loop), path_(std::move(path)) {}
    ~Device() { Unplug(); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::wstring Path() const { return Wide(path_); }
    bool Plugged() const { return listening_.Valid(); }
    std::size_t ClientCount() const { return clients_.size(); }

    // Creates the socket; 0, or the errno of the call that failed.
    [[nodiscard]] int PlugIn() {
        Listening listening = ListenOn(path_);
        if (!listening.socket)
            return listening.error;
        listening_ = std::move(listening.socket);
        accept_watch_ = loop_.Watch(listening_.Get(), EPOLLIN, [this](std::uint32_t) { Accept(); });
        if (!accept_watch_) {
            const int error = errno;
            Unplug();
            return error;
        }
        return 0;
    }

    // Closes every connection, so that clients read the end, and removes the socket file.
    // Returns how many clients were connected.
    std::size_t Unplug() {
        const std::size_t dropped = clients_.size();
        clients_.clear();
        if (listening_.Valid()) {
            accept_watch_.reset();
            listening_.Reset();
            unlink(path_.c_str());
        }
        return dropped;
    }

    // Sends the report to every client; a client that does not take it in time, or whose
    // connection failed, is dropped. Returns how many clients got it.
    std::size_t Send(const Report& report) {
        std::size_t reached = 0;
        std::erase_if(clients_, [&](const std::unique_ptr<Client>& client) {
            const int error = SendTo(client->socket.Get(), report);
            if (error == 0) {
                ++reached;
                return false;
            }
            Say(L"client " + std::to_wstring(client->number) + L" left (" + ErrorText(error) +
                L" on send)");
            return true;
        });
        return reached;
    }

  private:
    struct Client {
        UniqueFd socket;
        int number = 0;
        std::unique_ptr<FdWatch> watch;
    };

    static int SendTo(int socket, const Report& report) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (send(socket, report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
                return 0;
            if (errno != EAGAIN)
                return errno;
            pollfd entry{socket, POLLOUT, 0};
            if (poll(&entry, 1, kClientSendWaitMs) != 1)
                return ETIMEDOUT;
        }
        return ETIMEDOUT;
    }

    void Accept() {
        for (;;) {
            UniqueFd socket(
                accept4(listening_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!socket)
                return;  // none waiting (or it left before it was accepted)
            if (clients_.size() >= kMaxClients) {
                Say(L"client refused: " + std::to_wstring(kMaxClients) + L" clients connected");
                continue;
            }
            auto client = std::make_unique<Client>(Client{std::move(socket), next_number_++, {}});
            const int number = client->number;
            client->watch =
                loop_.Watch(client->socket.Get(), EPOLLIN | EPOLLRDHUP,
                            [this, number](std::uint32_t events) { ReadFrom(number, events); });
            if (!client->watch)
                continue;
            clients_.push_back(std::move(client));
            Say(L"client " + std::to_wstring(number) + L" connected (" +
                std::to_wstring(clients_.size()) + L" connected)");
        }
    }

    // A client's messages are output reports; whatever they hold is only logged.
    void ReadFrom(int number, std::uint32_t events) {
        const auto found = std::ranges::find_if(
            clients_, [&](const std::unique_ptr<Client>& c) { return c->number == number; });
        if (found == clients_.end())
            return;
        const std::wstring who = L"client " + std::to_wstring(number);
        for (int i = 0; i < kMaxMessagesPerWakeUp; ++i) {
            std::uint8_t buffer[kMaxRawReport];
            // MSG_TRUNC gives the message's whole length; only its start is kept.
            const ssize_t length =
                recv((*found)->socket.Get(), buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
            if (length < 0 && errno == EAGAIN)
                return;
            const bool ended = length < 0 || (length == 0 && (events & (EPOLLRDHUP | EPOLLHUP)));
            if (ended) {
                Say(who + L" left" + (length < 0 ? L" (" + ErrorText(errno) + L")" : L""));
                clients_.erase(found);  // ends this watch too
                return;
            }
            const auto kept = std::min(static_cast<std::size_t>(length), sizeof buffer);
            Say(L"output report from " + who + L": " + Hex(buffer, kept) +
                (kept < static_cast<std::size_t>(length)
                     ? L" ... (" + std::to_wstring(length) + L" bytes in all)"
                     : L""));
        }
    }

    LinuxMainLoop& loop_;
    std::string path_;
    UniqueFd listening_;
    std::unique_ptr<FdWatch> accept_watch_;
    std::vector<std::unique_ptr<Client>> clients_;
    int next_number_ = 1;
};

// ---- The control socket

// One command per connection: the client sends the command line as one message and gets one
// message in reply, then the connection is closed (the reply stays readable for the client).
class ControlSocket {
  public:
    // Takes a command line and gives the reply, '+' or '-' first.
    using Execute = std::function<std::wstring(const std::wstring& line)>;

    ControlSocket(LinuxMainLoop& loop, UniqueFd listening, Execute execute)
        : loop_(loop), listening_(std::move(listening)), execute_(std::move(execute)) {
        watch_ = loop_.Watch(listening_.Get(), EPOLLIN, [this](std::uint32_t) { Accept(); });
    }

    [[nodiscard]] bool Watched() const { return watch_ != nullptr; }

  private:
    struct Connection {
        UniqueFd socket;
        int number = 0;
        std::unique_ptr<FdWatch> watch;
    };

    void Accept() {
        for (;;) {
            UniqueFd socket(
                accept4(listening_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!socket)
                return;
            if (connections_.size() >= kMaxControlConnections)
                continue;  // closed unanswered: the command sees no reply and says so
            auto connection =
                std::make_unique<Connection>(Connection{std::move(socket), next_number_++, {}});
            const int number = connection->number;
            connection->watch = loop_.Watch(connection->socket.Get(), EPOLLIN | EPOLLRDHUP,
                                            [this, number](std::uint32_t) { Serve(number); });
            if (connection->watch)
                connections_.push_back(std::move(connection));
        }
    }

    void Serve(int number) {
        const auto found = std::ranges::find_if(
            connections_,
            [&](const std::unique_ptr<Connection>& c) { return c->number == number; });
        if (found == connections_.end())
            return;
        char buffer[kMaxCommandBytes];
        const int socket = (*found)->socket.Get();
        const ssize_t length = recv(socket, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
        if (length < 0 && errno == EAGAIN)
            return;
        if (length > 0) {
            const bool too_long = static_cast<std::size_t>(length) > sizeof buffer;
            const std::wstring reply =
                too_long
                    ? L"-the command is longer than " + std::to_wstring(sizeof buffer) + L" bytes"
                    : execute_(Wide(std::string_view(buffer, static_cast<std::size_t>(length))));
            const std::string bytes = os_linux::Utf8FromWide(reply);
            // A client that is gone misses its reply.
            static_cast<void>(
                send(socket, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL));
        }
        connections_.erase(found);  // one command per connection; also the end of a silent one
    }

    LinuxMainLoop& loop_;
    UniqueFd listening_;
    Execute execute_;
    std::unique_ptr<FdWatch> watch_;
    std::vector<std::unique_ptr<Connection>> connections_;
    int next_number_ = 1;
};

// ---- The simulator

class Simulator final : private SimulatedMouse {
  public:
    Simulator(LinuxMainLoop& loop, std::string device_path)
        : loop_(loop), device_(loop, std::move(device_path)) {}

    Reply PlugIn() override {
        if (const int error = device_.PlugIn(); error != 0)
            return {false, L"cannot create " + device_.Path() + L" (" + ErrorText(error) + L")"};
        return {true, L"plugged in: " + device_.Path()};
    }

    // The reply to one line of the control socket, '+' or '-' first.
    std::wstring Answer(const std::wstring& line) {
        const Reply reply = commands_.ExecuteLine(line);
        if (commands_.Quitting())
            loop_.Quit(kExitOk);  // once this reply is sent
        (reply.done ? Say : Complain)(reply.text);
        return (reply.done ? L"+" : L"-") + reply.text;
    }

    // After the loop: the mouse leaves as it would when unplugged.
    void Stop() {
        if (device_.Plugged())
            Say(commands_.Unplug().text);
    }

  private:
    std::wstring Path() const override { return device_.Path(); }
    bool Plugged() const override { return device_.Plugged(); }
    std::size_t ClientCount() const override { return device_.ClientCount(); }
    std::size_t Unplug() override { return device_.Unplug(); }
    std::size_t Send(const Report& report) override { return device_.Send(report); }

    LinuxMainLoop& loop_;
    Device device_;
    MouseCommands commands_{*this, L"korvanth417-sim replug", Say};
};

// ---- config.ini, where the monitor reads it

// IniFile::FromBytes asks a locale only to decode text without a byte-order mark, which is
// UTF-8 here.
class Utf8Text : public Locale {
  public:
    std::u16string DecodeSystemText(std::string_view bytes) const override {
        return os_linux::Utf16FromUtf8(bytes);
    }
    std::uint16_t SystemDefaultLanguageId() const override { return 0x0409; }
    std::vector<std::uint32_t> SupportedLocaleIds() const override { return {}; }
    std::uint32_t UserDefaultLocaleId() const override { return 0x0409; }
    std::optional<std::u16string> LocaleInfo(std::uint32_t, LocaleItem) const override {
        return std::nullopt;
    }
};

// The user's config.ini: $XDG_CONFIG_HOME/korvanth417/config.ini, ~/.config when unset.
std::optional<std::string> UserSettingsFile() {
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string folder;
    if (config_home != nullptr && config_home[0] == '/')
        folder = config_home;
    else if (home != nullptr && home[0] == '/')
        folder = std::string(home) + "/.config";
    else
        return std::nullopt;
    return folder + "/korvanth417/config.ini";
}

// The installed config.ini: <prefix>/share/korvanth417/config.ini, the program being
// <prefix>/bin/korvanth417-sim.
std::optional<std::string> InstalledSettingsFile() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return std::nullopt;
    std::string program(path, static_cast<std::size_t>(length));
    const std::string bin = program.substr(0, program.find_last_of('/'));
    return bin.substr(0, bin.find_last_of('/')) + "/share/korvanth417/config.ini";
}

bool FileExists(const std::optional<std::string>& path) {
    struct stat status {};
    return path && stat(path->c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The file's bytes, or nothing when it cannot be read or is larger than the monitor reads.
std::optional<std::string> ReadSettingsBytes(const std::string& path) {
    const UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file || fstat(file.Get(), &status) != 0 ||
        static_cast<std::uint64_t>(status.st_size) > kMaxSettingsFileSize)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = read(file.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

// The values of sim1, sim2, ... up to the first missing key, as the monitor reads them.
std::vector<std::wstring> ReadSimulatedEntries(const std::string& bytes) {
    const IniFile ini = IniFile::FromBytes(
        {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, Utf8Text());
    std::vector<std::wstring> values;
    for (std::size_t i = 1; i <= kMaxSimulatedEntries; ++i) {
        const std::u16string key = u"sim" + os_linux::Utf16FromUtf8(std::to_string(i));
        if (!ini.RawValue(kSimulatedInterfaceSection, key))
            break;
        const std::u16string value = ini.GetString(kSimulatedInterfaceSection, key, u"");
        values.push_back(Wide(os_linux::Utf8FromUtf16(value)));
    }
    return values;
}

// Warns when the monitor, reading the same config.ini, would not look for this socket.
void CheckSettingsFile(const std::wstring& name) {
    const std::optional<std::string> user = UserSettingsFile();
    const std::optional<std::string> installed = InstalledSettingsFile();
    const std::optional<std::string> used =
        FileExists(user) ? user : (FileExists(installed) ? installed : user);
    const std::wstring file = used ? Wide(*used) : L"config.ini";
    const std::optional<std::string> bytes =
        FileExists(used) ? ReadSettingsBytes(*used) : std::nullopt;
    if (FileExists(used) && !bytes)
        Complain(L"warning: " + file + L" cannot be read or is too large; the monitor uses none");
    const auto values = bytes ? ReadSimulatedEntries(*bytes) : std::vector<std::wstring>{};
    const EntriesReview review = ReviewSimulatedEntries(values, name, ServedBy::kSocket);
    for (const auto& problem : review.problems)
        Complain(L"warning: in " + file + L": " + problem);
    if (review.declared_by != 0) {
        Say(L"config.ini declares the socket as sim" + std::to_wstring(review.declared_by));
        return;
    }
    // The monitor reads no more than kMaxSimulatedEntries keys: a full section needs a slot.
    const std::size_t key = std::min(values.size() + 1, kMaxSimulatedEntries);
    Complain(L"warning: " + file +
             (FileExists(used) ? L" declares" : L" is missing, so it declares") +
             L" no simulated interface on the socket " + name +
             L", and the monitor will not look for it. Add these lines to it and restart the "
             L"monitor:\n  [" +
             std::wstring(kSimulatedSection) + L"]\n  sim" + std::to_wstring(key) + L"=" +
             DefaultEntryValue(name));
}

// ---- The two modes

std::wstring StartHint(const std::wstring& name) {
    return L"korvanth417-sim serve" + (name == kDefaultPipe ? L"" : L" --name " + name);
}

// SIGINT and SIGTERM as a descriptor the loop watches; they no longer end the program.
UniqueFd StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0)
        return UniqueFd();
    return UniqueFd(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
}

// Held while a simulator serves the name: a second one finds it taken. The lock goes with the
// process however it ends, so a simulator that was killed leaves nothing that blocks the next.
UniqueFd LockName(const Places& places, int& error) {
    UniqueFd lock(open(places.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    error = lock ? 0 : errno;
    if (lock && flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        lock.Reset();
    }
    return lock;
}

int Serve(const std::wstring& name, const Places& places) {
    if (const int error = os_linux::CreateSocketFolder(places.folder); error != 0) {
        Complain(L"error: cannot create " + Wide(places.folder) + L" (" + ErrorText(error) + L")");
        return kExitFailed;
    }
    int lock_error = 0;
    const UniqueFd lock = LockName(places, lock_error);
    if (!lock && lock_error == EWOULDBLOCK) {
        Complain(L"error: a simulated mouse already runs on " + Wide(places.device) +
                 L" (it holds " + Wide(places.lock) + L")");
        return kExitFailed;
    }
    if (!lock) {
        Complain(L"error: cannot lock " + Wide(places.lock) + L" (" + ErrorText(lock_error) + L")");
        return kExitFailed;
    }
    LinuxMainLoop loop;
    const UniqueFd signals = StopSignals();
    const auto signal_watch = loop.Watch(signals.Get(), EPOLLIN, [&](std::uint32_t) {
        signalfd_siginfo info{};
        const bool got = read(signals.Get(), &info, sizeof info) == sizeof info;
        Say(std::wstring(got && info.ssi_signo == SIGTERM ? L"SIGTERM" : L"SIGINT") +
            L": stopping");
        loop.Quit(kExitOk);
    });
    Listening control = ListenOn(places.control);
    if (!loop.Valid() || !signal_watch || !control.socket) {
        Complain(L"error: cannot serve " + Wide(places.control) + L" (" +
                 ErrorText(control.socket ? errno : control.error) + L")");
        return kExitFailed;
    }
    Simulator simulator(loop, places.device);
    const ControlSocket control_socket(
        loop, std::move(control.socket),
        [&](const std::wstring& line) { return simulator.Answer(line); });
    const Reply plugged = simulator.PlugIn();
    int code = kExitFailed;
    if (plugged.done && control_socket.Watched()) {
        Say(plugged.text);
        CheckSettingsFile(name);
        Say(L"serving; commands: korvanth417-sim --name " + name +
            L" press 4 (see --help); quit, Ctrl+C or SIGTERM ends");
        code = loop.Run();
        simulator.Stop();
    } else {
        Complain(L"error: " + plugged.text);
    }
    unlink(places.control.c_str());
    return code;
}

// The reply of the simulator to one command line, or the exit code when there is none.
int SendCommand(const std::wstring& name, const Places& places,
                const std::vector<std::wstring>& words) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const UniqueFd control(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    const bool fits = places.control.size() < sizeof address.sun_path;
    if (fits)
        std::memcpy(address.sun_path, places.control.c_str(), places.control.size() + 1);
    if (!fits || !control ||
        connect(control.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = fits ? errno : ENAMETOOLONG;
        if (error == ENOENT || error == ECONNREFUSED) {
            Complain(L"no simulated mouse is running on " + Wide(places.device) +
                     L"; start it with: " + StartHint(name));
            return kExitNotRunning;
        }
        Complain(L"error: cannot reach the simulator on " + Wide(places.control) + L" (" +
                 ErrorText(error) + L")");
        return kExitFailed;
    }
    const std::string line = os_linux::Utf8FromWide(JoinWords(words));
    if (send(control.Get(), line.data(), line.size(), MSG_NOSIGNAL) < 0) {
        Complain(L"error: cannot reach the simulator on " + Wide(places.control) + L" (" +
                 ErrorText(errno) + L")");
        return kExitFailed;
    }
    pollfd entry{control.Get(), POLLIN, 0};
    std::string reply(kMaxReplyBytes, '\0');
    const ssize_t length = poll(&entry, 1, kReplyWaitMs) == 1
                               ? recv(control.Get(), reply.data(), reply.size(), 0)
                               : -1;
    if (length <= 0) {
        Complain(L"error: the simulator on " + Wide(places.device) + L" did not reply");
        return kExitFailed;
    }
    reply.resize(static_cast<std::size_t>(length));
    const bool done = reply.front() == '+';
    (done ? Say : Complain)(Wide(std::string_view(reply).substr(1)));
    return done ? kExitOk : kExitFailed;
}

int Run(const std::vector<std::wstring>& args) {
    const auto invocation = ParseInvocation(args, L"--name");
    if (!invocation || args.empty()) {
        Complain(kUsage);
        return kExitUsage;
    }
    if (invocation->mode == Invocation::Mode::kHelp) {
        Say(kUsage);
        return kExitOk;
    }
    const std::optional<Places> places = PlacesOf(invocation->pipe);
    if (!places) {
        Complain(
            L"error: XDG_RUNTIME_DIR is not set to a full path, so there is no folder for "
            L"the simulated mouse's socket");
        return invocation->mode == Invocation::Mode::kServe ? kExitFailed : kExitNotRunning;
    }
    if (invocation->mode == Invocation::Mode::kServe)
        return Serve(invocation->pipe, *places);
    return SendCommand(invocation->pipe, *places, invocation->command);
}

}  // namespace
}  // namespace korv::sim

int main(int argc, char** argv) {
    // A log reader that went away is no reason to end; writes to it fail instead.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(korv::os_linux::WideFromUtf8(argv[i]));
    return korv::sim::Run(args);
}
