#pragma once
// The window system on Windows: top-level windows found by class, messages posted and sent.

#include "ports/window_system.h"

namespace korv::win32 {

class Win32WindowSystem : public WindowSystem {
  public:
    WindowRef FindWindowByClass(std::u16string_view class_name) const override;
    [[nodiscard]] bool Post(WindowRef window, std::uint32_t message, std::uintptr_t wparam,
                            std::intptr_t lparam) const override;
    [[nodiscard]] std::optional<std::intptr_t> Send(WindowRef window, std::uint32_t message,
                                                    std::uintptr_t wparam,
                                                    std::intptr_t lparam) const override;
    void ShowAndBringForward(WindowRef window) const override;
};

}  // namespace korv::win32
