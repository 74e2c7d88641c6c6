#pragma once
// TuiHook: watches the system-wide keyboard and mouse input through the hook library and, for each
// kind of input, works in one mode at a time: the hook mode reports chosen keys and buttons to the
// owner, the recording modes turn input into single keys, key combinations and macros.
//
// Every operation and every event runs on the thread that created the component, which must own a
// message queue: the hook library calls back on that thread, synchronously, while the input event
// waits, so handlers must be short. A handler decides whether the event is swallowed through
// ABlocked.
//
// Recorded items are owned by the list that holds them. The events of a recording pass the
// component's own list for reading. The stop events pass it for taking: a handler keeps items by
// moving them out (TakeAll); whatever stays in the list is freed when the list is emptied or
// recorded again, or with the component.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "hook/hook_library_abi.h"
#include "hook/hook_records.h"
#include "ports/debug_output.h"
#include "ports/dynamic_library.h"
#include "ports/file_system.h"
#include "ports/keyboard_state.h"
#include "ports/message_box.h"

namespace korv {

// The platform services the component uses; they must outlive it.
struct HookServices {
    const FileSystem& files;  // the executable's folder, where the hook library lives
    // Null on a platform without a hook library: the component then says so in a trace line and
    // stays inert, without a message box.
    DynamicLibraryLoader* libraries;
    MessageBoxes& message_boxes;
    const KeyboardState& keyboard;  // modifier keys of key combinations
    const DebugOutput& debug;       // why the hook library could not be used
};

// Hook mode.
using TOnHookKeyboardKey =
    std::function<void(std::int32_t Key, std::int32_t AState, std::int32_t AKeyExtended,
                       bool& ABlocked, std::uint32_t AScanKey)>;
using TOnHookMouseButton =
    std::function<void(TMouseButtons AuiButton, std::int32_t AState, bool& ABlocked)>;
using TOnHookAllMouseButton = std::function<void(TMouseButtons AuiButton, std::int32_t AState,
                                                 std::int16_t AExValue, bool& ABlocked)>;
using TOnHookMouseMove = std::function<void(std::int32_t X, std::int32_t Y, double Time)>;

// Recording modes. Time is the event's millisecond tick count.
using TOnRecordKeyboardSingleKey = std::function<void(
    std::int32_t Key, std::uint32_t ScanKey, std::int32_t AState, std::int32_t AKeyExtended,
    const std::u16string& SingleKeyString, bool& ABlocked)>;
using TOnRecordKeyboardComboKey = std::function<void(
    std::int32_t Key1, std::int32_t Key1Extended, std::int32_t Key2, std::int32_t Key2Extended,
    std::int32_t Modifier, const std::u16string& ComboKeyString)>;
using TOnRecordKeyboardComboKey2 =
    std::function<void(std::int32_t Key1, std::uint32_t ScanKey1, std::int32_t Key1Extended,
                       std::int32_t Key2, std::uint32_t ScanKey2, std::int32_t Key2Extended,
                       std::int32_t Modifier, const std::u16string& ComboKeyString)>;
using TOnRecordKeyboardMacroKey =
    std::function<void(std::int32_t MacroType, std::int32_t Key1, std::int32_t AState,
                       std::int32_t Extended, double Time, const std::u16string& MacroKeyString,
                       const std::u16string& MacroKeyStateString, const TMacroKeyList& KeyList)>;
using TOnRecordKeyboardMacroKeyEx = std::function<void(
    std::int32_t MacroType, std::int32_t Key1, std::int32_t AState, std::int32_t Extended,
    double Time, std::uint32_t TotalTime, const std::u16string& MacroKeyString,
    const std::u16string& MacroKeyStateString, const TMacroKeyList& KeyList)>;
using TOnRecordMouseMacroKey = std::function<void(
    std::int32_t MacroType, TMouseButtons AButton, std::int32_t AState, std::uint16_t X,
    std::uint16_t Y, double Time, const std::u16string& MacroKeyString,
    const std::u16string& MacroKeyStateString, const TMouseMacroKeyList& MouseRecordList)>;
using TOnStopRecordKeyboardMacroKey = std::function<void(TMacroKeyList& KeyboardRecordList)>;
using TOnStopRecordMouseMacroKey = std::function<void(TMouseMacroKeyList& MouseRecordList)>;

class TuiHook {
  public:
    // Loads the hook library (once per process); a missing library is reported with a message box
    // and leaves the component usable, with every operation that needs the library doing nothing.
    // A platform without one is not an error: a trace line says so, and no box comes up.
    explicit TuiHook(const HookServices& services);
    // Disables both hooks and unloads the library, for every component of the process.
    ~TuiHook();
    TuiHook(const TuiHook&) = delete;
    TuiHook& operator=(const TuiHook&) = delete;

    bool DLLLoaded() const { return FDLLLoaded; }

    // Hook mode.
    void StartHookKeyboard();
    void StopHookKeyboard();
    void StartHookMouse();
    void StopHookMouse();
    void AddKeyboardHookObject(std::unique_ptr<TKeyBoardHookDetailObject> AObject);
    void RemoveAllKeyboardHookObject();
    void AddMouseHookObject(std::unique_ptr<TMouseHookDetailObject> AObject);
    void RemoveAllMouseHookObject();
    const TKeyboardHookObjectList& KeyboardHookObjectList() const {
        return FKeyboardHookObjectList;
    }
    const TMouseHookObjectList& MouseHookObjectList() const { return FMouseHookObjectList; }

    // Recording modes. Starting any keyboard mode ends the keyboard mode before it, and likewise
    // for the mouse, without a stop event.
    void RecordKeyboardSingleKey();
    void StopRecordKeyboardSingleKey();
    void RecordKeyboardComboKey();
    void StopRecordKeyboardComboKey();
    void RecordKeyboardMacroKey();
    void RecordKeyboardMacroKeyEx();
    // Raises OnStopRecordKeyboardMacroKey with the recorded list, then empties it.
    void StopRecordKeyboardMacroKey();
    void StopRecordKeyboardMacroKeyEx() { StopRecordKeyboardMacroKey(); }
    void RecordMouseMacro();
    // Raises OnStopRecordMouseMacroKey with the recorded list, which keeps what the handler leaves.
    void StopRecordMouseMacro();
    const TMacroKeyList& MacroKeyList() const { return FMacroKeyList; }
    const TMouseMacroKeyList& MouseMacroKeyList() const { return FMouseMacroKeyList; }

    TOnHookKeyboardKey OnHookKeyboardKey;
    TOnHookKeyboardKey OnHookKeyboardAllKey;
    TOnHookMouseButton OnHookMouseButton;
    TOnHookAllMouseButton OnHookMouseAllButton;
    TOnHookMouseMove OnHookMouseMove;
    TOnRecordKeyboardSingleKey OnRecordKeyboardSingleKey;
    TOnRecordKeyboardComboKey OnRecordKeyboardComboKey;
    TOnRecordKeyboardComboKey2 OnRecordKeyboardComboKey2;
    TOnRecordKeyboardMacroKey OnRecordKeyboardMacroKey;
    TOnRecordKeyboardMacroKeyEx OnRecordKeyboardMacroKeyEx;
    TOnRecordMouseMacroKey OnRecordMouseMacroKey;
    TOnStopRecordKeyboardMacroKey OnStopRecordKeyboardMacroKey;
    TOnStopRecordMouseMacroKey OnStopRecordMouseMacroKey;

  private:
    // Callbacks handed to the library; Context is the component.
    static void KORV_HOOK_CALL KeyboardHookProc(void* Context, std::int32_t nCode,
                                                std::uintptr_t wParam, std::intptr_t lParam,
                                                std::int32_t* ABlocked) noexcept;
    static void KORV_HOOK_CALL MouseHookProc(void* Context, std::int32_t nCode,
                                             std::uintptr_t wParam, std::intptr_t lParam,
                                             std::int32_t* ABlocked) noexcept;
    static void KORV_HOOK_CALL RecordSingleKeyProc(void* Context, std::int32_t nCode,
                                                   std::uintptr_t wParam, std::intptr_t lParam,
                                                   std::int32_t* ABlocked) noexcept;
    static void KORV_HOOK_CALL RecordComboKeyProc(void* Context, std::int32_t nCode,
                                                  std::uintptr_t wParam, std::intptr_t lParam,
                                                  std::int32_t* ABlocked) noexcept;
    static void KORV_HOOK_CALL RecordMacroKeyProc(void* Context, std::int32_t nCode,
                                                  std::uintptr_t wParam, std::intptr_t lParam,
                                                  std::int32_t* ABlocked) noexcept;
    static void KORV_HOOK_CALL RecordMacroKeyExProc(void* Context, std::int32_t nCode,
                                                    std::uintptr_t wParam, std::intptr_t lParam,
                                                    std::int32_t* ABlocked) noexcept;
    static void KORV_HOOK_CALL RecordMouseMacroProc(void* Context, std::int32_t nCode,
                                                    std::uintptr_t wParam, std::intptr_t lParam,
                                                    std::int32_t* ABlocked) noexcept;

    void OnKeyboardHook(std::int32_t nCode, const TKBDLLHOOKSTRUCT& key, bool& blocked);
    void OnMouseHook(std::uint32_t message, const TMSLLHOOKSTRUCT& mouse, bool& blocked);
    void OnRecordSingleKey(const TKBDLLHOOKSTRUCT& key, bool& blocked);
    void OnRecordComboKey(const TKBDLLHOOKSTRUCT& key, bool& blocked);
    void OnRecordMacroKey(const TKBDLLHOOKSTRUCT& key, bool& blocked);
    void OnRecordMacroKeyEx(const TKBDLLHOOKSTRUCT& key, bool& blocked);
    void OnRecordMouseMacro(std::uint32_t message, const TMSLLHOOKSTRUCT& mouse);

    void UpdateComboKeys(const TKBDLLHOOKSTRUCT& key);
    std::int32_t ReadModifiers();
    void AddMacroDelay(std::uint32_t delay);
    void AddMacroKey(const TKBDLLHOOKSTRUCT& key);

    // Replace the library's callback of one kind; nothing happens without the library.
    enum class HookKind { Keyboard, Mouse };
    void SetLibraryCallback(HookKind kind, THookCallback callback);
    void InstallKeyboardCallback(THookCallback callback) {
        SetLibraryCallback(HookKind::Keyboard, callback);
    }
    void InstallMouseCallback(THookCallback callback) {
        SetLibraryCallback(HookKind::Mouse, callback);
    }
    void RemoveKeyboardCallback() { SetLibraryCallback(HookKind::Keyboard, nullptr); }
    void RemoveMouseCallback() { SetLibraryCallback(HookKind::Mouse, nullptr); }

    const HookServices services_;
    bool FDLLLoaded = false;

    TKeyboardHookObjectList FKeyboardHookObjectList;
    TMouseHookObjectList FMouseHookObjectList;

    TCOMBOKEY FComboKeyInfo;
    std::u16string FComboKeyString;
    TMacroKeyList FMacroKeyList;
    TMouseMacroKeyList FMouseMacroKeyList;
    std::uint32_t FLastTimeKeyboardMacro = 0;  // 0: no event yet
    std::uint32_t FLastTimeKeyboardCombo = 0;
    std::uint32_t FLastTimeMouseMacro = 0;
    std::uint32_t FTotalMacroTime = 0;
    TKBDLLHOOKSTRUCT FLastMacroKey{};
    std::array<std::uint8_t, 256> FAllKeyState{};  // 1 while the key is held

    // Counts the changes of each kind's callback, so that a recorder notices when a handler it
    // called has stopped or restarted the recording.
    std::uint32_t keyboard_session_ = 0;
    std::uint32_t mouse_session_ = 0;
};

}  // namespace korv
