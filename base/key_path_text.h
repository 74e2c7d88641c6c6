#pragma once
// Key paths written as text, as the settings file carries the profile data's key
// ("software\KORVANTH417GM"): the names of the keys from the top down, separated by backslashes.

#include <string_view>

#include "ports/keyed_store.h"

namespace korv {

// The key path a text names, read as the registry reads it: backslashes separate the names, and
// a doubled or trailing backslash separates nothing more ("a\\b\" is a\b). An empty text and a
// text that starts with a backslash name no key, so the result is empty and the store refuses
// it: the registry refuses a leading backslash, and an empty text would name the top itself.
inline StoreKeyPath KeyPathFromText(std::u16string_view text) {
    StoreKeyPath path;
    if (text.empty() || text.front() == u'\\')
        return path;
    while (!text.empty()) {
        const std::size_t cut = text.find(u'\\');
        const std::u16string_view name = text.substr(0, cut);
        if (!name.empty())
            path.emplace_back(name);
        text.remove_prefix(cut == std::u16string_view::npos ? text.size() : cut + 1);
    }
    return path;
}

}  // namespace korv
