#include "hook/hook_library.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "base/decimal_text.h"

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

// The entry points, or the name of the first one the library lacks.
struct FoundEntries {
    std::optional<THookLibraryEntries> entries;
    const char* missing = nullptr;
};

FoundEntries FindEntries(const DynamicLibrary& library) {
    THookLibraryEntries entries;
    if (!Find(library, kEnableKeyboardHookExport, entries.EnableKeyboardHook))
        return {std::nullopt, kEnableKeyboardHookExport};
    if (!Find(library, kDisableKeyboardHookExport, entries.DisableKeyboardHook))
        return {std::nullopt, kDisableKeyboardHookExport};
    if (!Find(library, kEnableMouseHookExport, entries.EnableMouseHook))
        return {std::nullopt, kEnableMouseHookExport};
    if (!Find(library, kDisableMouseHookExport, entries.DisableMouseHook))
        return {std::nullopt, kDisableMouseHookExport};
    return {entries};
}

std::u16string_view Reason(LibraryLoadFailure failure) {
    switch (failure) {
        case LibraryLoadFailure::None:
            break;
        case LibraryLoadFailure::NotFullPath:
            return u"the path is not a full path";
        case LibraryLoadFailure::NotFound:
            return u"there is no such file";
        case LibraryLoadFailure::DependencyMissing:
            return u"a library it needs is missing";
        case LibraryLoadFailure::NotALibrary:
            return u"the file is not a library of this system";
        case LibraryLoadFailure::InitialisationFailed:
            return u"its start-up code failed";
        case LibraryLoadFailure::Other:
            break;
    }
    return u"it cannot be loaded";
}

std::u16string LoadFailureTrace(std::u16string_view path, const LibraryLoad& load) {
    return u"Hook library " + std::u16string(path) + u" not loaded: " +
           std::u16string(Reason(load.failure)) + u" (error " + DecimalText(load.error) +
           u"); keyboard and mouse hooks are off";
}

std::u16string MissingEntryTrace(std::u16string_view path, const char* entry) {
    const std::u16string name(entry, entry + std::strlen(entry));  // the names are ASCII
    return u"Hook library " + std::u16string(path) + u" not used: it has no entry point " + name +
           u"; keyboard and mouse hooks are off";
}

}  // namespace

bool LoadHookLibrary(const FileSystem& files, DynamicLibraryLoader& loader,
                     MessageBoxes& message_boxes, const DebugOutput& debug) {
    LoadedHookLibrary& loaded = Loaded();
    {
        std::lock_guard lock(loaded.lock);
        if (loaded.library)
            return true;
        // Without a known folder there is no safe place to load from.
        const std::u16string folder = files.ExecutableFolder();
        if (folder.empty()) {
            debug.Trace(
                u"Hook library not loaded: the program's folder is unknown; keyboard and "
                u"mouse hooks are off");
        } else {
            const std::u16string path = files.PathInFolder(folder, kHookLibraryName);
            LibraryLoad load = loader.Load(path);
            if (load.library) {
                const FoundEntries found = FindEntries(*load.library);
                if (!found.entries) {
                    debug.Trace(MissingEntryTrace(path, found.missing));
                    return false;  // the library unloads as it goes out of scope
                }
                loaded.library = std::move(load.library);
                loaded.entries = *found.entries;
                return true;
            }
            debug.Trace(LoadFailureTrace(path, load));
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
