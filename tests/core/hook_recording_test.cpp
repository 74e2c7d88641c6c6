// The recording modes: single keys, key combinations, both keyboard macro recorders and the mouse
// macro, over synthetic events delivered through the installed callback.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/decimal_text.h"
#include "hook/mouse_buttons.h"
#include "hook_test_support.h"

namespace korv::hook_test {
namespace {

using Texts = std::vector<std::string>;

std::string KeyText(std::uint32_t vk, std::uint32_t state, std::uint32_t ext) {
    std::string text = "key " + std::string(1, static_cast<char>(vk));
    text += state == 1 ? " down" : " up";
    return ext != 0 ? text + " ext" : text;
}

// "delay 80" or "key A down" for each item.
Texts Items(const TMacroKeyList& list) {
    Texts texts;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.Strings(i), DecimalText(static_cast<std::int64_t>(i)));
        const TMACROKEYHOOK& item = list.Objects(i).FMacroKey;
        texts.push_back(item.nKeyType == kMacroDelayItem
                            ? "delay " + std::to_string(item.nKeyValue)
                            : KeyText(item.nKeyValue, item.nKeyState, item.nKeyValueExtended));
    }
    return texts;
}

// "delay 100 @10,20" or "button 1 down @10,20 t100" for each item.
Texts Items(const TMouseMacroKeyList& list) {
    Texts texts;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TMOUSEMACROKEY& item = list.Objects(i).FMOUSEMacroKey;
        const std::string at = " @" + std::to_string(item.X) + "," + std::to_string(item.Y);
        if (item.nKeyType == kMacroDelayItem) {
            texts.push_back("delay " + std::to_string(item.TimeValue) + at);
        } else {
            texts.push_back("button " + std::to_string(static_cast<int>(item.MouseButton)) +
                            (item.nKeyState == 1 ? " down" : " up") + at + " t" +
                            std::to_string(item.TimeValue));
        }
    }
    return texts;
}

class RecordingTest : public HookFixture {
  protected:
    // Records every keyboard macro event as "type key state ext time text state-text count".
    void LogMacroEvents() {
        hook->OnRecordKeyboardMacroKey = [this](std::int32_t type, std::int32_t key,
                                                std::int32_t state, std::int32_t ext, double time,
                                                const std::u16string& text,
                                                const std::u16string& state_text,
                                                const TMacroKeyList& list) {
            events.push_back(std::to_string(type) + " " + std::to_string(key) + " " +
                             std::to_string(state) + " " + std::to_string(ext) + " " +
                             std::to_string(static_cast<std::int64_t>(time)) + " " + Narrow(text) +
                             " " + Narrow(state_text) + " " + std::to_string(list.Count()));
        };
    }
    Texts events;
};

TEST_F(RecordingTest, SingleKeyReportsEveryEventWithItsName) {
    hook->OnRecordKeyboardSingleKey = [&](std::int32_t key, std::uint32_t scan, std::int32_t state,
                                          std::int32_t ext, const std::u16string& text,
                                          bool& blocked) {
        events.push_back(std::to_string(key) + " " + std::to_string(scan) + " " +
                         std::to_string(state) + " " + std::to_string(ext) + " " + Narrow(text));
        blocked = key == 0x0D;
    };
    hook->RecordKeyboardSingleKey();
    EXPECT_EQ(library.SendKey(KeyDown(0x0D, 1, kKeyFlagExtended, 0x1C)), true);
    EXPECT_EQ(library.SendKey(KeyUp('A', 2, 0, 0x1E)), false);
    EXPECT_EQ(events, (Texts{"13 28 1 1 ENTER", "65 30 0 0 A"}));
}

struct ComboStep {
    TKBDLLHOOKSTRUCT key;
    std::set<std::uint8_t> held;  // modifier keys held down
    bool swallowed;
    const char* event;  // "key1 ext1 key2 ext2 modifier text", or "" for none
};

struct ComboCase {
    const char* what;
    std::vector<ComboStep> steps;
};

TEST_F(RecordingTest, ComboKeyCombinesKeysWithin100MsAndTheHeldModifiers) {
    const std::set<std::uint8_t> ctrl = {0x11};
    const ComboCase cases[] = {
        {"Ctrl then A",
         {{KeyDown(0xA2, 1000), ctrl, false, ""},
          {KeyDown('A', 1200), ctrl, true, "65 0 0 0 2 Ctrl+A"},
          {KeyUp('A', 1250), ctrl, false, ""}}},
        {"every modifier, in a fixed order",
         {{KeyDown('A', 1000),
           {0x10, 0x11, 0x12, 0x5C},
           true,
           "65 0 0 0 15 Ctrl+Alt+Win+Shift+A"}}},
        {"two keys 50 ms apart",
         {{KeyDown('A', 1000), {}, true, "65 0 0 0 0 A"},
          {KeyDown('B', 1050), {}, true, "65 0 66 0 0 A+B"}}},
        {"two keys 150 ms apart",
         {{KeyDown('A', 1000), {}, true, "65 0 0 0 0 A"},
          {KeyDown('B', 1150), {}, true, "66 0 0 0 0 B"}}},
        {"a third key starts again",
         {{KeyDown('A', 1000), {}, true, "65 0 0 0 0 A"},
          {KeyDown('B', 1050), {}, true, "65 0 66 0 0 A+B"},
          {KeyDown('C', 1080), {}, true, "67 0 0 0 0 C"}}},
        {"the same key again",
         {{KeyDown('A', 1000), {}, true, "65 0 0 0 0 A"},
          {KeyDown('A', 1030), {}, true, "65 0 0 0 0 A"}}},
        {"extended key differs from the plain one",
         {{KeyDown(0x0D, 1000), {}, true, "13 0 0 0 0 ENTER"},
          {KeyDown(0x0D, 1030, kKeyFlagExtended), {}, true, "13 0 13 1 0 ENTER+ENTER"}}},
        {"an earlier time starts a new combination",
         {{KeyDown('A', 5000), {}, true, "65 0 0 0 0 A"},
          {KeyDown('B', 4990), {}, true, "66 0 0 0 0 B"}}},
        {"the tick counter wraps between the keys",
         {{KeyDown('A', 0xFFFFFFF0u), {}, true, "65 0 0 0 0 A"},
          {KeyDown('B', 0x20), {}, true, "65 0 66 0 0 A+B"}}},
        {"a key without a name is swallowed but not reported",
         {{KeyDown(0x00, 1000), {}, true, ""}}},
    };
    for (const ComboCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string event;
        hook->OnRecordKeyboardComboKey = [&](std::int32_t k1, std::int32_t e1, std::int32_t k2,
                                             std::int32_t e2, std::int32_t modifier,
                                             const std::u16string& text) {
            event = std::to_string(k1) + " " + std::to_string(e1) + " " + std::to_string(k2) + " " +
                    std::to_string(e2) + " " + std::to_string(modifier) + " " + Narrow(text);
        };
        hook->RecordKeyboardComboKey();
        for (const ComboStep& step : c.steps) {
            event.clear();
            keyboard.held = step.held;
            EXPECT_EQ(library.SendKey(step.key), step.swallowed);
            EXPECT_EQ(event, step.event);
        }
    }
}

TEST_F(RecordingTest, SecondComboVariantKeepsTheScanCodes) {
    std::vector<std::uint32_t> seen;
    hook->OnRecordKeyboardComboKey2 = [&](std::int32_t k1, std::uint32_t s1, std::int32_t,
                                          std::int32_t k2, std::uint32_t s2, std::int32_t,
                                          std::int32_t, const std::u16string&) {
        seen = {static_cast<std::uint32_t>(k1), s1, static_cast<std::uint32_t>(k2), s2};
    };
    hook->RecordKeyboardComboKey();
    library.SendKey(KeyDown('A', 1000, 0, 0x1E));
    library.SendKey(KeyDown('B', 1040, 0, 0x30));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{'A', 0x1E, 'B', 0x30}));
    library.SendKey(KeyDown('C', 1060, 0, 0x2E));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{'C', 0x2E, 0, 0}));
}

TEST_F(RecordingTest, RecordersWithoutHandlerSwallowNothing) {
    for (void (TuiHook::*start)() :
         {&TuiHook::RecordKeyboardComboKey, &TuiHook::RecordKeyboardMacroKey,
          &TuiHook::RecordKeyboardMacroKeyEx, &TuiHook::RecordKeyboardSingleKey}) {
        (hook.get()->*start)();
        EXPECT_EQ(library.SendKey(KeyDown('A', 1000)), false);
        EXPECT_EQ(hook->MacroKeyList().Count(), 0u);
    }
}

struct MacroCase {
    const char* what;
    std::vector<TKBDLLHOOKSTRUCT> keys;
    Texts items;
};

TEST_F(RecordingTest, MacroRecordsKeysWithDelaysBetween10And2000Ms) {
    const MacroCase cases[] = {
        {"down and up 80 ms apart",
         {KeyDown('A', 1000), KeyUp('A', 1080)},
         {"key A down", "delay 80", "key A up"}},
        {"gaps of 5, 10, 11, 1999, 2000 and 2500 ms",
         {KeyDown('A', 1000), KeyUp('A', 1005), KeyDown('B', 1015), KeyUp('B', 1026),
          KeyDown('C', 3025), KeyUp('C', 5025), KeyDown('D', 7525)},
         {"key A down", "key A up", "key B down", "delay 11", "key B up", "delay 1999",
          "key C down", "key C up", "key D down"}},
        // A delay equal to the key's code is an ordinary delay: the key after it is kept.
        {"delay of 65 ms before A",
         {KeyDown('B', 1000), KeyDown('A', 1065)},
         {"key B down", "delay 65", "key A down"}},
        {"extended key", {KeyDown(0x0D, 1000, kKeyFlagExtended)}, {"key \r down ext"}},
        {"the tick counter wraps",
         {KeyDown('A', 0xFFFFFFC0u), KeyUp('A', 0x10)},
         {"key A down", "delay 80", "key A up"}},
        // An earlier time gets no delay; the next delay counts from it.
        {"a time earlier than the previous one",
         {KeyDown('A', 5000), KeyUp('A', 4000), KeyDown('B', 4050)},
         {"key A down", "key A up", "delay 50", "key B down"}},
    };
    LogMacroEvents();
    for (const MacroCase& c : cases) {
        SCOPED_TRACE(c.what);
        hook->RecordKeyboardMacroKey();
        for (const TKBDLLHOOKSTRUCT& key : c.keys)
            EXPECT_EQ(library.SendKey(key), true);
        EXPECT_EQ(Items(hook->MacroKeyList()), c.items);
    }
}

TEST_F(RecordingTest, MacroEventsCarryTheItemTexts) {
    LogMacroEvents();
    hook->RecordKeyboardMacroKey();
    library.SendKey(KeyDown('A', 1000));
    library.SendKey(KeyUp('A', 1080));
    EXPECT_EQ(events,
              (Texts{"1 65 1 0 1000 A Down 1", "0 80 0 0 1080 80 ms 2", "1 65 0 0 1080 A Up 3"}));
}

TEST_F(RecordingTest, NewMacroStartsWithoutADelay) {
    LogMacroEvents();
    hook->RecordKeyboardMacroKey();
    library.SendKey(KeyDown('A', 1000));
    hook->StopRecordKeyboardMacroKey();
    hook->RecordKeyboardMacroKey();
    library.SendKey(KeyDown('B', 1500));
    EXPECT_EQ(Items(hook->MacroKeyList()), Texts{"key B down"});
}

TEST_F(RecordingTest, ExtendedMacroFoldsRepeatsIntoTheDelays) {
    const MacroCase cases[] = {
        {"a held key with auto-repeats",
         {KeyDown('A', 1000), KeyDown('A', 1250), KeyDown('A', 1300), KeyUp('A', 1400)},
         {"key A down", "delay 400", "key A up"}},
        {"overlapping keys",
         {KeyDown('A', 1000), KeyDown('B', 1100), KeyUp('A', 1200), KeyUp('B', 1250)},
         {"key A down", "delay 100", "key B down", "delay 100", "key A up", "delay 50",
          "key B up"}},
        {"a pause longer than 65535 ms",
         {KeyDown('A', 1000), KeyUp('A', 101000)},
         {"key A down", "delay 65535", "key A up"}},
        {"a time earlier than the previous one",
         {KeyDown('A', 5000), KeyUp('A', 4000)},
         {"key A down", "key A up"}},
        {"the tick counter wraps",
         {KeyDown('A', 0xFFFFFFC0u), KeyUp('A', 0x10)},
         {"key A down", "delay 80", "key A up"}},
    };
    std::vector<std::uint32_t> total_times;
    hook->OnRecordKeyboardMacroKeyEx = [&](std::int32_t type, std::int32_t, std::int32_t,
                                           std::int32_t, double, std::uint32_t total,
                                           const std::u16string&, const std::u16string&,
                                           const TMacroKeyList&) {
        EXPECT_EQ(type, kMacroKeyItem);  // delay items raise no event
        total_times.push_back(total);
    };
    for (const MacroCase& c : cases) {
        SCOPED_TRACE(c.what);
        hook->RecordKeyboardMacroKeyEx();
        for (const TKBDLLHOOKSTRUCT& key : c.keys)
            EXPECT_EQ(library.SendKey(key), true);
        EXPECT_EQ(Items(hook->MacroKeyList()), c.items);
    }
    EXPECT_EQ(total_times,
              (std::vector<std::uint32_t>{0, 400, 0, 100, 100, 50, 0, 65535, 0, 0, 0, 80}));
}

TEST_F(RecordingTest, ExtendedMacroStopsSilentlyAfter500Items) {
    int events_seen = 0;
    hook->OnRecordKeyboardMacroKeyEx = [&](const auto&...) { ++events_seen; };
    hook->RecordKeyboardMacroKeyEx();
    std::uint32_t time = 1000;
    for (bool down = true; hook->MacroKeyList().Count() <= 500; down = !down) {
        time += 20;
        ASSERT_EQ(library.SendKey(down ? KeyDown('A', time) : KeyUp('A', time)), true);
    }
    const std::size_t count = hook->MacroKeyList().Count();
    const int events_before = events_seen;
    EXPECT_EQ(library.SendKey(KeyDown('B', time += 20)), false);
    EXPECT_EQ(hook->MacroKeyList().Count(), count);
    EXPECT_EQ(events_seen, events_before);
}

struct MouseStep {
    std::uint32_t message;
    TMSLLHOOKSTRUCT mouse;
};

struct MouseMacroCase {
    const char* what;
    std::vector<MouseStep> steps;
    Texts items;
};

TEST_F(RecordingTest, MouseMacroRecordsButtonsWithTheDelaysAndPositions) {
    const std::uint32_t injected = kMouseFlagInjected;
    const MouseMacroCase cases[] = {
        {"a left click",
         {{kWmLButtonDown, Mouse(10, 20, 1000)}, {kWmLButtonUp, Mouse(10, 20, 1100)}},
         {"button 1 down @10,20 t0", "delay 100 @10,20", "button 1 up @10,20 t100"}},
        {"moves add delays only",
         {{kWmMouseMove, Mouse(1, 2, 1000)},
          {kWmMouseMove, Mouse(3, 4, 1016)},
          {kWmRButtonDown, Mouse(3, 4, 1020)}},
         {"delay 16 @3,4", "delay 4 @3,4", "button 2 down @3,4 t4"}},
        {"wheel and X buttons",
         {{kWmMouseWheel, Mouse(0, 0, 1000, MouseData(-120))},
          {kWmMouseWheel, Mouse(0, 0, 1001, MouseData(120))},
          {kWmXButtonDown, Mouse(0, 0, 1002, MouseData(1))},
          {kWmXButtonUp, Mouse(0, 0, 1003, MouseData(2))}},
         {"button 6 down @0,0 t0", "delay 1 @0,0", "button 7 down @0,0 t1", "delay 1 @0,0",
          "button 4 down @0,0 t1", "delay 1 @0,0", "button 5 up @0,0 t1"}},
        {"negative coordinates keep their low 16 bits",
         {{kWmMButtonDown, Mouse(-5, -1920, 1000)}},
         {"button 3 down @65531,63616 t0"}},
        {"injected input is not recorded",
         {{kWmLButtonDown, Mouse(1, 1, 1000, 0, injected)},
          {kWmLButtonDown, Mouse(1, 1, 1500)},
          {kWmLButtonUp, Mouse(1, 1, 1600, 0, injected)}},
         {"button 1 down @1,1 t0"}},
        {"an earlier event is dropped",
         {{kWmLButtonDown, Mouse(1, 1, 5000)},
          {kWmLButtonUp, Mouse(1, 1, 4000)},
          {kWmLButtonUp, Mouse(1, 1, 4030)}},
         {"button 1 down @1,1 t0", "delay 30 @1,1", "button 1 up @1,1 t30"}},
        {"the tick counter wraps",
         {{kWmLButtonDown, Mouse(1, 1, 0xFFFFFFF0u)}, {kWmLButtonUp, Mouse(1, 1, 0x10)}},
         {"button 1 down @1,1 t0", "delay 32 @1,1", "button 1 up @1,1 t32"}},
        {"a pause longer than 65535 ms",
         {{kWmLButtonDown, Mouse(1, 1, 1000)}, {kWmLButtonUp, Mouse(1, 1, 101000)}},
         {"button 1 down @1,1 t0", "delay 65535 @1,1", "button 1 up @1,1 t65535"}},
    };
    hook->OnRecordMouseMacroKey = [](const auto&...) {};
    for (const MouseMacroCase& c : cases) {
        SCOPED_TRACE(c.what);
        hook->RecordMouseMacro();
        for (const MouseStep& step : c.steps)
            EXPECT_EQ(library.SendMouse(step.message, step.mouse), false);
        EXPECT_EQ(Items(hook->MouseMacroKeyList()), c.items);
    }
}

TEST_F(RecordingTest, MouseMacroEventsCarryTheItemTexts) {
    hook->OnRecordMouseMacroKey = [&](std::int32_t type, TMouseButtons button, std::int32_t state,
                                      std::uint16_t x, std::uint16_t y, double time,
                                      const std::u16string& text, const std::u16string& state_text,
                                      const TMouseMacroKeyList& list) {
        events.push_back(std::to_string(type) + " " + std::to_string(static_cast<int>(button)) +
                         " " + std::to_string(state) + " " + std::to_string(x) + "," +
                         std::to_string(y) + " " + std::to_string(static_cast<int>(time)) + " " +
                         Narrow(text) + "|" + Narrow(state_text) + " " +
                         std::to_string(list.Count()));
    };
    hook->RecordMouseMacro();
    library.SendMouse(kWmLButtonDown, Mouse(7, 8, 1000));
    library.SendMouse(kWmLButtonUp, Mouse(7, 8, 1090));
    library.SendMouse(kWmXButtonDown, Mouse(7, 8, 1100, MouseData(1)));
    EXPECT_EQ(events, (Texts{"1 1 1 7,8 1000 Mouse Click|Down 1", "0 0 0 7,8 1090 90|ms 2",
                             "1 1 0 7,8 1090 Mouse Click|Up 3", "0 0 0 7,8 1100 10|ms 4",
                             "1 4 1 7,8 1100 Backward(Mouse) |Down 5"}));
}

TEST(MouseButtonStrings, DescribeEachButtonOnce) {
    const std::pair<TMouseButtons, std::u16string> cases[] = {
        {TMouseButtons::LCLICK, u"Mouse Click"},
        {TMouseButtons::RCLICK, u"Mouse Right Click"},
        {TMouseButtons::MCLICK, u"Mouse Middle Click"},
        {TMouseButtons::XCLICK4, u"Backward(Mouse) "},
        {TMouseButtons::XCLICK5, u"Forward(Mouse)"},
        {TMouseButtons::WHEELUP, u"Wheel up(Mouse)"},
        {TMouseButtons::WHEELDOWN, u"Wheel Down(Mouse)"},
        {TMouseButtons::BUTTON_NONE, u""},
        {TMouseButtons::BUTTONX1, u""},
    };
    for (const auto& [button, text] : cases)
        EXPECT_EQ(GetMouseButtonDescription(button), text);
}

// Ownership: every recorded item is freed exactly once, whoever ends up with it. AddressSanitizer
// reports a double free or a leak as a failure.
TEST_F(RecordingTest, StopHandsTheKeyboardMacroOverForTaking) {
    TMacroKeyList kept;
    std::size_t seen = 0;
    hook->OnRecordKeyboardMacroKey = [](const auto&...) {};
    hook->OnStopRecordKeyboardMacroKey = [&](TMacroKeyList& list) {
        seen = list.Count();
        kept = list.TakeAll();
    };
    hook->RecordKeyboardMacroKey();
    library.SendKey(KeyDown('A', 1000));
    library.SendKey(KeyUp('A', 1080));
    hook->StopRecordKeyboardMacroKey();
    EXPECT_EQ(seen, 3u);
    EXPECT_EQ(Items(kept), (Texts{"key A down", "delay 80", "key A up"}));
    EXPECT_EQ(hook->MacroKeyList().Count(), 0u);
    // A handler that only looks leaves the items to the component, which frees them.
    hook->OnStopRecordKeyboardMacroKey = [&](TMacroKeyList& list) { seen = list.Count(); };
    hook->RecordKeyboardMacroKey();
    library.SendKey(KeyDown('B', 2000));
    hook->StopRecordKeyboardMacroKey();
    EXPECT_EQ(seen, 1u);
    EXPECT_EQ(hook->MacroKeyList().Count(), 0u);
}

TEST_F(RecordingTest, StopHandsTheMouseMacroOverAndTheListKeepsWhatIsLeft) {
    std::size_t seen = 0;
    hook->OnRecordMouseMacroKey = [](const auto&...) {};
    hook->OnStopRecordMouseMacroKey = [&](TMouseMacroKeyList& list) { seen = list.Count(); };
    hook->RecordMouseMacro();
    library.SendMouse(kWmLButtonDown, Mouse(1, 1, 1000));
    library.SendMouse(kWmLButtonUp, Mouse(1, 1, 1050));
    hook->StopRecordMouseMacro();
    EXPECT_EQ(seen, 3u);
    EXPECT_EQ(hook->MouseMacroKeyList().Count(), 3u);
    TMouseMacroKeyList kept;
    hook->OnStopRecordMouseMacroKey = [&](TMouseMacroKeyList& list) { kept = list.TakeAll(); };
    hook->StopRecordMouseMacro();
    EXPECT_EQ(kept.Count(), 3u);
    EXPECT_EQ(hook->MouseMacroKeyList().Count(), 0u);
    hook->RecordMouseMacro();  // a new recording frees the old items
    library.SendMouse(kWmLButtonDown, Mouse(1, 1, 3000));
    EXPECT_EQ(hook->MouseMacroKeyList().Count(), 1u);
}

TEST_F(RecordingTest, HandlerThatStopsTheRecordingEndsItThere) {
    TMacroKeyList kept;
    hook->OnStopRecordKeyboardMacroKey = [&](TMacroKeyList& list) { kept = list.TakeAll(); };
    hook->OnRecordKeyboardMacroKey = [&](std::int32_t type, const auto&...) {
        if (type == kMacroDelayItem)
            hook->StopRecordKeyboardMacroKey();
    };
    hook->RecordKeyboardMacroKey();
    library.SendKey(KeyDown('A', 1000));
    library.SendKey(KeyUp('A', 1080));
    EXPECT_EQ(Items(kept), (Texts{"key A down", "delay 80"}));
    EXPECT_EQ(hook->MacroKeyList().Count(), 0u);
    EXPECT_FALSE(library.KeyboardHookInstalled());
}

TEST(HookRecordingWithoutLibrary, StartsOnlyResetAndNothingIsRaised) {
    fake::FakeHookLibrary library;
    fake::MemoryFileSystem files(u"D:\\Elsewhere\\");
    fake::FakeLibraryLoader loader(library, kLibraryPath);
    fake::RecordingMessageBoxes message_boxes;
    fake::FakeKeyboardState keyboard;
    fake::RecordingDebugOutput debug;
    TuiHook hook({files, &loader, message_boxes, keyboard, debug});
    int stops = 0;
    hook.OnStopRecordKeyboardMacroKey = [&](auto&) { ++stops; };
    hook.OnStopRecordMouseMacroKey = [&](auto&) { ++stops; };
    hook.RecordKeyboardMacroKey();
    hook.StopRecordKeyboardMacroKey();
    hook.RecordMouseMacro();
    hook.StopRecordMouseMacro();
    EXPECT_EQ(stops, 0);
    EXPECT_FALSE(library.KeyboardHookInstalled());
}

}  // namespace
}  // namespace korv::hook_test
