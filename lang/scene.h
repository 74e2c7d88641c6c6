#pragma once
// What the translation engine asks of a scene of the vector user interface: it registers with
// the engine for its whole life, and applying its style again passes the texts of its
// auto-translated text controls through TranslateText. A scene keeps only the texts it shows,
// so switching languages first maps them back to their sources (ResetLanguage), then
// translates the sources afresh.
//
// Threads: the thread of the translation engine only (the main thread); a scene registers and
// unregisters there.

#include <string>

#include "lang/translation_engine.h"

namespace korv {

class Scene {
  public:
    Scene() { RegisterScene(*this); }
    virtual ~Scene() { UnregisterScene(*this); }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // Applies the scene's style again; the engine calls it to re-translate the scene's texts.
    virtual void ApplyStyle() = 0;
};

// A text control of a scene: the text and hint it shows.
struct SceneTextControl {
    std::u16string Text;
    std::u16string Hint;
    bool AutoTranslate = true;

    // The part of applying a style that concerns the texts.
    void ApplyStyle() {
        if (!AutoTranslate)
            return;
        Text = TranslateText(Text);
        Hint = TranslateText(Hint);
    }
};

}  // namespace korv
