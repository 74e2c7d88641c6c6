#pragma once
// Distances between the millisecond tick counts of input events. The counter is 32 bits wide and
// wraps after about 49.7 days, so a distance is taken modulo 2^32: across the wrap it is still the
// true small distance. A distance of 2^31 or more cannot come from a later event; it means the
// event carries a time earlier than the one it is compared with (input injected with a time of
// its own can do that).

#include <cstdint>
#include <optional>

namespace korv {

// Milliseconds from `earlier` to `now`, or nothing when `now` lies before `earlier`.
constexpr std::optional<std::uint32_t> ElapsedSince(std::uint32_t earlier, std::uint32_t now) {
    const std::uint32_t distance = now - earlier;
    if (distance >= 0x80000000u)
        return std::nullopt;
    return distance;
}

}  // namespace korv
