#include "hid/button_usages.h"

#include <algorithm>

namespace korv {
namespace {

// The non-zero usages of `from` that `other` does not hold.
std::vector<std::uint16_t> Missing(std::span<const std::uint16_t> from,
                                   std::span<const std::uint16_t> other) {
    std::vector<std::uint16_t> missing;
    for (const std::uint16_t usage : from) {
        if (usage != 0 && std::ranges::find(other, usage) == other.end()) {
            missing.push_back(usage);
        }
    }
    return missing;
}

}  // namespace

UsageListChange UsageListDifference(std::span<const std::uint16_t> previous,
                                    std::span<const std::uint16_t> current) {
    return {Missing(previous, current), Missing(current, previous)};
}

std::uint32_t ButtonDataOf(const UsageListChange& change) {
    if (!change.released.empty()) {
        return change.released.front();
    }
    if (!change.pressed.empty()) {
        return static_cast<std::uint32_t>(change.pressed.front()) << 16;
    }
    return 0;
}

std::uint32_t ButtonUsageTracker::ParseButtonUsages(
    const std::optional<std::vector<std::uint16_t>>& usages, std::size_t max_usages) {
    if (max_usages == 0 || !usages) {
        return 0;
    }
    const std::span<const std::uint16_t> current(usages->data(),
                                                 std::min(usages->size(), max_usages));
    const std::lock_guard lock(mutex_);
    const std::span<const std::uint16_t> previous(previous_.data(),
                                                  std::min(previous_.size(), max_usages));
    const std::uint32_t result = ButtonDataOf(UsageListDifference(previous, current));
    previous_.assign(current.begin(), current.end());
    return result;
}

}  // namespace korv
