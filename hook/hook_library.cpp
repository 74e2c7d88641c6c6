#include "hook/hook_library.h"

#include <memory>
#include <mutex>
#include <string>

namespace korv {
namespace {

// The process-wide state: the loaded library and its entry points.
struct LoadedHookLibrary {
    std::mutex lock;
    std::unique_ptr<DynamicLibrary> library;
    THookLibraryEntries entries;
};

LoadedHookLibrary& Loaded() {
    static LoadedHookLibrary loaded;
    return loaded;
}

template <typename Entry>
bool Find(const DynamicLibrary& library, const char* name, Entry& entry) {
    entry = reinterpret_cast<Entry>(library.FindProc(name));
    return entry != nullptr;
}

std::optional<THookLibraryEntries> FindEntries(const DynamicLibrary& library) {
    THookLibraryEntries entries;
    if (Find(library, kEnableKeyboardHookExport, entries.EnableKeyboardHook) &&
        Find(library, kDisableKeyboardHookExport, entries.DisableKeyboardHook) &&
        Find(library, kEnableMouseHookExport, entries.EnableMouseHook) &&
        Find(library, kDisableMouseHookExport, entries.DisableMouseHook)) {
        return entries;
    }
    return std::nullopt;
}

}  // namespace

bool LoadHookLibrary(const FileSystem& files, DynamicLibraryLoader& loader,
                     MessageBoxes& message_boxes) {
    LoadedHookLibrary& loaded = Loaded();
    {
        std::lock_guard lock(loaded.lock);
        if (loaded.library)
            return true;
        // Without a known folder there is no safe place to load from.
        const std::u16string folder = files.ExecutableFolder();
        std::unique_ptr<DynamicLibrary> library =
            folder.empty() ? nullptr : loader.Load(folder + std::u16string(kHookLibraryName));
        if (library) {
            const std::optional<THookLibraryEntries> entries = FindEntries(*library);
            if (!entries)
                return false;  // the library unloads as it goes out of scope
            loaded.library = std::move(library);
            loaded.entries = *entries;
            return true;
        }
    }
    // Outside the lock: the message box runs a message loop until it is closed.
    message_boxes.ShowError(kHookLibraryMissingText, kHookLibraryMissingCaption);
    return false;
}

void UnloadHookLibrary() {
    LoadedHookLibrary& loaded = Loaded();
    std::lock_guard lock(loaded.lock);
    if (!loaded.library)
        return;
    loaded.entries.DisableKeyboardHook();
    loaded.entries.DisableMouseHook();
    loaded.library.reset();
    loaded.entries = {};
}

std::optional<THookLibraryEntries> HookLibraryEntries() {
    LoadedHookLibrary& loaded = Loaded();
    std::lock_guard lock(loaded.lock);
    if (!loaded.library)
        return std::nullopt;
    return loaded.entries;
}

}  // namespace korv
