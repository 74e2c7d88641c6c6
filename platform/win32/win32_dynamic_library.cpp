#include "platform/win32/win32_dynamic_library.h"

#include <windows.h>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_file_system.h"

namespace korv::win32 {
namespace {

// The library stays loaded while the object lives.
class Win32DynamicLibrary : public DynamicLibrary {
  public:
    explicit Win32DynamicLibrary(HMODULE module) : module_(module) {}

    LibraryProc FindProc(const char* name) const override {
        return reinterpret_cast<LibraryProc>(GetProcAddress(module_.Get(), name));
    }

  private:
    UniqueModule module_;
};

LibraryLoadFailure FailureOf(DWORD error, const std::wstring& path) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_MOD_NOT_FOUND:
            // The same code names a missing file and a missing library the file imports.
            return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES
                       ? LibraryLoadFailure::NotFound
                       : LibraryLoadFailure::DependencyMissing;
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_BAD_FORMAT:
        case ERROR_INVALID_EXE_SIGNATURE:
        case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        case ERROR_FILE_CORRUPT:
        case ERROR_FILE_INVALID:
            return LibraryLoadFailure::NotALibrary;
        case ERROR_DLL_INIT_FAILED:
            return LibraryLoadFailure::InitialisationFailed;
        default:
            return LibraryLoadFailure::Other;
    }
}

}  // namespace

LibraryLoad Win32DynamicLibraryLoader::Load(std::u16string_view path) {
    if (!Win32FileSystem::IsWindowsFullPath(path))
        return {nullptr, LibraryLoadFailure::NotFullPath, ERROR_INVALID_PARAMETER};
    const std::wstring wide = ToWide(path);
    // The library's own imports come from its folder and the system folder only.
    HMODULE module = LoadLibraryExW(
        wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        // A system without the restricted search flags.
        module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    if (module == nullptr) {
        const DWORD error = GetLastError();
        return {nullptr, FailureOf(error, wide), error};
    }
    return {std::make_unique<Win32DynamicLibrary>(module)};
}

}  // namespace korv::win32
