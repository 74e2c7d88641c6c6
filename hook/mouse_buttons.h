#pragma once
// Mouse buttons: their texts, and how a low-level mouse event names its button.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "hook/hook_records.h"

namespace korv {

struct TMouseButtonString {
    TMouseButtons MouseButton;
    std::u16string_view ButtonDescription;
};

inline constexpr std::array<TMouseButtonString, 7> MouseButtonStrings = {{
    {TMouseButtons::LCLICK, u"Mouse Click"},
    {TMouseButtons::RCLICK, u"Mouse Right Click"},
    {TMouseButtons::MCLICK, u"Mouse Middle Click"},
    {TMouseButtons::XCLICK4, u"Backward(Mouse) "},
    {TMouseButtons::XCLICK5, u"Forward(Mouse)"},
    {TMouseButtons::WHEELUP, u"Wheel up(Mouse)"},
    {TMouseButtons::WHEELDOWN, u"Wheel Down(Mouse)"},
}};

// The text of the button, or an empty string for a button without one.
std::u16string GetMouseButtonDescription(TMouseButtons button);

// 0 for a button-up message, 1 for any other.
std::int32_t MouseButtonState(std::uint32_t message);

struct HookedMouseButton {
    TMouseButtons button = TMouseButtons::BUTTON_NONE;
    std::int16_t extra_value = 0;  // X button number or wheel value
};

// The button of an event as the hook mode reports it. The wheel value is the low byte of the
// delta taken as a signed 8-bit number, and a positive value is WHEELUP.
HookedMouseButton HookModeMouseButton(std::uint32_t message, std::uint32_t mouse_data);

// The button of an event as the mouse macro records it: the full 16-bit wheel delta, where a
// negative delta is WHEELUP (the reverse of the hook mode).
TMouseButtons RecordedMouseButton(std::uint32_t message, std::uint32_t mouse_data);

}  // namespace korv
