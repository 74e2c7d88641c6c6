#pragma once
// The hook library as the hook component sees it, for the core's tests: the four entry points,
// the installed callbacks, a log of the calls, and synthetic keyboard and mouse events delivered
// through the installed callback as the real library delivers them.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hook/hook_library_abi.h"
#include "ports/dynamic_library.h"

namespace korv::fake {

class FakeHookLibrary {
  public:
    // The entry points dispatch to the latest instance; tests hold one at a time.
    FakeHookLibrary();
    ~FakeHookLibrary();
    FakeHookLibrary(const FakeHookLibrary&) = delete;
    FakeHookLibrary& operator=(const FakeHookLibrary&) = delete;

    // Delivers an event to the installed callback with ABlocked false: whether the callback
    // swallowed it, or nothing when no hook of that kind is installed. A key's message is
    // WM_KEYDOWN or WM_KEYUP after its key-up flag.
    std::optional<bool> SendKey(const TKBDLLHOOKSTRUCT& key, std::int32_t nCode = 0);
    std::optional<bool> SendMouse(std::uint32_t message, const TMSLLHOOKSTRUCT& mouse);

    bool KeyboardHookInstalled() const { return keyboard_.callback != nullptr; }
    bool MouseHookInstalled() const { return mouse_.callback != nullptr; }

    LibraryProc FindProc(const char* name) const;
    void Loaded();
    void Unloaded();

    std::set<std::string> missing_exports;  // entry points this library lacks
    std::vector<std::string> calls;         // entry points called, and "load" and "unload"
    bool loaded = false;
    bool hook_installed_at_unload = false;  // a hook would have stayed in unloaded code

  private:
    struct Slot {
        THookCallback callback = nullptr;
        void* context = nullptr;
    };
    static void KORV_HOOK_CALL EnableKeyboardHook(THookCallback callback, void* context,
                                                  std::int32_t reserved);
    static void KORV_HOOK_CALL DisableKeyboardHook();
    static void KORV_HOOK_CALL EnableMouseHook(THookCallback callback, void* context,
                                               std::int32_t reserved);
    static void KORV_HOOK_CALL DisableMouseHook();
    static std::optional<bool> Deliver(const Slot& slot, std::int32_t nCode, std::uintptr_t message,
                                       const void* record);

    Slot keyboard_;
    Slot mouse_;
};

// Serves the fake library at one full path and records every path asked for. Every other path
// fails as `refusal` says (no file there, unless a test says otherwise).
class FakeLibraryLoader : public DynamicLibraryLoader {
  public:
    FakeLibraryLoader(FakeHookLibrary& library, std::u16string path)
        : library_(library), path_(std::move(path)) {}

    [[nodiscard]] LibraryLoad Load(std::u16string_view path) override;

    std::vector<std::u16string> requested;
    struct Refusal {
        LibraryLoadFailure failure = LibraryLoadFailure::NotFound;
        std::uint32_t error = 2;
    } refusal;

  private:
    FakeHookLibrary& library_;
    std::u16string path_;
};

}  // namespace korv::fake
