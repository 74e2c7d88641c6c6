// The recording modes of TuiHook: single keys, key combinations, keyboard macros (two variants)
// and mouse macros.

#include <algorithm>
#include <optional>
#include <string>

#include "base/decimal_text.h"
#include "hook/event_time.h"
#include "hook/hook_callback.h"
#include "hook/mouse_buttons.h"
#include "hook/ui_hook.h"
#include "keys/key_code.h"

namespace korv {
namespace {

constexpr std::uint32_t kComboKeyInterval = 100;  // ms: keys closer than this form one combination
constexpr std::uint32_t kMinMacroDelay = 10;      // ms: shorter gaps are not worth a delay item
constexpr std::uint32_t kMaxMacroDelay = 2000;    // ms: longer gaps are pauses, not delays
constexpr std::uint32_t kLongestDelayItem = 65535;
constexpr std::size_t kMaxMacroExItems = 500;

constexpr std::uint8_t kVkShift = 0x10;
constexpr std::uint8_t kVkControl = 0x11;
constexpr std::uint8_t kVkMenu = 0x12;
constexpr std::uint8_t kVkLeftWin = 0x5B;
constexpr std::uint8_t kVkRightWin = 0x5C;

bool IsModifierKey(std::uint32_t vk) {
    switch (vk) {
        case 0xA0:  // left and right Shift
        case 0xA1:
        case 0xA2:  // left and right Ctrl
        case 0xA3:
        case 0xA4:  // left and right Alt
        case 0xA5:
        case kVkLeftWin:
        case kVkRightWin:
            return true;
        default:
            return false;
    }
}

std::int32_t KeyState(const TKBDLLHOOKSTRUCT& key) {
    return (key.flags & kKeyFlagUp) != 0 ? 0 : 1;
}

std::int32_t KeyExtended(const TKBDLLHOOKSTRUCT& key) {
    return static_cast<std::int32_t>(key.flags & kKeyFlagExtended);
}

std::u16string KeyDescription(std::uint32_t vk, std::int32_t ext) {
    return GetKeyDescriptionByVKCode(static_cast<std::int32_t>(vk), ext);
}

std::u16string StateText(std::int32_t state) {
    return state == 1 ? u"Down" : u"Up";
}

template <typename Item>
void Append(TStringObjectList<Item>& list, std::unique_ptr<Item> item) {
    list.Add(DecimalText(static_cast<std::int64_t>(list.Count())), std::move(item));
}

}  // namespace

// Starting and stopping.

void TuiHook::RecordKeyboardSingleKey() {
    InstallKeyboardCallback(&RecordSingleKeyProc);
}

void TuiHook::StopRecordKeyboardSingleKey() {
    RemoveKeyboardCallback();
}

void TuiHook::RecordKeyboardComboKey() {
    FLastTimeKeyboardCombo = 0;
    InstallKeyboardCallback(&RecordComboKeyProc);
}

void TuiHook::StopRecordKeyboardComboKey() {
    RemoveKeyboardCallback();
    FLastTimeKeyboardCombo = 0;
}

void TuiHook::RecordKeyboardMacroKey() {
    FMacroKeyList.Clear();
    // A new macro starts without a delay: the time of the last key of an earlier recording says
    // nothing about this one.
    FLastTimeKeyboardMacro = 0;
    InstallKeyboardCallback(&RecordMacroKeyProc);
}

void TuiHook::RecordKeyboardMacroKeyEx() {
    FLastMacroKey = {};
    FTotalMacroTime = 0;
    FAllKeyState.fill(0);
    FMacroKeyList.Clear();
    InstallKeyboardCallback(&RecordMacroKeyExProc);
}

void TuiHook::StopRecordKeyboardMacroKey() {
    RemoveKeyboardCallback();
    if (FDLLLoaded && OnStopRecordKeyboardMacroKey)
        OnStopRecordKeyboardMacroKey(FMacroKeyList);
    FMacroKeyList.Clear();  // frees whatever the handler did not take
}

void TuiHook::RecordMouseMacro() {
    FMouseMacroKeyList.Clear();
    FLastTimeMouseMacro = 0;
    InstallMouseCallback(&RecordMouseMacroProc);
}

void TuiHook::StopRecordMouseMacro() {
    RemoveMouseCallback();
    if (FDLLLoaded && OnStopRecordMouseMacroKey)
        OnStopRecordMouseMacroKey(FMouseMacroKeyList);
}

// Callbacks.

void TuiHook::RecordSingleKeyProc(void* Context, std::int32_t, std::uintptr_t, std::intptr_t lParam,
                                  std::int32_t* ABlocked) noexcept {
    DispatchHookCallback<TKBDLLHOOKSTRUCT>(Context, lParam, ABlocked,
                                           [](TuiHook& hook, const auto& key, bool& blocked) {
                                               hook.OnRecordSingleKey(key, blocked);
                                           });
}

void TuiHook::RecordComboKeyProc(void* Context, std::int32_t, std::uintptr_t, std::intptr_t lParam,
                                 std::int32_t* ABlocked) noexcept {
    DispatchHookCallback<TKBDLLHOOKSTRUCT>(
        Context, lParam, ABlocked,
        [](TuiHook& hook, const auto& key, bool& blocked) { hook.OnRecordComboKey(key, blocked); });
}

void TuiHook::RecordMacroKeyProc(void* Context, std::int32_t, std::uintptr_t, std::intptr_t lParam,
                                 std::int32_t* ABlocked) noexcept {
    DispatchHookCallback<TKBDLLHOOKSTRUCT>(
        Context, lParam, ABlocked,
        [](TuiHook& hook, const auto& key, bool& blocked) { hook.OnRecordMacroKey(key, blocked); });
}

void TuiHook::RecordMacroKeyExProc(void* Context, std::int32_t, std::uintptr_t,
                                   std::intptr_t lParam, std::int32_t* ABlocked) noexcept {
    DispatchHookCallback<TKBDLLHOOKSTRUCT>(Context, lParam, ABlocked,
                                           [](TuiHook& hook, const auto& key, bool& blocked) {
                                               hook.OnRecordMacroKeyEx(key, blocked);
                                           });
}

void TuiHook::RecordMouseMacroProc(void* Context, std::int32_t, std::uintptr_t wParam,
                                   std::intptr_t lParam, std::int32_t* ABlocked) noexcept {
    DispatchHookCallback<TMSLLHOOKSTRUCT>(
        Context, lParam, ABlocked, [wParam](TuiHook& hook, const auto& mouse, bool&) {
            hook.OnRecordMouseMacro(static_cast<std::uint32_t>(wParam), mouse);
        });
}

// Single key: every event, down and up; the handler decides about swallowing.
void TuiHook::OnRecordSingleKey(const TKBDLLHOOKSTRUCT& key, bool& blocked) {
    if (!OnRecordKeyboardSingleKey)
        return;
    const std::int32_t ext = KeyExtended(key);
    OnRecordKeyboardSingleKey(static_cast<std::int32_t>(key.vkCode), key.scanCode, KeyState(key),
                              ext, KeyDescription(key.vkCode, ext), blocked);
}

// Combination: up to two keys pressed within 100 ms of each other, with the modifiers held.
void TuiHook::OnRecordComboKey(const TKBDLLHOOKSTRUCT& key, bool& blocked) {
    const bool first_variant = static_cast<bool>(OnRecordKeyboardComboKey);
    if (!first_variant && !OnRecordKeyboardComboKey2)
        return;
    if (KeyState(key) == 0 || IsModifierKey(key.vkCode))
        return;  // releases and the modifiers themselves pass on
    FComboKeyString.clear();
    if (FComboKeyInfo.nKeyValue1 != 0 && FComboKeyInfo.nKeyValue2 != 0)
        FComboKeyInfo = {};
    FComboKeyInfo.nModifier = static_cast<std::uint16_t>(ReadModifiers());
    UpdateComboKeys(key);
    FLastTimeKeyboardCombo = key.time;

    const TCOMBOKEY& combo = FComboKeyInfo;
    std::u16string key_text = KeyDescription(combo.nKeyValue1, combo.nKeyValue1Extended);
    if (combo.nKeyValue2 != 0) {
        key_text += u'+';
        key_text += KeyDescription(combo.nKeyValue2, combo.nKeyValue2Extended);
    }
    blocked = true;
    if (key_text.empty())
        return;
    FComboKeyString += key_text;
    if (first_variant) {
        OnRecordKeyboardComboKey(combo.nKeyValue1, combo.nKeyValue1Extended, combo.nKeyValue2,
                                 combo.nKeyValue2Extended, combo.nModifier, FComboKeyString);
    } else {
        OnRecordKeyboardComboKey2(combo.nKeyValue1, combo.nScanKey1, combo.nKeyValue1Extended,
                                  combo.nKeyValue2, combo.nScanKey2, combo.nKeyValue2Extended,
                                  combo.nModifier, FComboKeyString);
    }
}

// Modifier bits of the keys held, left or right alike; their texts go to FComboKeyString.
std::int32_t TuiHook::ReadModifiers() {
    const KeyboardState& keyboard = services_.keyboard;
    std::int32_t modifier = 0;
    const auto add = [&](bool down, std::int32_t bit, std::u16string_view text) {
        if (!down)
            return;
        modifier += bit;
        FComboKeyString += text;
    };
    add(keyboard.IsKeyDown(kVkControl), 2, u"Ctrl+");
    add(keyboard.IsKeyDown(kVkMenu), 1, u"Alt+");
    add(keyboard.IsKeyDown(kVkLeftWin) || keyboard.IsKeyDown(kVkRightWin), 8, u"Win+");
    add(keyboard.IsKeyDown(kVkShift), 4, u"Shift+");
    return modifier;
}

// A key more than 100 ms after the previous one (or with an earlier time) starts a new
// combination; within 100 ms a different key completes it, the same key starts it again.
void TuiHook::UpdateComboKeys(const TKBDLLHOOKSTRUCT& key) {
    TCOMBOKEY& combo = FComboKeyInfo;
    const auto vk = static_cast<std::uint16_t>(key.vkCode);
    const auto ext = static_cast<std::uint16_t>(KeyExtended(key));
    const std::optional<std::uint32_t> elapsed = ElapsedSince(FLastTimeKeyboardCombo, key.time);
    const bool starts_new = !elapsed || *elapsed > kComboKeyInterval || combo.nKeyValue1 == 0 ||
                            (vk == combo.nKeyValue1 && ext == combo.nKeyValue1Extended);
    if (starts_new) {
        combo.nKeyValue1 = vk;
        combo.nKeyValue1Extended = ext;
        combo.nScanKey1 = key.scanCode;
        combo.nKeyValue2 = 0;
        combo.nKeyValue2Extended = 0;
        combo.nScanKey2 = 0;
    } else {
        combo.nKeyValue2 = vk;
        combo.nKeyValue2Extended = ext;
        combo.nScanKey2 = key.scanCode;
    }
}

void TuiHook::AddMacroDelay(std::uint32_t delay) {
    auto item = std::make_unique<TMacroKeyObject>();
    item->FMacroKey.nKeyType = kMacroDelayItem;
    item->FMacroKey.nKeyValue = static_cast<std::uint16_t>(std::min(delay, kLongestDelayItem));
    Append(FMacroKeyList, std::move(item));
}

void TuiHook::AddMacroKey(const TKBDLLHOOKSTRUCT& key) {
    auto item = std::make_unique<TMacroKeyObject>();
    item->FMacroKey.nKeyType = kMacroKeyItem;
    item->FMacroKey.nKeyState = static_cast<std::uint16_t>(KeyState(key));
    item->FMacroKey.nKeyValue = static_cast<std::uint16_t>(key.vkCode);
    item->FMacroKey.nKeyValueExtended = static_cast<std::uint16_t>(KeyExtended(key));
    Append(FMacroKeyList, std::move(item));
}

// Keyboard macro: every key event, with a delay item before it when the gap since the previous
// event is between 10 and 2000 ms. Every key event is swallowed while recording.
void TuiHook::OnRecordMacroKey(const TKBDLLHOOKSTRUCT& key, bool& blocked) {
    if (!OnRecordKeyboardMacroKey)
        return;
    blocked = true;
    const std::uint32_t session = keyboard_session_;
    const double time = key.time;
    if (FLastTimeKeyboardMacro == 0) {
        FLastTimeKeyboardMacro = key.time;
    } else {
        const std::optional<std::uint32_t> elapsed = ElapsedSince(FLastTimeKeyboardMacro, key.time);
        FLastTimeKeyboardMacro = key.time;
        if (elapsed && *elapsed > kMinMacroDelay && *elapsed < kMaxMacroDelay) {
            AddMacroDelay(*elapsed);
            OnRecordKeyboardMacroKey(kMacroDelayItem, static_cast<std::int32_t>(*elapsed), 0, 0,
                                     time, DecimalText(*elapsed), u"ms", FMacroKeyList);
            if (session != keyboard_session_)
                return;  // the handler ended the recording
        }
    }
    AddMacroKey(key);
    const std::int32_t ext = KeyExtended(key);
    OnRecordKeyboardMacroKey(kMacroKeyItem, static_cast<std::int32_t>(key.vkCode), KeyState(key),
                             ext, time, KeyDescription(key.vkCode, ext), StateText(KeyState(key)),
                             FMacroKeyList);
}

// Extended keyboard macro: auto-repeats of a held key are folded into the delay before the next
// event, delay items raise no event, and recording stops silently after 500 items.
void TuiHook::OnRecordMacroKeyEx(const TKBDLLHOOKSTRUCT& key, bool& blocked) {
    if (!OnRecordKeyboardMacroKeyEx || FMacroKeyList.Count() > kMaxMacroExItems ||
        key.vkCode >= FAllKeyState.size()) {
        return;
    }
    blocked = true;
    const bool down = KeyState(key) == 1;
    bool delay_due = false;
    if (FLastMacroKey.vkCode == 0) {
        FLastMacroKey = key;
        FTotalMacroTime = 0;
    } else {
        // An event earlier than the previous one gets no delay.
        FTotalMacroTime = ElapsedSince(FLastMacroKey.time, key.time).value_or(0);
        const std::uint32_t flag_bits = kKeyFlagExtended | kKeyFlagUp;
        const bool repeat = down && key.vkCode == FLastMacroKey.vkCode &&
                            (key.flags & flag_bits) == (FLastMacroKey.flags & flag_bits);
        if (!repeat) {
            FLastMacroKey = key;
            delay_due = true;
            if (!down)
                FAllKeyState[key.vkCode] = 0;
        }
    }
    if (delay_due && FTotalMacroTime > 0) {
        FTotalMacroTime = std::min(FTotalMacroTime, kLongestDelayItem);
        AddMacroDelay(FTotalMacroTime);
    }
    if (FAllKeyState[key.vkCode] != 0)
        return;  // already held: an auto-repeat
    if (down)
        FAllKeyState[key.vkCode] = 1;
    AddMacroKey(key);
    const std::int32_t ext = KeyExtended(key);
    OnRecordKeyboardMacroKeyEx(kMacroKeyItem, static_cast<std::int32_t>(key.vkCode), KeyState(key),
                               ext, key.time, FTotalMacroTime, KeyDescription(key.vkCode, ext),
                               StateText(KeyState(key)), FMacroKeyList);
}

// Mouse macro: every event after the first adds a delay item with the pointer position, and a
// button event adds its button item after it. Injected input is not recorded; nothing is
// swallowed.
void TuiHook::OnRecordMouseMacro(std::uint32_t message, const TMSLLHOOKSTRUCT& mouse) {
    if (!OnRecordMouseMacroKey || (mouse.flags & kMouseFlagInjected) != 0)
        return;
    const std::uint32_t session = mouse_session_;
    const double time = mouse.time;
    TMOUSEMACROKEY record;
    record.X = static_cast<std::uint16_t>(mouse.x);
    record.Y = static_cast<std::uint16_t>(mouse.y);
    if (FLastTimeMouseMacro == 0) {
        FLastTimeMouseMacro = mouse.time;
    } else {
        const std::optional<std::uint32_t> elapsed = ElapsedSince(FLastTimeMouseMacro, mouse.time);
        FLastTimeMouseMacro = mouse.time;
        if (!elapsed)
            return;  // earlier than the previous event: dropped
        record.TimeValue = static_cast<std::uint16_t>(std::min(*elapsed, kLongestDelayItem));
        Append(FMouseMacroKeyList, std::make_unique<TMOUSEMacroKeyObject>(record));
        OnRecordMouseMacroKey(kMacroDelayItem, TMouseButtons::BUTTON_NONE, 0, record.X, record.Y,
                              time, DecimalText(record.TimeValue), u"ms", FMouseMacroKeyList);
        if (session != mouse_session_)
            return;  // the handler ended the recording
    }
    const TMouseButtons button = RecordedMouseButton(message, mouse.mouseData);
    if (button == TMouseButtons::BUTTON_NONE)
        return;
    record.nKeyType = kMacroKeyItem;
    record.nKeyState = static_cast<std::uint16_t>(MouseButtonState(message));
    record.MouseButton = button;
    Append(FMouseMacroKeyList, std::make_unique<TMOUSEMacroKeyObject>(record));
    OnRecordMouseMacroKey(kMacroKeyItem, button, record.nKeyState, record.X, record.Y, time,
                          GetMouseButtonDescription(button), StateText(record.nKeyState),
                          FMouseMacroKeyList);
}

}  // namespace korv
