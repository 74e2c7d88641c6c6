// The HID component on the Windows backends: Wine's own two virtual interfaces (usage page 1,
// usages 2 and 6) found, selected and read until stopped; and a simulated interface unplugged
// and re-opened many times, which leaves no thread and no handle behind.

// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "hid/ui_hid_data.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_main_loop.h"
#include "platform/win32/win32_system.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

using test::PumpUntil;

int ThreadsOfThisProcess() {
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    return count;
}

DWORD HandlesOfThisProcess() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// A plugged-in device: two listening instances of the pipe, one for the search's look and one
// for the reader. Destroying it unplugs: every instance closes.
class PluggedDevice {
  public:
    explicit PluggedDevice(const std::wstring& path) {
        for (Instance& instance : instances_) {
            instance.pipe.Reset(CreateNamedPipeW(path.c_str(),
                                                 PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                                 PIPE_UNLIMITED_INSTANCES, 64, 64, 0, nullptr));
            instance.connected.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            instance.overlapped.hEvent = instance.connected.Get();
            if (!ConnectNamedPipe(instance.pipe.Get(), &instance.overlapped) &&
                GetLastError() == ERROR_PIPE_CONNECTED) {
                SetEvent(instance.connected.Get());
            }
        }
    }
    ~PluggedDevice() {
        for (Instance& instance : instances_) {
            CancelIoEx(instance.pipe.Get(), &instance.overlapped);
            DWORD ignored = 0;
            GetOverlappedResult(instance.pipe.Get(), &instance.overlapped, &ignored, TRUE);
        }
    }
    bool BothConnected() const {
        for (const Instance& instance : instances_) {
            if (WaitForSingleObject(instance.connected.Get(), 0) != WAIT_OBJECT_0)
                return false;
        }
        return true;
    }

  private:
    struct Instance {
        UniqueHandle pipe;
        UniqueHandle connected;
        OVERLAPPED overlapped{};
    };
    std::array<Instance, 2> instances_;
};

constexpr USAGE_AND_PAGE kWineMouse{2, 1};

// The hardware identifiers of Wine's virtual mouse interface, as the walk lists them.
std::vector<std::u16string> WineMouseIds(const Win32HidInterfaces& interfaces) {
    for (const HidInterfaceInfo& info : interfaces.Enumerate()) {
        const auto opened = interfaces.Open(info.path, HidOpenMode::Plain);
        if (!opened.device)
            continue;
        const auto caps = opened.device->Capabilities().capabilities;
        if (caps && caps->usage == kWineMouse.Usage && caps->usage_page == kWineMouse.UsagePage)
            return info.hardware_ids;
    }
    return {};
}

std::u16string AsciiUpper(std::u16string text) {
    for (char16_t& c : text)
        c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    return text;
}

TEST(HidDataOnWindows, WinesOwnInterfacesAreFoundSelectedAndReadUntilStopped) {
    const Win32HidInterfaces interfaces;
    Win32MainLoop loop;
    Win32DebugOutput debug;
    const std::vector<std::u16string> ids = WineMouseIds(interfaces);
    ASSERT_FALSE(ids.empty());
    const std::u16string id = ids[0];
    auto param = std::make_unique<THIDDataParam>();
    param->DeviceID = u"*";

    TuiHIDData any(interfaces, loop, debug, {});
    param->UsageAndPage = kWineMouse;
    EXPECT_TRUE(any.IsDeviceExist(*param));
    param->DeviceID = id;  // the identifier rule: that device only
    EXPECT_TRUE(any.IsDeviceExist(*param));
    param->DeviceID = u"HID\\VID_0000&PID_0000";
    EXPECT_FALSE(any.IsDeviceExist(*param));
    param->DeviceID = u"*";
    param->UsageAndPage = {1, 0xFFA0};  // no such collection here
    EXPECT_FALSE(any.IsDeviceExist(*param));

    any.HidFindAndReadDevice({1, 0xFFA0}, u"*");
    EXPECT_EQ(any.ReaderCount(), 0u);
    any.HidFindAndReadDevice(kWineMouse, u"*");
    EXPECT_EQ(any.RunningReaderCount(), 1u);  // waits for a report that never comes
    any.HidStopRead();
    EXPECT_EQ(any.ReaderCount(), 0u);

    const struct {
        const char* what;
        std::u16string entry;
        std::size_t readers;
    } lists[] = {
        {"the identifier in other case", AsciiUpper(id), 1},
        {"a prefix of the identifier", id.substr(0, id.size() - 1), 0},
        {"another device", u"HID\\VID_0000&PID_0000", 0},
    };
    for (const auto& list : lists) {
        SCOPED_TRACE(list.what);
        TuiHIDData listed(interfaces, loop, debug, {list.entry});
        listed.HidFindAndReadDevice(kWineMouse, u"*");
        EXPECT_EQ(listed.RunningReaderCount(), list.readers);
    }
}

TEST(HidReopenOnWindows, ThousandUnplugsAndReopensLeaveNoThreadOrHandle) {
    const std::wstring name = L"korv-reopen-" + std::to_wstring(GetCurrentProcessId());
    const SimulatedHidInterface declared{FromWide(name), u"HID\\KORV_REOPEN", {1, 0xFFA0, 8, 8, 0}};
    const Win32HidInterfaces interfaces({declared});
    Win32MainLoop loop;
    Win32DebugOutput debug;
    TuiHIDData hid(interfaces, loop, debug, {});
    const std::wstring path = L"\\\\.\\pipe\\" + name;

    const auto cycle = [&] {
        auto device = std::make_unique<PluggedDevice>(path);
        hid.HidStopRead();
        hid.HidFindAndReadDevice({1, 0xFFA0}, u"*");
        EXPECT_EQ(hid.RunningReaderCount(), 1u);
        EXPECT_TRUE(PumpUntil([&] { return device->BothConnected(); }));
        device.reset();  // unplugged: the reader ends by itself
        EXPECT_TRUE(PumpUntil([&] { return hid.RunningReaderCount() == 0; }));
    };
    cycle();  // the first round creates what lives as long as the process
    const int threads = ThreadsOfThisProcess();
    const DWORD handles = HandlesOfThisProcess();
    for (int i = 0; i < 1000 && !HasFailure(); ++i)
        cycle();
    hid.HidStopRead();
    EXPECT_EQ(hid.ReaderCount(), 0u);
    // A leak adds a thread or handle on every round, a thousand in all. The platform's thread
    // pool may end an idle worker or start one more on its own during the rounds.
    EXPECT_LE(ThreadsOfThisProcess(), threads + 2);
    EXPECT_LE(HandlesOfThisProcess(), handles + 2);
}

}  // namespace
}  // namespace korv::win32
