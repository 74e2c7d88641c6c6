// KORVANTH417SIM.exe, the simulated mouse. "serve" plugs a simulated KORVANTH417 in: a
// message-mode named pipe whose every message is one input report, which the monitor opens and
// reads with its HID reader once its config.ini declares the pipe, and whose arrival and
// removal are broadcast as the system announces a HID interface's. The other commands are
// passed to the running simulator through its control pipe. The commands, the config.ini entry
// and the pipe protocol are described in "The simulated mouse" of the project's README.md.
//
// One thread serves everything: it waits on Ctrl+C, the control pipe and every instance of the
// device pipe at once, with overlapped I/O, so that no state is shared between threads.

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/hid_class.h"
#include "platform/win32/message_pipe_server.h"
#include "platform/win32/unique_handle.h"
#include "programs/mousesim/sim_commands.h"
#include "programs/mousesim/sim_protocol.h"

namespace korv::sim {
namespace {

using win32::UniqueHandle;
using PipeInstance = win32::MessagePipeInstance;

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNotRunning = 2;
constexpr int kExitFailed = 3;

// A client that reads nothing for PipeInstance::kWriteTimeoutMs is dropped.
constexpr DWORD kQuitDrainMs = 2000;  // how long "quit" waits for its client to read the reply
constexpr DWORD kBusyWaitMs = 5000;
// A wait takes at most 64 handles: Ctrl+C, the control pipe, the listening instance, clients.
constexpr std::size_t kMaxClients = MAXIMUM_WAIT_OBJECTS - 3;

// Signalled by the console's Ctrl+C handler, which runs on a thread of its own.
HANDLE g_ctrl_c = nullptr;

// ---- Output: lines to the console, or UTF-8 when redirected to a file or pipe.

void WriteLine(DWORD which, std::wstring_view text) {
    const HANDLE out = GetStdHandle(which);
    const std::wstring line = std::wstring(text) + L"\n";
    DWORD written = 0;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), size,
                        nullptr, nullptr);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void Say(std::wstring_view text) {
    WriteLine(STD_OUTPUT_HANDLE, text);
}

void Complain(std::wstring_view text) {
    WriteLine(STD_ERROR_HANDLE, text);
}

std::wstring ErrorText(DWORD error) {
    return L"error " + std::to_wstring(error);
}

std::wstring DevicePath(std::wstring_view name) {
    return L"\\\\.\\pipe\\" + std::wstring(name);
}

std::wstring ControlPath(std::wstring_view name) {
    return DevicePath(name) + L"-control";
}

std::wstring ExeFolder() {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
    path.resize(length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// ---- The device

// Tells every top-level window that the HID interface named by the pipe's path arrived or left,
// as the system does for a real device. A broadcast reaches other processes' windows under Wine
// only with BSF_QUERY (one sent message per window, the device header marshalled with it);
// BSF_FORCEIFHUNG goes on past a window that does not answer in time, as the system's own
// device broadcast does, instead of leaving every window after it without the news.
bool Announce(WPARAM event, const std::wstring& path) {
    const std::size_t name_offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    const std::size_t size = name_offset + (path.size() + 1) * sizeof(wchar_t);
    std::vector<std::uint64_t> storage((size + 7) / 8);  // zeroed and aligned
    auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    header->dbcc_size = static_cast<DWORD>(size);
    header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header->dbcc_classguid = win32::kHidInterfaceClassGuid;
    std::memcpy(reinterpret_cast<std::byte*>(storage.data()) + name_offset, path.c_str(),
                (path.size() + 1) * sizeof(wchar_t));
    DWORD recipients = BSM_APPLICATIONS;
    return BroadcastSystemMessageW(BSF_QUERY | BSF_FORCEIFHUNG, &recipients, WM_DEVICECHANGE, event,
                                   reinterpret_cast<LPARAM>(header)) > 0;
}

// The simulated mouse as a device: while plugged in, one pipe instance always listens for the
// next client, and every connected client gets every report.
class Device {
  public:
    explicit Device(std::wstring path) : path_(std::move(path)) {}

    const std::wstring& Path() const { return path_; }
    bool Plugged() const { return plugged_; }
    std::size_t ClientCount() const { return clients_.size(); }

    // Creates the pipe and announces the arrival; an error code when the pipe cannot be made.
    [[nodiscard]] DWORD PlugIn() {
        const DWORD error = Listen();
        if (error != ERROR_SUCCESS)
            return error;
        plugged_ = true;
        if (!Announce(DBT_DEVICEARRIVAL, path_))
            Complain(L"warning: the arrival could not be announced (" + ErrorText(GetLastError()) +
                     L")");
        return ERROR_SUCCESS;
    }

    // Closes every instance, so that clients' reads fail with a broken pipe, and announces the
    // removal. Returns how many clients were connected.
    std::size_t Unplug() {
        const std::size_t dropped = clients_.size();
        clients_.clear();
        listening_.reset();
        plugged_ = false;
        Announce(DBT_DEVICEREMOVECOMPLETE, path_);
        return dropped;
    }

    // Writes the report to every client; a client whose write fails is dropped. Returns how
    // many clients got it.
    std::size_t Send(const Report& report) {
        std::size_t reached = 0;
        std::erase_if(clients_, [&](const Client& client) {
            const DWORD error = client.pipe->Write(report);
            if (error == ERROR_SUCCESS) {
                ++reached;
                return false;
            }
            Say(L"client " + std::to_wstring(client.number) + L" left (" + ErrorText(error) +
                L" on write)");
            return true;
        });
        return reached;
    }

    // The events to wait on: the listening instance's first, then the clients'.
    void AppendWaitHandles(std::vector<HANDLE>& handles) const {
        if (listening_)
            handles.push_back(listening_->Event());
        for (const auto& client : clients_)
            handles.push_back(client.pipe->Event());
    }

    // The event at `index` of AppendWaitHandles was signalled.
    void OnSignalled(std::size_t index) {
        if (listening_) {
            if (index == 0)
                return Accept();
            --index;
        }
        if (index < clients_.size() && !ReadFrom(clients_[index]))
            clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
    }

  private:
    struct Client {
        std::unique_ptr<PipeInstance> pipe;
        int number = 0;
    };

    DWORD Listen() {
        auto created = PipeInstance::Create(path_, PIPE_UNLIMITED_INSTANCES);
        if (!created.instance)
            return created.error;
        listening_ = std::move(created.instance);
        listening_->StartConnect();
        return ERROR_SUCCESS;
    }

    // A client connected to the listening instance: it becomes that client's, and a new
    // instance listens for the next one.
    void Accept() {
        const DWORD result = listening_->Finish().error;
        std::unique_ptr<PipeInstance> connected = std::move(listening_);
        if (const DWORD error = Listen(); error != ERROR_SUCCESS)
            Complain(L"error: no new pipe instance for further clients (" + ErrorText(error) +
                     L")");
        if (result != ERROR_SUCCESS)
            return;  // the client left before it was accepted
        if (clients_.size() >= kMaxClients) {
            Say(L"client refused: " + std::to_wstring(kMaxClients) + L" clients connected");
            return;
        }
        connected->StartRead();
        clients_.push_back({std::move(connected), next_number_++});
        Say(L"client " + std::to_wstring(clients_.back().number) + L" connected (" +
            std::to_wstring(clients_.size()) + L" connected)");
    }

    // A client's read ended: an output report, or the client left. False when it left.
    bool ReadFrom(Client& client) {
        const auto result = client.pipe->Finish();
        const std::wstring who = L"client " + std::to_wstring(client.number);
        if (result.error != ERROR_SUCCESS && result.error != ERROR_MORE_DATA) {
            Say(who + L" left" +
                (result.error == ERROR_BROKEN_PIPE ? L"" : L" (" + ErrorText(result.error) + L")"));
            return false;
        }
        Say(L"output report from " + who + L": " + Hex(client.pipe->Received(), result.bytes) +
            (result.error == ERROR_MORE_DATA ? L" (continued on the next line)" : L""));
        client.pipe->StartRead();
        return true;
    }

    std::wstring path_;
    bool plugged_ = false;
    std::unique_ptr<PipeInstance> listening_;
    std::vector<Client> clients_;
    int next_number_ = 1;
};

// ---- The control pipe

// One command line per connection: listen, read the command, write the reply, then wait for
// the client to close before listening again (disconnecting at once could discard the reply
// unread). Commands and replies are UTF-16 text; a reply starts with '+' when the command was
// done and '-' when it failed.
class ControlPipe {
  public:
    explicit ControlPipe(std::unique_ptr<PipeInstance> pipe) : pipe_(std::move(pipe)) {
        pipe_->StartConnect();
    }

    HANDLE Event() const { return pipe_->Event(); }
    bool Idle() const { return state_ == State::kListening; }

    // The pipe's event was signalled; returns the command line when one arrived.
    std::optional<std::wstring> OnSignalled() {
        const auto result = pipe_->Finish();
        const bool ok = result.error == ERROR_SUCCESS || result.error == ERROR_MORE_DATA;
        if (state_ == State::kListening && ok) {
            pipe_->StartRead();
            state_ = State::kReading;
        } else if (state_ == State::kReading && ok) {
            const auto* text = reinterpret_cast<const wchar_t*>(pipe_->Received());
            return std::wstring(text, result.bytes / sizeof(wchar_t));
        } else {
            ListenAgain();
        }
        return std::nullopt;
    }

    void Reply(bool done, const std::wstring& text) {
        const std::wstring reply = (done ? L"+" : L"-") + text;
        // A client that is gone misses its reply; the drain below ends this connection anyway.
        static_cast<void>(pipe_->Write(
            {reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size() * sizeof(wchar_t)}));
        pipe_->StartRead();  // ends when the client closes
        state_ = State::kDraining;
    }

  private:
    enum class State { kListening, kReading, kDraining };

    void ListenAgain() {
        pipe_->Disconnect();
        pipe_->StartConnect();
        state_ = State::kListening;
    }

    std::unique_ptr<PipeInstance> pipe_;
    State state_ = State::kListening;
};

// ---- The simulator

class Simulator final : private SimulatedMouse {
  public:
    Simulator(std::wstring device_path, std::unique_ptr<PipeInstance> control)
        : device_(std::move(device_path)), control_(std::move(control)) {}

    Reply PlugIn() override {
        if (const DWORD error = device_.PlugIn(); error != ERROR_SUCCESS)
            return {false, L"cannot create " + device_.Path() + L" (" + ErrorText(error) + L")"};
        return {true, L"plugged in: " + device_.Path()};
    }

    // Serves the device and the control pipe until "quit" or Ctrl+C, then unplugs.
    int Serve(HANDLE ctrl_c) {
        for (;;) {
            std::vector<HANDLE> handles{ctrl_c, control_.Event()};
            device_.AppendWaitHandles(handles);
            const DWORD wait =
                WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                       commands_.Quitting() ? kQuitDrainMs : INFINITE);
            if (wait == WAIT_OBJECT_0) {
                Say(L"Ctrl+C: stopping");
                break;
            }
            if (wait == WAIT_TIMEOUT)
                break;  // quitting, and the client of "quit" kept its connection open
            if (wait == WAIT_OBJECT_0 + 1) {
                ServeControl();
                if (commands_.Quitting() && control_.Idle())
                    break;
            } else if (wait > WAIT_OBJECT_0 + 1 && wait < WAIT_OBJECT_0 + handles.size()) {
                device_.OnSignalled(wait - WAIT_OBJECT_0 - 2);
            } else {
                Complain(L"error: waiting failed (" + ErrorText(GetLastError()) + L")");
                return kExitFailed;
            }
        }
        if (device_.Plugged())
            Say(commands_.Unplug().text);
        return kExitOk;
    }

  private:
    void ServeControl() {
        const auto line = control_.OnSignalled();
        if (!line)
            return;
        const Reply reply = commands_.ExecuteLine(*line);
        (reply.done ? Say : Complain)(reply.text);
        control_.Reply(reply.done, reply.text);
    }

    std::wstring Path() const override { return device_.Path(); }
    bool Plugged() const override { return device_.Plugged(); }
    std::size_t ClientCount() const override { return device_.ClientCount(); }
    std::size_t Unplug() override { return device_.Unplug(); }
    std::size_t Send(const Report& report) override { return device_.Send(report); }

    Device device_;
    ControlPipe control_;
    MouseCommands commands_{*this, L"KORVANTH417SIM.exe replug", Say};
};

// ---- config.ini beside the program

// The values of sim1, sim2, ... up to the first missing key, as the monitor reads them.
std::vector<std::wstring> ReadSimulatedEntries(const std::wstring& file) {
    static constexpr wchar_t kMissing[] = L"\n";  // no value read from a file contains a newline
    const std::wstring section(kSimulatedSection);
    std::vector<std::wstring> values;
    for (std::size_t i = 1; i <= kMaxSimulatedEntries; ++i) {
        std::wstring value(2048, L'\0');
        const std::wstring key = L"sim" + std::to_wstring(i);
        const DWORD length =
            GetPrivateProfileStringW(section.c_str(), key.c_str(), kMissing, value.data(),
                                     static_cast<DWORD>(value.size()), file.c_str());
        value.resize(length);
        if (value == kMissing)
            break;
        values.push_back(std::move(value));
    }
    return values;
}

// Warns when the monitor, reading the same config.ini, would not look for this pipe.
void CheckSettingsFile(std::wstring_view pipe) {
    const std::wstring file = ExeFolder() + L"config.ini";
    const bool exists = GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    const auto values = exists ? ReadSimulatedEntries(file) : std::vector<std::wstring>{};
    const EntriesReview review = ReviewSimulatedEntries(values, pipe);
    for (const auto& problem : review.problems)
        Complain(L"warning: in " + file + L": " + problem);
    if (review.declared_by != 0) {
        Say(L"config.ini declares the pipe as sim" + std::to_wstring(review.declared_by));
        return;
    }
    // The monitor reads no more than kMaxSimulatedEntries keys: a full section needs a slot.
    const std::size_t key = std::min(values.size() + 1, kMaxSimulatedEntries);
    Complain(L"warning: " + file + (exists ? L" declares" : L" is missing, so it declares") +
             L" no simulated interface on the pipe " + std::wstring(pipe) +
             L", and the monitor will not look for it. Add these lines to it and restart the "
             L"monitor:\n  [" +
             std::wstring(kSimulatedSection) + L"]\n  sim" + std::to_wstring(key) + L"=" +
             DefaultEntryValue(pipe));
}

// ---- The two modes

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    SetEvent(g_ctrl_c);
    return TRUE;
}

int Serve(const std::wstring& pipe) {
    // The control pipe's first instance also tells whether a simulator serves this name already.
    auto control = PipeInstance::Create(ControlPath(pipe), 1, FILE_FLAG_FIRST_PIPE_INSTANCE);
    if (!control.instance) {
        Complain(L"error: a simulated mouse already runs on " + DevicePath(pipe) + L" (" +
                 ErrorText(control.error) + L" creating " + ControlPath(pipe) + L")");
        return kExitFailed;
    }
    UniqueHandle ctrl_c(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_ctrl_c = ctrl_c.Get();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    Simulator simulator(DevicePath(pipe), std::move(control.instance));
    const Reply plugged = simulator.PlugIn();
    int code = kExitFailed;
    if (plugged.done) {
        Say(plugged.text);
        CheckSettingsFile(pipe);
        Say(L"serving; commands: KORVANTH417SIM.exe --pipe " + pipe +
            L" press 4 (see --help); quit or Ctrl+C ends");
        code = simulator.Serve(ctrl_c.Get());
    } else {
        Complain(L"error: " + plugged.text);
    }
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    return code;
}

// The simulator's control pipe, waiting while it serves another command.
UniqueHandle OpenControlPipe(const std::wstring& path, DWORD& error) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        UniqueHandle pipe(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        error = GetLastError();
        if (pipe.Valid() || error != ERROR_PIPE_BUSY)
            return pipe;
        WaitNamedPipeW(path.c_str(), kBusyWaitMs);
    }
    return UniqueHandle();
}

std::optional<std::wstring> ReadReply(HANDLE pipe) {
    std::wstring reply;
    for (;;) {
        wchar_t chunk[4096];
        DWORD bytes = 0;
        const BOOL done = ReadFile(pipe, chunk, sizeof chunk, &bytes, nullptr);
        reply.append(chunk, bytes / sizeof(wchar_t));
        if (done)
            return reply;
        if (GetLastError() != ERROR_MORE_DATA)
            return std::nullopt;
    }
}

int SendCommand(const std::wstring& pipe, const std::vector<std::wstring>& words) {
    DWORD error = ERROR_SUCCESS;
    const UniqueHandle control = OpenControlPipe(ControlPath(pipe), error);
    if (!control.Valid() && error == ERROR_FILE_NOT_FOUND) {
        Complain(L"no simulated mouse is running on " + DevicePath(pipe) +
                 L"; start it with: KORVANTH417SIM.exe serve" +
                 (pipe == kDefaultPipe ? L"" : L" --pipe " + pipe));
        return kExitNotRunning;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    const std::wstring line = JoinWords(words);
    DWORD written = 0;
    if (!control.Valid() || !SetNamedPipeHandleState(control.Get(), &mode, nullptr, nullptr) ||
        !WriteFile(control.Get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)),
                   &written, nullptr)) {
        Complain(L"error: cannot reach the simulator on " + ControlPath(pipe) + L" (" +
                 ErrorText(control.Valid() ? GetLastError() : error) + L")");
        return kExitFailed;
    }
    const auto reply = ReadReply(control.Get());
    if (!reply || reply->empty()) {
        Complain(L"error: the simulator on " + DevicePath(pipe) + L" did not reply");
        return kExitFailed;
    }
    const bool done = reply->front() == L'+';
    (done ? Say : Complain)(std::wstring_view(*reply).substr(1));
    return done ? kExitOk : kExitFailed;
}

}  // namespace
}  // namespace korv::sim

int wmain(int argc, wchar_t** argv) {
    using namespace korv::sim;
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const auto invocation = ParseInvocation(args);
    if (!invocation || args.empty()) {
        Complain(kUsage);
        return kExitUsage;
    }
    switch (invocation->mode) {
        case Invocation::Mode::kHelp:
            Say(kUsage);
            return kExitOk;
        case Invocation::Mode::kServe:
            return Serve(invocation->pipe);
        case Invocation::Mode::kCommand:
            return SendCommand(invocation->pipe, invocation->command);
    }
    return kExitUsage;
}
