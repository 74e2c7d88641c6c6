#include "hook/ui_hook.h"

#include <optional>
#include <string>

#include "base/decimal_text.h"
#include "hook/hook_callback.h"
#include "hook/hook_library.h"
#include "hook/mouse_buttons.h"

namespace korv {
namespace {

// The first entry that reports the key; an entry with KeyboardVKKey -1 ends the search.
std::optional<TKeyBoardHookDetail> FindKeyboardEntry(const TKeyboardHookObjectList& list,
                                                     std::int32_t vk, std::int32_t scan,
                                                     std::int32_t ext) {
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TKeyBoardHookDetail& entry = list.Objects(i).FKeyBoardHookDetail;
        if (entry.KeyboardVKKey == -1)
            return std::nullopt;
        if (entry.KeyExtended != ext)
            continue;
        if ((entry.KeyboardVKKey != 0 && entry.KeyboardVKKey == vk) ||
            (entry.KeyboardSCANKey != 0 && entry.KeyboardSCANKey == scan)) {
            return entry;
        }
    }
    return std::nullopt;
}

// The first entry that applies to the message and to every button up to its MouseButton.
std::optional<TMouseHookDetail> FindMouseEntry(const TMouseHookObjectList& list,
                                               std::uint32_t message, TMouseButtons button) {
    if (message < kFirstMouseMessage || message > kFirstMouseMessage + 0x0F)
        return std::nullopt;
    const auto bit = static_cast<TMouseButtonStateSet>(1u << (message - kFirstMouseMessage));
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const TMouseHookDetail& entry = list.Objects(i).FMouseHookDetail;
        if ((entry.MouseStateSet & bit) != 0 && entry.MouseButton >= button)
            return entry;
    }
    return std::nullopt;
}

}  // namespace

TuiHook::TuiHook(const HookServices& services) : services_(services) {
    if (services.libraries == nullptr) {
        services.debug.Trace(kNoHookLibraryTrace);
        return;
    }
    FDLLLoaded = LoadHookLibrary(services.files, *services.libraries, services.message_boxes,
                                 services.debug);
}

TuiHook::~TuiHook() {
    UnloadHookLibrary();
}

// Replaces the library's callback of one kind; null only removes it. Every change starts a new
// session of that kind, so that a recording in progress sees that it was stopped.
void TuiHook::SetLibraryCallback(HookKind kind, THookCallback callback) {
    const bool keyboard = kind == HookKind::Keyboard;
    ++(keyboard ? keyboard_session_ : mouse_session_);
    const std::optional<THookLibraryEntries> entries = HookLibraryEntries();
    if (!FDLLLoaded || !entries)
        return;
    (keyboard ? entries->DisableKeyboardHook : entries->DisableMouseHook)();
    if (callback != nullptr)
        (keyboard ? entries->EnableKeyboardHook : entries->EnableMouseHook)(callback, this, 0);
}

void TuiHook::StartHookKeyboard() {
    InstallKeyboardCallback(&KeyboardHookProc);
}

void TuiHook::StopHookKeyboard() {
    RemoveKeyboardCallback();
}

void TuiHook::StartHookMouse() {
    InstallMouseCallback(&MouseHookProc);
}

void TuiHook::StopHookMouse() {
    RemoveMouseCallback();
}

void TuiHook::AddKeyboardHookObject(std::unique_ptr<TKeyBoardHookDetailObject> AObject) {
    if (!AObject)
        return;
    std::u16string key = DecimalText(AObject->FKeyBoardHookDetail.KeyboardVKKey);
    FKeyboardHookObjectList.Add(std::move(key), std::move(AObject));
}

void TuiHook::RemoveAllKeyboardHookObject() {
    FKeyboardHookObjectList.Clear();
}

void TuiHook::AddMouseHookObject(std::unique_ptr<TMouseHookDetailObject> AObject) {
    if (!AObject)
        return;
    std::u16string key = DecimalText(static_cast<int>(AObject->FMouseHookDetail.MouseButton));
    FMouseHookObjectList.Add(std::move(key), std::move(AObject));
}

void TuiHook::RemoveAllMouseHookObject() {
    FMouseHookObjectList.Clear();
}

void TuiHook::KeyboardHookProc(void* Context, std::int32_t nCode, std::uintptr_t,
                               std::intptr_t lParam, std::int32_t* ABlocked) noexcept {
    DispatchHookCallback<TKBDLLHOOKSTRUCT>(Context, lParam, ABlocked,
                                           [&](TuiHook& hook, const auto& key, bool& blocked) {
                                               hook.OnKeyboardHook(nCode, key, blocked);
                                           });
}

void TuiHook::MouseHookProc(void* Context, std::int32_t, std::uintptr_t wParam,
                            std::intptr_t lParam, std::int32_t* ABlocked) noexcept {
    DispatchHookCallback<TMSLLHOOKSTRUCT>(
        Context, lParam, ABlocked, [&](TuiHook& hook, const auto& mouse, bool& blocked) {
            hook.OnMouseHook(static_cast<std::uint32_t>(wParam), mouse, blocked);
        });
}

void TuiHook::OnKeyboardHook(std::int32_t nCode, const TKBDLLHOOKSTRUCT& key, bool& blocked) {
    if (nCode != 0)
        return;
    const std::int32_t state = (key.flags & kKeyFlagUp) != 0 ? 0 : 1;
    const auto ext = static_cast<std::int32_t>(key.flags & kKeyFlagExtended);
    const auto vk = static_cast<std::int32_t>(key.vkCode);
    if (OnHookKeyboardAllKey)
        OnHookKeyboardAllKey(vk, state, ext, blocked, key.scanCode);
    if (!OnHookKeyboardKey)
        return;
    const std::optional<TKeyBoardHookDetail> entry = FindKeyboardEntry(
        FKeyboardHookObjectList, vk, static_cast<std::int32_t>(key.scanCode), ext);
    if (!entry)
        return;
    if (entry->block == 1)
        blocked = true;
    OnHookKeyboardKey(vk, state, ext, blocked, key.scanCode);
}

void TuiHook::OnMouseHook(std::uint32_t message, const TMSLLHOOKSTRUCT& mouse, bool& blocked) {
    const bool injected = (mouse.flags & kMouseFlagInjected) != 0;
    if (message == MouseMessage(TMouseButtonStates::MOUSEMOVE)) {
        if (OnHookMouseMove && !injected) {
            OnHookMouseMove(mouse.x, mouse.y, static_cast<double>(mouse.time));
            blocked = false;  // the pointer always moves
        }
        return;
    }
    if (injected)
        return;
    const std::int32_t state = MouseButtonState(message);
    const HookedMouseButton hooked = HookModeMouseButton(message, mouse.mouseData);
    if (OnHookMouseAllButton)
        OnHookMouseAllButton(hooked.button, state, hooked.extra_value, blocked);
    if (!OnHookMouseButton)
        return;
    const std::optional<TMouseHookDetail> entry =
        FindMouseEntry(FMouseHookObjectList, message, hooked.button);
    if (!entry || entry->ModifiedFunction == hooked.button)
        return;
    OnHookMouseButton(hooked.button, state, blocked);
}

}  // namespace korv
