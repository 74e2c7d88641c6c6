// The hook mode: which keyboard and mouse events are reported, with what, and which are swallowed.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hook_test_support.h"

namespace korv::hook_test {
namespace {

TKeyBoardHookDetail ByVk(std::int32_t vk, std::int32_t ext = 0, std::int32_t block = 0) {
    return {vk, 0, ext, block};
}

TKeyBoardHookDetail ByScan(std::int32_t scan, std::int32_t ext = 0) {
    return {0, scan, ext, 0};
}

struct KeyboardCase {
    const char* what;
    std::vector<TKeyBoardHookDetail> entries;
    TKBDLLHOOKSTRUCT key;
    bool reported;
    bool swallowed;
};

TEST_F(HookFixture, KeyboardEntriesSelectTheReportedKeys) {
    const TKeyBoardHookDetail end_of_list = ByVk(-1);
    const KeyboardCase cases[] = {
        {"by virtual key", {ByVk('A')}, KeyDown('A', 1, 0, 0x1E), true, false},
        {"key up is reported too", {ByVk('A')}, KeyUp('A', 1, 0, 0x1E), true, false},
        {"extended flag must agree",
         {ByVk(0x0D, 0)},
         KeyDown(0x0D, 1, kKeyFlagExtended),
         false,
         false},
        {"extended entry", {ByVk(0x0D, 1)}, KeyDown(0x0D, 1, kKeyFlagExtended), true, false},
        {"by scan code alone", {ByScan(0x1E)}, KeyDown('A', 1, 0, 0x1E), true, false},
        {"scan code differs", {ByScan(0x30)}, KeyDown('A', 1, 0, 0x1E), false, false},
        {"-1 first ends the search", {end_of_list, ByVk('A')}, KeyDown('A', 1), false, false},
        {"-1 after the match", {ByVk('A'), end_of_list}, KeyDown('A', 1), true, false},
        {"block swallows", {ByVk('A', 0, 1)}, KeyDown('A', 1), true, true},
        {"first match wins", {ByVk('A'), ByVk('A', 0, 1)}, KeyDown('A', 1), true, false},
        {"other key passes", {ByVk('A', 0, 1)}, KeyDown('B', 1), false, false},
        {"injected input is like any other", {ByVk('A')}, KeyDown('A', 1, 0x10), true, false},
    };
    for (const KeyboardCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::int32_t> reported;  // vk, state, ext, scan of each report
        hook->OnHookKeyboardKey = [&](std::int32_t key, std::int32_t state, std::int32_t ext, bool&,
                                      std::uint32_t scan) {
            reported = {key, state, ext, static_cast<std::int32_t>(scan)};
        };
        hook->RemoveAllKeyboardHookObject();
        for (const TKeyBoardHookDetail& entry : c.entries)
            hook->AddKeyboardHookObject(std::make_unique<TKeyBoardHookDetailObject>(entry));
        hook->StartHookKeyboard();
        EXPECT_EQ(library.SendKey(c.key), std::optional<bool>(c.swallowed));
        if (c.reported) {
            const std::int32_t state = (c.key.flags & kKeyFlagUp) != 0 ? 0 : 1;
            const auto ext = static_cast<std::int32_t>(c.key.flags & kKeyFlagExtended);
            EXPECT_EQ(reported,
                      (std::vector<std::int32_t>{static_cast<std::int32_t>(c.key.vkCode), state,
                                                 ext, static_cast<std::int32_t>(c.key.scanCode)}));
        } else {
            EXPECT_TRUE(reported.empty());
        }
    }
}

TEST_F(HookFixture, KeyboardHandlersDecideAboutSwallowing) {
    hook->AddKeyboardHookObject(std::make_unique<TKeyBoardHookDetailObject>(ByVk('A')));
    hook->AddKeyboardHookObject(std::make_unique<TKeyBoardHookDetailObject>(ByVk('B')));
    std::vector<std::int32_t> all_keys;
    hook->OnHookKeyboardAllKey = [&](std::int32_t key, std::int32_t, std::int32_t, bool& blocked,
                                     std::uint32_t) {
        all_keys.push_back(key);
        blocked = key == 'C';
    };
    hook->OnHookKeyboardKey = [&](std::int32_t key, std::int32_t, std::int32_t, bool& blocked,
                                  std::uint32_t) { blocked = key == 'B'; };
    hook->StartHookKeyboard();
    EXPECT_EQ(library.SendKey(KeyDown('A', 1)), false);
    EXPECT_EQ(library.SendKey(KeyDown('B', 2)), true);
    EXPECT_EQ(library.SendKey(KeyDown('C', 3)), true);
    EXPECT_EQ(library.SendKey(KeyDown('D', 4), /*nCode=*/1), false);  // not an action: ignored
    EXPECT_EQ(all_keys, (std::vector<std::int32_t>{'A', 'B', 'C'}));
    EXPECT_EQ(hook->KeyboardHookObjectList().Strings(0), u"65");
}

TMouseHookDetail Entry(TMouseButtons up_to, TMouseButtonStateSet states,
                       TMouseButtons suppressed = TMouseButtons::BUTTON_NONE) {
    return {up_to, states, suppressed, TMouseStatesToHook::HOOK_DOWN};
}

struct MouseCase {
    const char* what;
    std::vector<TMouseHookDetail> entries;
    std::uint32_t message;
    std::uint32_t mouse_data;
    std::uint32_t flags;
    // What OnHookMouseAllButton sees (nothing for injected input) and what OnHookMouseButton
    // reports.
    std::optional<std::vector<int>> all;       // button, state, extra value
    std::optional<std::vector<int>> reported;  // button, state
};

TEST_F(HookFixture, MouseEntriesSelectTheReportedButtons) {
    using B = TMouseButtons;
    using S = TMouseButtonStates;
    const auto L = static_cast<int>(B::LCLICK);
    const TMouseButtonStateSet left_down = StateBit(S::LBUTTONDOWN);
    const MouseCase cases[] = {
        {"button up to the entry's",
         {Entry(B::XCLICK5, left_down)},
         kWmLButtonDown,
         0,
         0,
         std::vector{L, 1, 0},
         std::vector{L, 1}},
        {"button above the entry's",
         {Entry(B::LCLICK, StateBit(S::RBUTTONDOWN))},
         kWmRButtonDown,
         0,
         0,
         std::vector{2, 1, 0},
         std::nullopt},
        {"message not in the set",
         {Entry(B::XCLICK5, left_down)},
         kWmLButtonUp,
         0,
         0,
         std::vector{L, 0, 0},
         std::nullopt},
        {"suppressed button ends the search",
         {Entry(B::XCLICK5, left_down, B::LCLICK), Entry(B::XCLICK5, left_down)},
         kWmLButtonDown,
         0,
         0,
         std::vector{L, 1, 0},
         std::nullopt},
        {"suppression names another button",
         {Entry(B::XCLICK5, left_down, B::RCLICK)},
         kWmLButtonDown,
         0,
         0,
         std::vector{L, 1, 0},
         std::vector{L, 1}},
        {"X button 1",
         {Entry(B::XCLICK5, StateBit(S::XBUTTONDOWN))},
         kWmXButtonDown,
         MouseData(1),
         0,
         std::vector{4, 1, 1},
         std::vector{4, 1}},
        {"X button 2 up",
         {Entry(B::XCLICK5, StateBit(S::XBUTTONUP))},
         kWmXButtonUp,
         MouseData(2),
         0,
         std::vector{5, 0, 2},
         std::vector{5, 0}},
        {"wheel forward",
         {Entry(B::WHEELDOWN, StateBit(S::MOUSEWHEEL))},
         kWmMouseWheel,
         MouseData(120),
         0,
         std::vector{6, 1, 120},
         std::vector{6, 1}},
        {"wheel backward",
         {},
         kWmMouseWheel,
         MouseData(-120),
         0,
         std::vector{7, 1, -120},
         std::nullopt},
        {"middle button",
         {Entry(B::MCLICK, StateBit(S::MBUTTONDOWN))},
         kWmMButtonDown,
         0,
         0,
         std::vector{3, 1, 0},
         std::vector{3, 1}},
        {"injected input is ignored",
         {Entry(B::XCLICK5, left_down)},
         kWmLButtonDown,
         0,
         kMouseFlagInjected,
         std::nullopt,
         std::nullopt},
    };
    for (const MouseCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<std::vector<int>> all, reported;
        hook->OnHookMouseAllButton = [&](B button, std::int32_t state, std::int16_t extra, bool&) {
            all = std::vector{static_cast<int>(button), state, static_cast<int>(extra)};
        };
        hook->OnHookMouseButton = [&](B button, std::int32_t state, bool& blocked) {
            reported = std::vector{static_cast<int>(button), state};
            blocked = true;
        };
        hook->RemoveAllMouseHookObject();
        for (const TMouseHookDetail& entry : c.entries)
            hook->AddMouseHookObject(std::make_unique<TMouseHookDetailObject>(entry));
        hook->StartHookMouse();
        const std::optional<bool> swallowed =
            library.SendMouse(c.message, Mouse(5, 6, 100, c.mouse_data, c.flags));
        EXPECT_EQ(all, c.all);
        EXPECT_EQ(reported, c.reported);
        EXPECT_EQ(swallowed, std::optional<bool>(c.reported.has_value()));
    }
}

TEST_F(HookFixture, PointerMovesAreReportedUnlessInjectedAndNeverSwallowed) {
    std::vector<std::vector<double>> moves;
    int buttons = 0;
    hook->OnHookMouseMove = [&](std::int32_t x, std::int32_t y, double time) {
        moves.push_back({static_cast<double>(x), static_cast<double>(y), time});
    };
    hook->OnHookMouseAllButton = [&](const auto&...) { ++buttons; };
    hook->StartHookMouse();
    EXPECT_EQ(library.SendMouse(kWmMouseMove, Mouse(-20, 30, 4000000000u)), false);
    EXPECT_EQ(library.SendMouse(kWmMouseMove, Mouse(1, 2, 5, 0, kMouseFlagInjected)), false);
    EXPECT_EQ(moves, (std::vector<std::vector<double>>{{-20, 30, 4000000000.0}}));
    EXPECT_EQ(buttons, 0);
}

}  // namespace
}  // namespace korv::hook_test
