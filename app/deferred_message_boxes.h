#pragma once
// Message boxes shown from the main loop instead of at once. A box runs its own message loop
// until the user closes it; asked for while the monitor's window is still being built, it would
// hold up the start-up, and the messages that arrive meanwhile would find no monitor to handle
// them. Deferred, the box comes up once the message loop runs, when the window is complete and
// handles every message that arrives while the box is open.
//
// Threads: the main thread.

#include <string>
#include <string_view>

#include "ports/main_loop.h"
#include "ports/message_box.h"

namespace korv {

class DeferredMessageBoxes : public MessageBoxes {
  public:
    // `boxes` shows the boxes; it must outlive every task this posts to `loop`.
    DeferredMessageBoxes(MessageBoxes& boxes, MainLoop& loop) : boxes_(boxes), loop_(loop) {}

    // Returns at once; the box is shown when the main loop runs the task. A loop that takes no
    // more work (it is ending) gets the box at once, so that it is never lost.
    void ShowError(std::u16string_view text, std::u16string_view caption) override {
        MessageBoxes& boxes = boxes_;
        const bool posted =
            loop_.PostTask([&boxes, text = std::u16string(text),
                            caption = std::u16string(caption)] { boxes.ShowError(text, caption); });
        if (!posted)
            boxes_.ShowError(text, caption);
    }

  private:
    MessageBoxes& boxes_;
    MainLoop& loop_;
};

}  // namespace korv
