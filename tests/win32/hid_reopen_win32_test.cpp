// The HID component on the Windows backends: Wine's own two virtual interfaces (usage page 1,
// usages 2 and 6) found, selected and read until stopped; a simulated interface unplugged and
// re-opened many times, which leaves no thread and no handle behind; declared pipes that never
// offer an instance, which do not hold up the main thread; and one pipe declared in several
// spellings, which gets one reader.

// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "hid/ui_hid_data.h"
#include "platform/win32/message_pipe_server.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_hid.h"
#include "platform/win32/win32_main_loop.h"
#include "platform/win32/win32_pipe_hid.h"
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

// A plugged-in device: `listening` instances of the pipe wait for clients. Destroying it
// unplugs: every instance closes.
class PluggedDevice {
  public:
    explicit PluggedDevice(const std::wstring& path, int listening = 2) {
        for (int i = 0; i < listening; ++i) {
            auto created = MessagePipeInstance::Create(path, PIPE_UNLIMITED_INSTANCES, 0, 64);
            if (!created.instance)
                continue;
            created.instance->StartConnect();
            instances_.push_back(std::move(created.instance));
        }
    }
    std::size_t Instances() const { return instances_.size(); }
    int Connected() const {
        int connected = 0;
        for (const auto& instance : instances_)
            connected += WaitForSingleObject(instance->Event(), 0) == WAIT_OBJECT_0;
        return connected;
    }

  private:
    std::vector<std::unique_ptr<MessagePipeInstance>> instances_;
};

constexpr USAGE_AND_PAGE kMouseCollection{1, 0xFFA0};
constexpr HidCapabilities kSimulatedMouse{1, 0xFFA0, 8, 8, 0};

constexpr USAGE_AND_PAGE kWineMouse{2, 1};

// The hardware identifiers of Wine's virtual mouse interface, as the walk lists them.
std::vector<std::u16string> WineMouseIds(const Win32HidInterfaces& interfaces) {
    for (const HidInterfaceInfo& info : interfaces.Enumerate()) {
        const auto opened = interfaces.Open(info.path, HidOpenMode::Control);
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
    const Win32PipeHidInterfaces interfaces(
        {{FromWide(name), u"HID\\KORV_REOPEN", kSimulatedMouse}});
    Win32MainLoop loop;
    Win32DebugOutput debug;
    TuiHIDData hid(interfaces, loop, debug, {});
    const std::wstring path = L"\\\\.\\pipe\\" + name;

    const auto cycle = [&] {
        auto device = std::make_unique<PluggedDevice>(path);
        hid.HidStopRead();
        hid.HidFindAndReadDevice(kMouseCollection, u"*");
        EXPECT_EQ(hid.RunningReaderCount(), 1u);
        EXPECT_TRUE(PumpUntil([&] { return device->Connected() == 1; }));
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

// Declared pipes whose servers never offer a free instance (each one taken by another client)
// cost the re-open a few milliseconds in all, not half a second each.
TEST(HidReopenOnWindows, PipesThatNeverOfferAnInstanceDoNotHoldTheMainThread) {
    constexpr int kPipes = 16;
    std::vector<PipeHidDeclaration> declared;
    std::vector<std::unique_ptr<MessagePipeInstance>> servers;
    std::vector<UniqueHandle> other_clients;
    for (int i = 0; i < kPipes; ++i) {
        const std::wstring name =
            L"korv-busy-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(i);
        const std::wstring path = L"\\\\.\\pipe\\" + name;
        servers.push_back(MessagePipeInstance::Create(path, 1).instance);
        ASSERT_NE(servers.back(), nullptr);
        other_clients.emplace_back(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(other_clients.back().Valid());
        declared.push_back({FromWide(name), u"HID\\KORV_BUSY", kSimulatedMouse});
    }
    // The pipes alone, so that only their cost is measured.
    const Win32PipeHidInterfaces interfaces(std::move(declared));
    Win32MainLoop loop;
    Win32DebugOutput debug;
    TuiHIDData hid(interfaces, loop, debug, {});
    for (int reopen = 0; reopen < 3; ++reopen) {
        const auto start = std::chrono::steady_clock::now();
        hid.HidStopRead();
        hid.HidFindAndReadDevice(kMouseCollection, u"*");
        const auto blocked = std::chrono::steady_clock::now() - start;
        EXPECT_LT(blocked, std::chrono::milliseconds(250))
            << std::chrono::duration_cast<std::chrono::milliseconds>(blocked).count() << " ms";
        EXPECT_EQ(hid.RunningReaderCount(), 0u);
    }
}

// One pipe declared in every spelling the system takes for the same name gets one reader, so one
// report is delivered once.
TEST(HidReopenOnWindows, OnePipeDeclaredInSeveralSpellingsGetsOneReader) {
    const std::wstring name = L"korv-twice-" + std::to_wstring(GetCurrentProcessId());
    std::wstring upper = name;
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    const Win32PipeHidInterfaces interfaces(
        {{FromWide(name), u"HID\\KORV_TWICE", kSimulatedMouse},
         {FromWide(upper), u"HID\\KORV_TWICE", kSimulatedMouse},
         {FromWide(name) + u".", u"HID\\KORV_TWICE", kSimulatedMouse},
         {FromWide(name) + u" ", u"HID\\KORV_TWICE", kSimulatedMouse}});
    const PluggedDevice device(L"\\\\.\\pipe\\" + name, 8);
    ASSERT_EQ(device.Instances(), 8u);
    Win32MainLoop loop;
    Win32DebugOutput debug;
    TuiHIDData hid(interfaces, loop, debug, {});
    hid.HidFindAndReadDevice(kMouseCollection, u"*");
    EXPECT_EQ(hid.RunningReaderCount(), 1u);
    EXPECT_TRUE(PumpUntil([&] { return device.Connected() >= 1; }));
    EXPECT_EQ(device.Connected(), 1);
    hid.HidStopRead();
}

}  // namespace
}  // namespace korv::win32
