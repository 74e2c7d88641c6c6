#pragma once
// Turns the button usages of successive input reports into one press or release.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace korv {

// The change between two usage lists; a zero entry is an empty slot and never a usage.
struct UsageListChange {
    std::vector<std::uint16_t> released;  // in `previous`, not in `current` ("break" list)
    std::vector<std::uint16_t> pressed;   // in `current`, not in `previous` ("make" list)
};
[[nodiscard]] UsageListChange UsageListDifference(std::span<const std::uint16_t> previous,
                                                  std::span<const std::uint16_t> current);

// ButtonData of one change: the first released usage in the low 16 bits; when none was released,
// the first pressed usage in the high 16 bits; 0 when nothing changed.
[[nodiscard]] std::uint32_t ButtonDataOf(const UsageListChange& change);

// Keeps the usages of the previous report and answers what changed with the next one. One list
// per component, shared by all of its interfaces, so reports of different interfaces are
// compared with each other. The lists are as long as the interface's usage list: there is no
// fixed limit, so no length overruns anything. Thread-safe, because readers that deliver on their
// own threads parse at the same time.
class ButtonUsageTracker {
  public:
    // `usages`: the usages of the buttons down in the new report (nothing when the report could
    // not be parsed); `max_usages`: the most the interface can list. Only the first `max_usages`
    // entries count. The result is 0, and the previous list unchanged, when `max_usages` is 0 or
    // the report could not be parsed.
    [[nodiscard]] std::uint32_t ParseButtonUsages(
        const std::optional<std::vector<std::uint16_t>>& usages, std::size_t max_usages);

  private:
    std::mutex mutex_;
    std::vector<std::uint16_t> previous_;
};

}  // namespace korv
