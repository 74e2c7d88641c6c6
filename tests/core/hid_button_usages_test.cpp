#include "hid/button_usages.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace korv {
namespace {

using Usages = std::vector<std::uint16_t>;

TEST(HidUsageListDifference, ReleasedAndPressedSkippingEmptySlots) {
    const UsageListChange change = UsageListDifference(Usages{2, 0, 7, 9}, Usages{9, 5, 0, 0, 6});
    EXPECT_EQ(change.released, (Usages{2, 7}));
    EXPECT_EQ(change.pressed, (Usages{5, 6}));
    const UsageListChange same = UsageListDifference(Usages{4, 1}, Usages{1, 4, 0});
    EXPECT_TRUE(same.released.empty());
    EXPECT_TRUE(same.pressed.empty());
}

TEST(HidButtonUsages, SuccessiveReportsGivePressesAndReleases) {
    struct Step {
        Usages down;
        std::uint32_t button_data;
    };
    const Step steps[] = {
        {{3}, 3u << 16},  // press 3: usage in the high half
        {{}, 3},          // release 3: usage in the low half
        {{2}, 2u << 16},
        {{5}, 2},  // release 2 and press 5: only the release counts
        {{5}, 0},  // nothing changed
        {{5, 8, 9}, 8u << 16},
    };
    ButtonUsageTracker tracker;
    for (const Step& step : steps) {
        EXPECT_EQ(tracker.ParseButtonUsages(step.down, 16), step.button_data);
    }
}

TEST(HidButtonUsages, NoMaximumOrUnparsableReportGivesZeroAndKeepsThePreviousList) {
    ButtonUsageTracker tracker;
    EXPECT_EQ(tracker.ParseButtonUsages(Usages{3}, 4), 3u << 16);
    EXPECT_EQ(tracker.ParseButtonUsages(Usages{}, 0), 0u);
    EXPECT_EQ(tracker.ParseButtonUsages(std::nullopt, 4), 0u);
    EXPECT_EQ(tracker.ParseButtonUsages(Usages{}, 4), 3u);  // 3 was still remembered
}

TEST(HidButtonUsages, ListsLongerThanAHundredAreComparedWhole) {
    Usages many(150);
    std::iota(many.begin(), many.end(), std::uint16_t{1});
    ButtonUsageTracker tracker;
    EXPECT_EQ(tracker.ParseButtonUsages(many, 150), 1u << 16);
    Usages last_released = many;
    last_released.back() = 0;
    EXPECT_EQ(tracker.ParseButtonUsages(last_released, 150), 150u);
    EXPECT_EQ(tracker.ParseButtonUsages(many, 150), 150u << 16);
}

TEST(HidButtonUsages, OnlyTheInterfacesMaximumOfUsagesCounts) {
    ButtonUsageTracker tracker;
    // More usages than the interface can list: the extra ones are not read.
    EXPECT_EQ(tracker.ParseButtonUsages(Usages{0, 0, 7}, 2), 0u);
    EXPECT_EQ(tracker.ParseButtonUsages(Usages{4, 0, 7}, 2), 4u << 16);
}

}  // namespace
}  // namespace korv
