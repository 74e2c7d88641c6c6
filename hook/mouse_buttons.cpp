#include "hook/mouse_buttons.h"

namespace korv {
namespace {

using S = TMouseButtonStates;

constexpr std::uint16_t HighWord(std::uint32_t value) {
    return static_cast<std::uint16_t>(value >> 16);
}

TMouseButtons XButton(std::uint32_t mouse_data) {
    switch (HighWord(mouse_data)) {
        case 1:
            return TMouseButtons::XCLICK4;
        case 2:
            return TMouseButtons::XCLICK5;
        default:
            return TMouseButtons::BUTTON_NONE;
    }
}

// Left, right and middle button messages; BUTTON_NONE for any other.
TMouseButtons ClassicButton(std::uint32_t message) {
    switch (message) {
        case MouseMessage(S::LBUTTONDOWN):
        case MouseMessage(S::LBUTTONUP):
        case MouseMessage(S::LBUTTONDBLCLK):
            return TMouseButtons::LCLICK;
        case MouseMessage(S::RBUTTONDOWN):
        case MouseMessage(S::RBUTTONUP):
        case MouseMessage(S::RBUTTONDBLCLK):
            return TMouseButtons::RCLICK;
        case MouseMessage(S::MBUTTONDOWN):
        case MouseMessage(S::MBUTTONUP):
        case MouseMessage(S::MBUTTONDBLCLK):
            return TMouseButtons::MCLICK;
        default:
            return TMouseButtons::BUTTON_NONE;
    }
}

bool IsXButtonMessage(std::uint32_t message) {
    return message == MouseMessage(S::XBUTTONDOWN) || message == MouseMessage(S::XBUTTONUP);
}

}  // namespace

std::u16string GetMouseButtonDescription(TMouseButtons button) {
    for (const TMouseButtonString& row : MouseButtonStrings) {
        if (row.MouseButton == button)
            return std::u16string(row.ButtonDescription);
    }
    return {};
}

std::int32_t MouseButtonState(std::uint32_t message) {
    switch (message) {
        case MouseMessage(S::LBUTTONUP):
        case MouseMessage(S::RBUTTONUP):
        case MouseMessage(S::MBUTTONUP):
        case MouseMessage(S::XBUTTONUP):
            return 0;
        default:
            return 1;
    }
}

HookedMouseButton HookModeMouseButton(std::uint32_t message, std::uint32_t mouse_data) {
    if (IsXButtonMessage(message))
        return {XButton(mouse_data), static_cast<std::int16_t>(HighWord(mouse_data))};
    if (message == MouseMessage(S::MOUSEWHEEL)) {
        const auto value = static_cast<std::int8_t>(HighWord(mouse_data) & 0xFF);
        const TMouseButtons button = value > 0   ? TMouseButtons::WHEELUP
                                     : value < 0 ? TMouseButtons::WHEELDOWN
                                                 : TMouseButtons::BUTTON_NONE;
        return {button, value};
    }
    return {ClassicButton(message), 0};
}

TMouseButtons RecordedMouseButton(std::uint32_t message, std::uint32_t mouse_data) {
    if (IsXButtonMessage(message))
        return XButton(mouse_data);
    if (message == MouseMessage(S::MOUSEWHEEL)) {
        const auto delta = static_cast<std::int16_t>(HighWord(mouse_data));
        return delta < 0   ? TMouseButtons::WHEELUP
               : delta > 0 ? TMouseButtons::WHEELDOWN
                           : TMouseButtons::BUTTON_NONE;
    }
    return ClassicButton(message);
}

}  // namespace korv
