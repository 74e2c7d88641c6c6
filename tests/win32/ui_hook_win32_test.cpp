// The hook component with the real uiHook.dll under the real low-level hooks: recordings of keys
// sent with SendInput and of mouse input sent as the platform's own hardware input, what the
// component swallows, and the message box for a missing library.
//
// The component's hooks belong to this test's main thread, which pumps its messages while other
// threads send the input: the hook procedures run when this thread's queue is served.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "hook/ui_hook.h"
#include "platform/fake/fake_system.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_dynamic_library.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_keyboard_state.h"
#include "platform/win32/win32_message_box.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

constexpr DWORD kTimeoutMs = 10000;

using test::PumpUntil;

// The input that gets through every hook installed after it. A low-level hook of the test
// itself, installed before the library's: hooks run newest first, so it is called only for
// input the library's hook passed on. It does not depend on which window has the focus, which
// another program on the same desktop may take at any time. Keys: the virtual key of each
// press. Mouse: each message (WM_RBUTTONUP and so on).
template <int Kind>
class PassedInput {
  public:
    PassedInput() : hook_(SetWindowsHookExW(Kind, &Proc, GetModuleHandleW(nullptr), 0)) {
        current_ = this;
    }
    ~PassedInput() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    PassedInput(const PassedInput&) = delete;
    PassedInput& operator=(const PassedInput&) = delete;

    bool Valid() const { return hook_ != nullptr; }
    bool Saw(WPARAM what) const {
        return std::find(seen_.begin(), seen_.end(), what) != seen_.end();
    }

  private:
    // Runs on the installing thread, while it serves its messages.
    static LRESULT CALLBACK Proc(int code, WPARAM message, LPARAM data) {
        if (code == HC_ACTION && current_ != nullptr) {
            if constexpr (Kind == WH_KEYBOARD_LL) {
                if (message == WM_KEYDOWN)
                    current_->seen_.push_back(
                        reinterpret_cast<const KBDLLHOOKSTRUCT*>(data)->vkCode);
            } else {
                current_->seen_.push_back(message);
            }
        }
        return CallNextHookEx(nullptr, code, message, data);
    }

    static inline PassedInput* current_ = nullptr;
    HHOOK hook_;
    std::vector<WPARAM> seen_;
};
using PassedKeys = PassedInput<WH_KEYBOARD_LL>;
using PassedMouse = PassedInput<WH_MOUSE_LL>;

INPUT Key(WORD vk, bool up, DWORD time) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    input.ki.time = time;
    return input;
}

INPUT Mouse(DWORD flags, DWORD time, DWORD data = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.mouseData = data;
    input.mi.time = time;
    return input;
}

// An export of a loaded module as its function type.
template <typename Function>
Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

using SendOne = std::function<void(const INPUT&)>;

void SendWithSendInput(const INPUT& input) {
    INPUT copy = input;
    SendInput(1, &copy, sizeof copy);
}

// Sends the inputs one at a time on a thread of its own.
class InputSender {
  public:
    InputSender(std::vector<INPUT> inputs, SendOne send)
        : thread_([this, inputs = std::move(inputs), send = std::move(send)] {
              for (const INPUT& input : inputs)
                  send(input);
              done_ = true;
          }) {}
    ~InputSender() { thread_.join(); }
    bool Done() const { return done_; }

  private:
    std::atomic<bool> done_ = false;
    std::thread thread_;
};

// Sends the inputs and serves this thread until they are all handled and `done` holds.
bool Send(std::vector<INPUT> inputs, const std::function<bool()>& done,
          SendOne send = &SendWithSendInput) {
    // This thread has served its queue just now: the system does not take it for hung and skip
    // its hooks when the first input comes before the pump below has begun.
    MSG ignored;
    PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE);
    InputSender sender(std::move(inputs), std::move(send));
    return PumpUntil([&] { return sender.Done() && done(); });
}

// The platform's own path for hardware input, which reaches the hooks without the injected flag
// (as a real mouse's input does); null outside Wine.
using HardwareInput = BOOL(CDECL*)(HWND, const INPUT*, const void*);
HardwareInput WineHardwareInput() {
    HMODULE win32u = GetModuleHandleW(L"win32u.dll");
    return win32u == nullptr ? nullptr : Export<HardwareInput>(win32u, "__wine_send_input");
}

class RecordingMessageBoxes : public MessageBoxes {
  public:
    void ShowError(std::u16string_view text, std::u16string_view) override {
        shown.emplace_back(text);
    }
    std::vector<std::u16string> shown;
};

struct RealHook {
    Win32FileSystem files;
    Win32DynamicLibraryLoader libraries;
    RecordingMessageBoxes message_boxes;
    Win32KeyboardState keyboard;
    fake::RecordingDebugOutput debug;
    TuiHook hook{{files, &libraries, message_boxes, keyboard, debug}};
};

std::vector<std::string> KeyItems(const TMacroKeyList& list) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TMACROKEYHOOK& item = list.Objects(i).FMacroKey;
        if (item.nKeyType == kMacroDelayItem)
            texts.push_back("delay " + std::to_string(item.nKeyValue));
        else
            texts.push_back(std::string(1, static_cast<char>(item.nKeyValue)) +
                            (item.nKeyState == 1 ? " down" : " up"));
    }
    return texts;
}

TEST(UiHookWin32, RecordsAKeyboardMacroAndSwallowsItsKeys) {
    PassedKeys passed;
    ASSERT_TRUE(passed.Valid());
    // Without the library's hook every key gets through: the check below means something.
    ASSERT_TRUE(Send({Key('B', false, 0), Key('B', true, 0)}, [&] { return passed.Saw('B'); }));

    RealHook real;
    ASSERT_TRUE(real.hook.DLLLoaded());
    EXPECT_TRUE(real.message_boxes.shown.empty());
    std::vector<std::string> events;
    real.hook.OnRecordKeyboardMacroKey =
        [&](std::int32_t type, std::int32_t key, std::int32_t, std::int32_t, double,
            const std::u16string& text, const std::u16string& state_text, const TMacroKeyList&) {
            events.push_back(std::to_string(type) + " " + std::to_string(key) + " " +
                             std::string(text.begin(), text.end()) + " " +
                             std::string(state_text.begin(), state_text.end()));
        };
    TMacroKeyList recorded;
    real.hook.OnStopRecordKeyboardMacroKey = [&](TMacroKeyList& list) {
        recorded = list.TakeAll();
    };
    real.hook.RecordKeyboardMacroKey();
    const DWORD t = GetTickCount() + 1000;
    ASSERT_TRUE(Send({Key('A', false, t), Key('A', true, t + 80), Key('C', false, t + 200),
                      Key('C', true, t + 5000)},
                     [&] { return real.hook.MacroKeyList().Count() == 6; }))
        << real.hook.MacroKeyList().Count() << " items";
    real.hook.StopRecordKeyboardMacroKey();
    EXPECT_EQ(KeyItems(recorded), (std::vector<std::string>{"A down", "delay 80", "A up",
                                                            "delay 120", "C down", "C up"}));
    EXPECT_EQ(events, (std::vector<std::string>{"1 65 A Down", "0 80 80 ms", "1 65 A Up",
                                                "0 120 120 ms", "1 67 C Down", "1 67 C Up"}));

    // After the stop keys pass again and raise nothing; D arrives after A and C would have.
    ASSERT_TRUE(Send({Key('D', false, 0), Key('D', true, 0)}, [&] { return passed.Saw('D'); }));
    EXPECT_FALSE(passed.Saw('A'));
    EXPECT_FALSE(passed.Saw('C'));
    EXPECT_EQ(events.size(), 6u);
}

std::vector<std::string> MouseItems(const TMouseMacroKeyList& list) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TMOUSEMACROKEY& item = list.Objects(i).FMOUSEMacroKey;
        const std::string at = " @" + std::to_string(item.X) + "," + std::to_string(item.Y);
        if (item.nKeyType == kMacroDelayItem)
            texts.push_back("delay " + std::to_string(item.TimeValue) + at);
        else
            texts.push_back("button " + std::to_string(static_cast<int>(item.MouseButton)) +
                            (item.nKeyState == 1 ? " down" : " up") + at);
    }
    return texts;
}

TEST(UiHookWin32, RecordsAMouseMacroOfHardwareInputOnly) {
    const HardwareInput hardware_input = WineHardwareInput();
    if (hardware_input == nullptr)
        GTEST_SKIP() << "no way to send non-injected mouse input here";
    const SendOne send_hardware = [hardware_input](const INPUT& input) {
        hardware_input(nullptr, &input, nullptr);
    };
    PassedMouse passed;
    ASSERT_TRUE(passed.Valid());
    RealHook real;
    ASSERT_TRUE(real.hook.DLLLoaded());
    ASSERT_TRUE(SetCursorPos(100, 200));
    std::vector<std::string> texts;
    real.hook.OnRecordMouseMacroKey = [&](std::int32_t, TMouseButtons, std::int32_t, std::uint16_t,
                                          std::uint16_t, double, const std::u16string& text,
                                          const std::u16string& state_text,
                                          const TMouseMacroKeyList&) {
        texts.push_back(std::string(text.begin(), text.end()) + "|" +
                        std::string(state_text.begin(), state_text.end()));
    };
    real.hook.RecordMouseMacro();
    const DWORD t = GetTickCount() + 1000;
    ASSERT_TRUE(Send(
        {Mouse(MOUSEEVENTF_LEFTDOWN, t), Mouse(MOUSEEVENTF_LEFTUP, t + 70),
         Mouse(MOUSEEVENTF_WHEEL, t + 100, static_cast<DWORD>(-WHEEL_DELTA)),
         Mouse(MOUSEEVENTF_XDOWN, t + 130, XBUTTON1), Mouse(MOUSEEVENTF_XUP, t + 150, XBUTTON1)},
        [&] { return real.hook.MouseMacroKeyList().Count() == 9; }, send_hardware))
        << real.hook.MouseMacroKeyList().Count() << " items";
    // Injected input, as SendInput makes it, passes the library's hook and is not recorded.
    ASSERT_TRUE(Send({Mouse(MOUSEEVENTF_RIGHTDOWN, t + 200), Mouse(MOUSEEVENTF_RIGHTUP, t + 210)},
                     [&] { return passed.Saw(WM_RBUTTONUP); }));
    real.hook.StopRecordMouseMacro();
    EXPECT_EQ(MouseItems(real.hook.MouseMacroKeyList()),
              (std::vector<std::string>{
                  "button 1 down @100,200", "delay 70 @100,200", "button 1 up @100,200",
                  "delay 30 @100,200", "button 6 down @100,200", "delay 30 @100,200",
                  "button 4 down @100,200", "delay 20 @100,200", "button 4 up @100,200"}));
    EXPECT_EQ(texts.front(), "Mouse Click|Down");
    EXPECT_EQ(texts.back(), "Backward(Mouse) |Up");
}

// The library's contract, through its exports directly.
std::vector<std::string>* callback_log = nullptr;

template <char Name, bool Block>
void KORV_HOOK_CALL LoggingCallback(void*, std::int32_t nCode, std::uintptr_t wParam,
                                    std::intptr_t lParam, std::int32_t* ABlocked) {
    const auto* key = reinterpret_cast<const TKBDLLHOOKSTRUCT*>(lParam);
    callback_log->push_back(std::string(1, Name) + " " + std::to_string(nCode) + " " +
                            std::to_string(wParam) + " " + static_cast<char>(key->vkCode) + " " +
                            std::to_string(*ABlocked));
    *ABlocked = Block ? 1 : 0;
}

TEST(UiHookWin32, LibraryReplacesTheCallbackAndStopsCallingItAfterTheDisable) {
    const std::filesystem::path folder = ToWide(Win32FileSystem().ExecutableFolder());
    const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> owned(
        LoadLibraryW((folder / L"uiHook.dll").c_str()), &FreeLibrary);
    const HMODULE library = owned.get();
    ASSERT_NE(library, nullptr);
    const auto enable = Export<TEnableHook>(library, "EnableKeyboardHook");
    const auto disable = Export<TDisableHook>(library, "DisableKeyboardHook");
    ASSERT_TRUE(enable != nullptr && disable != nullptr);
    PassedKeys passed;
    ASSERT_TRUE(passed.Valid());
    std::vector<std::string> log;
    callback_log = &log;
    enable(&LoggingCallback<'1', false>, nullptr, 0);
    enable(&LoggingCallback<'2', true>, nullptr, 0);
    ASSERT_TRUE(Send({Key('E', false, 0)}, [&] { return !log.empty(); }));
    disable();
    ASSERT_TRUE(Send({Key('E', true, 0), Key('F', false, 0), Key('F', true, 0)},
                     [&] { return passed.Saw('F'); }));
    // Only the second callback, once, with ABlocked false on entry; what it swallowed never
    // got past the library.
    EXPECT_EQ(log, std::vector<std::string>{"2 0 256 E 0"});
    EXPECT_FALSE(passed.Saw('E'));
    callback_log = nullptr;
}

// The folder the component takes for the executable's.
class FolderFileSystem : public Win32FileSystem {
  public:
    explicit FolderFileSystem(std::u16string folder) : folder_(std::move(folder)) {}
    std::u16string ExecutableFolder() const override { return folder_; }

  private:
    std::u16string folder_;
};

// Closes every message box of this process that appears, each once, and keeps the caption and
// text of the last. Read what it found after Stop(): the box may end before the count is up.
class MessageBoxCloser {
  public:
    MessageBoxCloser()
        : thread_([this] {
              const ULONGLONG end = GetTickCount64() + kTimeoutMs;
              HWND last = nullptr;  // posted its OK, perhaps not yet gone
              while (!stop_ && GetTickCount64() < end) {
                  // Not a box of another program on the desktop, such as a crash report.
                  HWND box = test::BoxOf(GetCurrentProcessId(), nullptr);
                  if (box != nullptr && box != last) {
                      ++closed;
                      Close(box);
                      last = box;
                  }
                  Sleep(10);
              }
          }) {}
    ~MessageBoxCloser() { Stop(); }

    void Stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    std::atomic<int> closed = 0;
    std::wstring caption;
    std::wstring text;

  private:
    void Close(HWND box) {
        wchar_t buffer[256] = {};
        GetWindowTextW(box, buffer, 256);
        caption = buffer;
        EnumChildWindows(box, &CollectStatic, reinterpret_cast<LPARAM>(&text));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    static BOOL CALLBACK CollectStatic(HWND child, LPARAM lParam) {
        wchar_t class_name[32] = {}, buffer[256] = {};
        GetClassNameW(child, class_name, 32);
        GetWindowTextW(child, buffer, 256);
        if (_wcsicmp(class_name, L"Static") == 0 && buffer[0] != 0)
            *reinterpret_cast<std::wstring*>(lParam) = buffer;
        return TRUE;
    }

    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

// What the program's folder holds in place of a working hook library.
enum class Planted { Nothing, EmptyFile, TextFile, LibraryWithoutEntries };

struct UnusableLibraryCase {
    const char* what;
    Planted planted;
    bool box;                // "uiHook.dll can not be found!" comes up
    const char16_t* reason;  // in the trace line
};

std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());  // for failure messages; the texts are ASCII
}

void Plant(Planted planted, const std::filesystem::path& library) {
    std::filesystem::remove(library);
    if (planted == Planted::EmptyFile || planted == Planted::TextFile) {
        std::ofstream file(library, std::ios::binary);
        if (planted == Planted::TextFile)
            file << "This is not a library.\r\n";
    }
    if (planted == Planted::LibraryWithoutEntries) {
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        std::filesystem::copy_file(std::filesystem::path(system) / L"version.dll", library);
    }
}

// Every way the library can be unusable leaves the hooks off with a trace line that gives the
// real reason; a library that cannot be loaded also gets the box. A working library of that name
// in the current folder is never taken instead.
TEST(UiHookWin32, UnusableLibraryIsTracedWithItsReason) {
    const UnusableLibraryCase cases[] = {
        {"no file", Planted::Nothing, true, u"there is no such file"},
        {"empty file", Planted::EmptyFile, true, u"the file is not a library of this system"},
        {"text file", Planted::TextFile, true, u"the file is not a library of this system"},
        {"library without the entry points", Planted::LibraryWithoutEntries, false,
         u"it has no entry point EnableKeyboardHook"},
    };
    const std::filesystem::path temp = std::filesystem::temp_directory_path() / L"korv-hook-test";
    const std::filesystem::path folder = temp / L"folder", planted = temp / L"planted";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(planted);
    const std::filesystem::path built = ToWide(Win32FileSystem().ExecutableFolder());
    std::filesystem::copy_file(built / L"uiHook.dll", planted / L"uiHook.dll",
                               std::filesystem::copy_options::overwrite_existing);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(planted);

    for (const UnusableLibraryCase& c : cases) {
        SCOPED_TRACE(c.what);
        Plant(c.planted, folder / L"uiHook.dll");
        FolderFileSystem files(FromWide(folder.wstring() + L"\\"));
        Win32DynamicLibraryLoader libraries;
        Win32MessageBoxes message_boxes;
        Win32KeyboardState keyboard;
        fake::RecordingDebugOutput debug;
        bool loaded = true;
        int closed = 0;
        std::wstring caption, text;
        {
            MessageBoxCloser closer;
            TuiHook hook({files, &libraries, message_boxes, keyboard, debug});
            loaded = hook.DLLLoaded();
            closer.Stop();
            closed = closer.closed;
            caption = closer.caption;
            text = closer.text;
        }
        EXPECT_FALSE(loaded);
        EXPECT_EQ(closed, c.box ? 1 : 0);
        if (c.box) {
            EXPECT_EQ(caption, L"Error");
            EXPECT_EQ(text, L"uiHook.dll can not be found!");
        }
        ASSERT_EQ(debug.lines.size(), 1u);
        EXPECT_NE(debug.lines[0].find(c.reason), std::u16string::npos) << Narrow(debug.lines[0]);
        EXPECT_NE(debug.lines[0].find(FromWide(folder.wstring())), std::u16string::npos);
        EXPECT_EQ(GetModuleHandleW(L"uiHook.dll"), nullptr);
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(temp);
}

}  // namespace
}  // namespace korv::win32
