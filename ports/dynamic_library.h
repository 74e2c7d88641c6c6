#pragma once
// Port: loading a library of code at run time and finding its entry points.
//
// Threads: the main thread, which loads and unloads the hook library.

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

class DynamicLibraryLoader {
  public:
    virtual ~DynamicLibraryLoader() = default;

    // Loads the library at `path`, which must be a full path: a bare or relative name is refused,
    // so that no search order can substitute a library from another folder. Null on failure.
    [[nodiscard]] virtual std::unique_ptr<DynamicLibrary> Load(std::u16string_view path) = 0;
};

}  // namespace korv
