#pragma once
// The binary contract between the hook component and the hook library uiHook.dll, which installs
// the system's low-level keyboard and mouse hooks and hands every event to one callback per kind.
// Both sides include this header; the library checks the records against the platform's own.

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define KORV_HOOK_CALL __stdcall
#else
#define KORV_HOOK_CALL
#endif

namespace korv {

// The platform's low-level keyboard record (the address of one is the callback's lParam).
struct TKBDLLHOOKSTRUCT {
    std::uint32_t vkCode;
    std::uint32_t scanCode;
    std::uint32_t flags;  // bit 0: extended key, bit 4: injected, bit 7: key up
    std::uint32_t time;   // the event's millisecond tick count
    std::uintptr_t dwExtraInfo;
};

// The platform's low-level mouse record.
struct TMSLLHOOKSTRUCT {
    std::int32_t x;  // pointer position in screen coordinates
    std::int32_t y;
    std::uint32_t mouseData;  // high 16 bits: wheel delta or X button number
    std::uint32_t flags;      // bit 0: injected
    std::uint32_t time;
    std::uintptr_t dwExtraInfo;
};

inline constexpr std::uint32_t kKeyFlagExtended = 0x01;
inline constexpr std::uint32_t kKeyFlagUp = 0x80;
inline constexpr std::uint32_t kMouseFlagInjected = 0x01;

extern "C" {

// Called synchronously for every event while the event waits, on the thread that enabled the hook.
// nCode is the hook code, wParam the input message (for example WM_KEYDOWN), lParam the address of
// a TKBDLLHOOKSTRUCT or TMSLLHOOKSTRUCT. *ABlocked is 0 on entry; when the callback leaves it
// non-zero the event is swallowed.
typedef void(KORV_HOOK_CALL* THookCallback)(void* Context, std::int32_t nCode,
                                            std::uintptr_t wParam, std::intptr_t lParam,
                                            std::int32_t* ABlocked);

// Installs the hook of one kind for the calling thread, which must own a message queue, replacing
// any callback of that kind. Reserved is always 0.
typedef void(KORV_HOOK_CALL* TEnableHook)(THookCallback Callback, void* Context,
                                          std::int32_t Reserved);

// Removes the hook of one kind; its callback is not called again once this has returned.
typedef void(KORV_HOOK_CALL* TDisableHook)();

}  // extern "C"

inline constexpr const char* kEnableKeyboardHookExport = "EnableKeyboardHook";
inline constexpr const char* kDisableKeyboardHookExport = "DisableKeyboardHook";
inline constexpr const char* kEnableMouseHookExport = "EnableMouseHook";
inline constexpr const char* kDisableMouseHookExport = "DisableMouseHook";

}  // namespace korv
