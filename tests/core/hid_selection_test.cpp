#include "hid/hid_selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korv {
namespace {

struct CompareCase {
    std::u16string_view a;
    std::u16string_view b;
    bool equal;
};

TEST(HidSelection, IdentifiersCompareAsWholeStringsFoldingOnlyAsciiCase) {
    const CompareCase cases[] = {
        {u"HID\\VID_1234&PID_5678", u"hid\\vid_1234&pid_5678", true},
        {u"hid\\vid_1234&pid_5678", u"HID\\VID_1234&PID_5678", true},
        {u"HID\\VID_1234", u"HID\\VID_1234&PID_5678", false},  // a prefix is not a match
        {u"VID_1234", u"HID\\VID_1234", false},                // nor a part
        {u"HID\\VID_1234 ", u"HID\\VID_1234", false},
        {u"", u"", true},
        {u"@", u"`", false},            // the neighbours of 'A' and 'a' are not letters
        {u"[", u"{", false},            // nor those of 'Z' and 'z'
        {u"\u00C4", u"\u00E4", false},  // only ASCII is folded
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal)
            << std::string(c.a.begin(), c.a.end()) << " / " << std::string(c.b.begin(), c.b.end());
    }
}

const std::vector<std::u16string> kMouseIds{u"HID\\VID_1234&PID_5678&MI_01",
                                            u"HID\\VID_1234&PID_5678"};

TEST(HidSelection, IncludeListRule) {
    EXPECT_TRUE(SelectedByIncludeList({}, kMouseIds));  // empty list: everything
    EXPECT_TRUE(SelectedByIncludeList({}, {}));
    const std::vector<std::u16string> list{u"HID\\VID_AAAA", u"hid\\vid_1234&pid_5678"};
    EXPECT_TRUE(SelectedByIncludeList(list, kMouseIds));  // second entry, second id, other case
    EXPECT_FALSE(SelectedByIncludeList(list, {}));        // a device without ids never qualifies
    const std::vector<std::u16string> prefix_only{u"HID\\VID_1234", u"HID\\VID_1234&PID_567*"};
    EXPECT_FALSE(SelectedByIncludeList(prefix_only, kMouseIds));
}

TEST(HidSelection, IdentifierRuleIgnoresTheIncludeListUnlessTheIdentifierIsEmptyOrStar) {
    const std::vector<std::u16string> excludes_mouse{u"HID\\VID_AAAA"};
    EXPECT_TRUE(SelectedByIdentifier(u"hid\\vid_1234&pid_5678", excludes_mouse, kMouseIds));
    EXPECT_FALSE(SelectedByIdentifier(u"HID\\VID_9999", {}, kMouseIds));
    EXPECT_FALSE(SelectedByIdentifier(u"HID\\VID_1234", {}, kMouseIds));  // prefix
    EXPECT_FALSE(SelectedByIdentifier(u"*", excludes_mouse, kMouseIds));
    EXPECT_FALSE(SelectedByIdentifier(u"", excludes_mouse, kMouseIds));
    EXPECT_TRUE(SelectedByIdentifier(u"*", {}, kMouseIds));
    EXPECT_TRUE(SelectedByIdentifier(u"", {}, {}));
}

}  // namespace
}  // namespace korv
