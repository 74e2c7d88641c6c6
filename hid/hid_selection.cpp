#include "hid/hid_selection.h"

#include <algorithm>

namespace korv {

bool HasHardwareId(std::span<const std::u16string> hardware_ids, std::u16string_view id) {
    return std::ranges::any_of(
        hardware_ids, [id](const std::u16string& own) { return EqualsIgnoringAsciiCase(own, id); });
}

bool SelectedByIncludeList(std::span<const std::u16string> include_list,
                           std::span<const std::u16string> hardware_ids) {
    if (include_list.empty()) {
        return true;
    }
    return std::ranges::any_of(include_list, [hardware_ids](const std::u16string& entry) {
        return HasHardwareId(hardware_ids, entry);
    });
}

bool SelectedByIdentifier(std::u16string_view device_id,
                          std::span<const std::u16string> include_list,
                          std::span<const std::u16string> hardware_ids) {
    if (device_id.empty() || device_id == u"*") {
        return SelectedByIncludeList(include_list, hardware_ids);
    }
    return HasHardwareId(hardware_ids, device_id);
}

}  // namespace korv
