#pragma once
// Loading libraries of code on Windows.

#include "ports/dynamic_library.h"

namespace korv::win32 {

class Win32DynamicLibraryLoader : public DynamicLibraryLoader {
  public:
    [[nodiscard]] LibraryLoad Load(std::u16string_view path) override;
};

}  // namespace korv::win32
