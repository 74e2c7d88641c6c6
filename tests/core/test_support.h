#pragma once
// Constants and small helpers that several core test files share.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hid/usage_and_page.h"
#include "lang/translation_table.h"
#include "ports/hid_interfaces.h"
#include "ports/keyed_store.h"

namespace korv::test {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::u16string>;

// The registry folder of the profile data when config.ini names none.
inline constexpr std::u16string_view kDefaultRegFolder = u"software\\software\\KORVANTH417GM";
// The same folder as the key path the store is given.
inline const StoreKeyPath kDefaultRegKey{u"software", u"software", u"KORVANTH417GM"};

// The mouse's vendor interface as the fake HID port reports it: input and output reports of 8
// bytes, feature reports of 16.
inline constexpr HidCapabilities kMouseCaps{kMouseVendorCollection.Usage,
                                            kMouseVendorCollection.UsagePage, 8, 8, 16};

// A translation list holding these "source=translation" lines.
inline TranslationList ListOf(const Texts& lines) {
    TranslationList list;
    for (const std::u16string& line : lines)
        list.Add(line);
    return list;
}

}  // namespace korv::test
