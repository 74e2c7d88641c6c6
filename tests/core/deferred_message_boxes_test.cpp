// Boxes asked for during start-up come up from the main loop, in the order asked, and never get
// lost when the loop takes no more work.

#include <gtest/gtest.h>

#include <string>

#include "app/deferred_message_boxes.h"
#include "platform/fake/fake_hook_services.h"
#include "platform/fake/fake_main_loop.h"

namespace korv {
namespace {

TEST(DeferredMessageBoxes, BoxesComeUpWhenTheMainLoopRuns) {
    fake::RecordingMessageBoxes shown;
    fake::FakeMainLoop loop;
    DeferredMessageBoxes boxes(shown, loop);
    {
        std::u16string text = u"first";  // the caller's text may be gone when the box comes up
        boxes.ShowError(text, u"Error");
    }
    boxes.ShowError(u"second", u"Other");
    EXPECT_TRUE(shown.shown.empty());
    EXPECT_EQ(loop.RunPending(), 2u);
    ASSERT_EQ(shown.shown.size(), 2u);
    EXPECT_EQ(shown.shown[0].text, u"first");
    EXPECT_EQ(shown.shown[0].caption, u"Error");
    EXPECT_EQ(shown.shown[1].text, u"second");
    EXPECT_EQ(shown.shown[1].caption, u"Other");
}

TEST(DeferredMessageBoxes, ALoopThatTakesNoMoreWorkGetsTheBoxAtOnce) {
    fake::RecordingMessageBoxes shown;
    fake::FakeMainLoop loop;
    loop.RefuseTasks(true);
    DeferredMessageBoxes boxes(shown, loop);
    boxes.ShowError(u"text", u"Error");
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0].text, u"text");
}

}  // namespace
}  // namespace korv
