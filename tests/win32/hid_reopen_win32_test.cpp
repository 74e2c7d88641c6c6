// Unplugging and re-opening a simulated interface many times with the real reader code and the
// Windows backends leaves no thread and no handle behind.

// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

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
    EXPECT_EQ(ThreadsOfThisProcess(), threads);
    EXPECT_EQ(HandlesOfThisProcess(), handles);
}

}  // namespace
}  // namespace korv::win32
