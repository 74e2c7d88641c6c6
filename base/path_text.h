#pragma once
// Windows path text, as the stored records and the settings file carry it.

#include <string_view>

namespace korv {

// A drive path ("C:\..." or "C:/...") or a UNC path ("\\server\..."): the only forms that name
// one place whatever the current drive, folder or search order is.
constexpr bool IsFullPath(std::u16string_view path) {
    const bool drive = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
    return drive || path.starts_with(u"\\\\");
}

}  // namespace korv
