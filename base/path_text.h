#pragma once
// The path text rules every file-system backend shares, with the platform's separator: nothing
// is normalised, so a path the stored records keep stays the text that was written.
//
// Threads: plain functions; any thread.

#include <string>
#include <string_view>
#include <utility>

namespace korv {

// `name` inside `folder`: the folder, one separator unless it ends with one, and the name.
inline std::u16string PathInFolder(std::u16string_view folder, std::u16string_view name,
                                   char16_t separator) {
    std::u16string path(folder);
    if (path.empty() || path.back() != separator)
        path.push_back(separator);
    return path.append(name);
}

// `path`, one separator and `part`, whatever `path` ends with.
inline std::u16string JoinWithSeparator(std::u16string_view path, std::u16string_view part,
                                        char16_t separator) {
    std::u16string joined(path);
    joined.push_back(separator);
    return joined.append(part);
}

// A path cut after its last separator: the folder with that separator, and the name.
inline std::pair<std::u16string, std::u16string> SplitFolderAndName(std::u16string_view path,
                                                                    char16_t separator) {
    const std::size_t cut = path.rfind(separator);
    if (cut == std::u16string_view::npos)
        return {std::u16string(), std::u16string(path)};
    return {std::u16string(path.substr(0, cut + 1)), std::u16string(path.substr(cut + 1))};
}

}  // namespace korv
