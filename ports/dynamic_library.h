#pragma once
// Port: loading a library of code at run time and finding its entry points.
//
// Threads: the main thread, which loads and unloads the hook library.

#include <cstdint>
#include <memory>
#include <string_view>

namespace korv {

// The address of an entry point; callers convert it to the entry's real function type.
using LibraryProc = void (*)();

// A loaded library; destroying it unloads the library.
class DynamicLibrary {
  public:
    virtual ~DynamicLibrary() = default;

    // The exported entry point of that name, or null when the library has none.
    virtual LibraryProc FindProc(const char* name) const = 0;
};

// Why a library could not be loaded.
enum class LibraryLoadFailure : std::uint8_t {
    None,
    NotFullPath,           // refused: only full paths are loaded
    NotFound,              // there is no file at the path
    DependencyMissing,     // the file is there, but a library it needs is not
    NotALibrary,           // the file is no library for this platform (empty, damaged, other kind)
    InitialisationFailed,  // the library's start-up code refused to load
    Other,
};

struct LibraryLoad {
    std::unique_ptr<DynamicLibrary> library;  // null when the load failed
    LibraryLoadFailure failure = LibraryLoadFailure::None;
    std::uint32_t error = 0;  // the platform's error code of the failure
};

class DynamicLibraryLoader {
  public:
    virtual ~DynamicLibraryLoader() = default;

    // Loads the library at `path`, which must be a full path: a bare or relative name is refused,
    // so that no search order can substitute a library from another folder.
    [[nodiscard]] virtual LibraryLoad Load(std::u16string_view path) = 0;
};

}  // namespace korv
