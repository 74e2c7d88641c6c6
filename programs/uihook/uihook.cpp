// uiHook.dll: installs the system's low-level keyboard and mouse hooks for the thread that enables
// them and hands every event, while it waits, to the one callback registered for its kind.
//
// Windows silently drops a low-level hook whose procedure runs longer than the system's time-out,
// so the hook procedures do nothing but call the callback. The callbacks and hook handles are the
// library's only state; one lock guards them, and a callback runs under it, so that once a disable
// call has returned its callback is never called again. The lock is recursive: a callback may
// enable or disable hooks itself. It is the system's critical section rather than the C++
// library's recursive mutex, whose thread support would make up most of the library's size.

#include <windows.h>

#include <cstddef>
#include <mutex>

#include "hook/hook_library_abi.h"

namespace {

using korv::THookCallback;

static_assert(sizeof(korv::TKBDLLHOOKSTRUCT) == sizeof(KBDLLHOOKSTRUCT));
static_assert(offsetof(korv::TKBDLLHOOKSTRUCT, flags) == offsetof(KBDLLHOOKSTRUCT, flags));
static_assert(offsetof(korv::TKBDLLHOOKSTRUCT, time) == offsetof(KBDLLHOOKSTRUCT, time));
static_assert(offsetof(korv::TKBDLLHOOKSTRUCT, dwExtraInfo) ==
              offsetof(KBDLLHOOKSTRUCT, dwExtraInfo));
static_assert(sizeof(korv::TMSLLHOOKSTRUCT) == sizeof(MSLLHOOKSTRUCT));
static_assert(offsetof(korv::TMSLLHOOKSTRUCT, y) == offsetof(MSLLHOOKSTRUCT, pt.y));
static_assert(offsetof(korv::TMSLLHOOKSTRUCT, mouseData) == offsetof(MSLLHOOKSTRUCT, mouseData));
static_assert(offsetof(korv::TMSLLHOOKSTRUCT, time) == offsetof(MSLLHOOKSTRUCT, time));
static_assert(offsetof(korv::TMSLLHOOKSTRUCT, dwExtraInfo) ==
              offsetof(MSLLHOOKSTRUCT, dwExtraInfo));
static_assert(korv::kKeyFlagExtended == LLKHF_EXTENDED && korv::kKeyFlagUp == LLKHF_UP);
static_assert(korv::kMouseFlagInjected == LLMHF_INJECTED);

struct HookSlot {
    HHOOK hook = nullptr;
    THookCallback callback = nullptr;
    void* context = nullptr;
};

class RecursiveLock {
  public:
    RecursiveLock() { InitializeCriticalSection(&section_); }
    ~RecursiveLock() { DeleteCriticalSection(&section_); }
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;
    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

HINSTANCE module_instance = nullptr;
RecursiveLock slots_lock;
HookSlot keyboard_slot;
HookSlot mouse_slot;

LRESULT Dispatch(HookSlot& slot, int code, WPARAM wParam, LPARAM lParam) {
    std::int32_t blocked = 0;
    if (code == HC_ACTION) {
        std::lock_guard lock(slots_lock);
        if (slot.callback != nullptr)
            slot.callback(slot.context, code, wParam, lParam, &blocked);
    }
    if (blocked != 0)
        return 1;  // swallowed: no later hook and no application sees the event
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK KeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
    return Dispatch(keyboard_slot, code, wParam, lParam);
}

LRESULT CALLBACK MouseProc(int code, WPARAM wParam, LPARAM lParam) {
    return Dispatch(mouse_slot, code, wParam, lParam);
}

void Disable(HookSlot& slot) {
    std::lock_guard lock(slots_lock);
    if (slot.hook != nullptr)
        UnhookWindowsHookEx(slot.hook);
    slot = {};
}

void Enable(HookSlot& slot, int id, HOOKPROC proc, THookCallback callback, void* context) {
    std::lock_guard lock(slots_lock);
    Disable(slot);
    if (callback == nullptr)
        return;
    slot.hook = SetWindowsHookExW(id, proc, module_instance, 0);
    if (slot.hook != nullptr) {
        slot.callback = callback;
        slot.context = context;
    }
}

}  // namespace

extern "C" {

__declspec(dllexport) void KORV_HOOK_CALL
    EnableKeyboardHook(THookCallback Callback, void* Context, std::int32_t) {
    Enable(keyboard_slot, WH_KEYBOARD_LL, &KeyboardProc, Callback, Context);
}

__declspec(dllexport) void KORV_HOOK_CALL DisableKeyboardHook() {
    Disable(keyboard_slot);
}

__declspec(dllexport) void KORV_HOOK_CALL
    EnableMouseHook(THookCallback Callback, void* Context, std::int32_t) {
    Enable(mouse_slot, WH_MOUSE_LL, &MouseProc, Callback, Context);
}

__declspec(dllexport) void KORV_HOOK_CALL DisableMouseHook() {
    Disable(mouse_slot);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        module_instance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded with a hook still installed: remove it, or the system would call into code
        // that is gone. No lock here: the loader lock is held.
        for (HookSlot* slot : {&keyboard_slot, &mouse_slot}) {
            if (slot->hook != nullptr)
                UnhookWindowsHookEx(slot->hook);
            *slot = {};
        }
    }
    return TRUE;
}

}  // extern "C"
