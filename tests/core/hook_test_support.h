#pragma once
// A hook component wired to fakes: the fake hook library in the executable's folder, a recording
// message box and a keyboard whose held keys a test sets. Events are built with the helpers below
// and items are compared as short texts.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hook/ui_hook.h"
#include "platform/fake/fake_hook_library.h"
#include "platform/fake/fake_hook_services.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/memory_file_system.h"

namespace korv::hook_test {

inline constexpr char16_t kFolder[] = u"C:\\Program Files\\Monitor\\";
inline constexpr char16_t kLibraryPath[] = u"C:\\Program Files\\Monitor\\uiHook.dll";

inline constexpr std::uint32_t kWmMouseMove = 0x0200;
inline constexpr std::uint32_t kWmLButtonDown = 0x0201;
inline constexpr std::uint32_t kWmLButtonUp = 0x0202;
inline constexpr std::uint32_t kWmRButtonDown = 0x0204;
inline constexpr std::uint32_t kWmRButtonUp = 0x0205;
inline constexpr std::uint32_t kWmMButtonDown = 0x0207;
inline constexpr std::uint32_t kWmMouseWheel = 0x020A;
inline constexpr std::uint32_t kWmXButtonDown = 0x020B;
inline constexpr std::uint32_t kWmXButtonUp = 0x020C;
inline constexpr std::uint32_t kWmMouseHWheel = 0x020E;

inline TKBDLLHOOKSTRUCT KeyDown(std::uint32_t vk, std::uint32_t time, std::uint32_t flags = 0,
                                std::uint32_t scan = 0) {
    return {vk, scan, flags, time, 0};
}

inline TKBDLLHOOKSTRUCT KeyUp(std::uint32_t vk, std::uint32_t time, std::uint32_t flags = 0,
                              std::uint32_t scan = 0) {
    return {vk, scan, flags | kKeyFlagUp, time, 0};
}

// Mouse data with `high` in its high 16 bits: the wheel delta or the X button number.
inline std::uint32_t MouseData(std::int16_t high) {
    return static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16;
}

inline TMSLLHOOKSTRUCT Mouse(std::int32_t x, std::int32_t y, std::uint32_t time,
                             std::uint32_t mouse_data = 0, std::uint32_t flags = 0) {
    return {x, y, mouse_data, flags, time, 0};
}

inline std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());  // the texts here are ASCII
}

class HookFixture : public ::testing::Test {
  protected:
    void SetUp() override { hook = std::make_unique<TuiHook>(services); }
    void TearDown() override { hook.reset(); }

    fake::FakeHookLibrary library;
    fake::MemoryFileSystem files{kFolder};
    fake::FakeLibraryLoader loader{library, kLibraryPath};
    fake::RecordingMessageBoxes message_boxes;
    fake::FakeKeyboardState keyboard;
    fake::RecordingDebugOutput debug;
    HookServices services{files, &loader, message_boxes, keyboard, debug};
    std::unique_ptr<TuiHook> hook;
};

}  // namespace korv::hook_test
