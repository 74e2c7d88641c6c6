#pragma once
// The hook library uiHook.dll, loaded once per process and shared by every hook component.
//
// Threads: loading and unloading on the main thread; the entry points are then called by the
// hook component on the thread that enables the hooks.

#include <optional>
#include <string_view>

#include "hook/hook_library_abi.h"
#include "ports/debug_output.h"
#include "ports/dynamic_library.h"
#include "ports/file_system.h"
#include "ports/message_box.h"

namespace korv {

inline constexpr std::u16string_view kHookLibraryName = u"uiHook.dll";
inline constexpr std::u16string_view kHookLibraryMissingText = u"uiHook.dll can not be found!";
inline constexpr std::u16string_view kHookLibraryMissingCaption = u"Error";
// The trace line of a platform that has no hook library.
inline constexpr std::u16string_view kNoHookLibraryTrace =
    u"Hook library: this platform has none; keyboard and mouse hooks are off";

// The library's four entry points.
struct THookLibraryEntries {
    TEnableHook EnableKeyboardHook = nullptr;
    TDisableHook DisableKeyboardHook = nullptr;
    TEnableHook EnableMouseHook = nullptr;
    TDisableHook DisableMouseHook = nullptr;
};

// True when the library is loaded with all four entry points. Loads it when it is not: only from
// the executable's own folder, never through the platform's search order, so that a library of
// that name planted in the current folder or on the search path never runs in this process. When
// the library cannot be loaded (for whatever reason), shows "uiHook.dll can not be found!" as an
// error and reports failure; when an entry point is missing, unloads it again and reports
// failure without a box. Every failure writes a trace line with its real reason.
[[nodiscard]] bool LoadHookLibrary(const FileSystem& files, DynamicLibraryLoader& loader,
                                   MessageBoxes& message_boxes, const DebugOutput& debug);

// Disables both hooks, so that none stays installed into unloaded code, then unloads the library.
// Does nothing when it is not loaded.
void UnloadHookLibrary();

// The entry points while the library is loaded.
[[nodiscard]] std::optional<THookLibraryEntries> HookLibraryEntries();

}  // namespace korv
