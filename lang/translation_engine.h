#pragma once
// The process-wide translation engine. Every text the program shows passes through
// TranslateText, which returns its translation in the active language. The engine holds a copy
// of the active language's lines (none while the source texts are shown), an optional
// collection of every text asked for, and the scenes whose texts it re-translates when the
// language changes.
//
// Used from one thread only, the user-interface thread that first uses it; nothing is locked.
// Debug builds stop at a call from another thread.

#include <string>
#include <string_view>

#include "lang/translation_table.h"

namespace korv {

class Scene;

// The translation of `S` in the active language, or `S` itself when there is none (or its
// translation is empty). Exact and case-sensitive. While ResetLanguage reverts the scenes, a
// translated text is mapped back to its source instead.
std::u16string TranslateText(std::u16string_view S);

// Makes a copy of `L` the active language and re-translates the scenes. Null changes nothing.
// The scenes first go back to their source texts, so every activation translates sources.
void ActivateLanguageList(const TranslationList* L);

// Returns to the source texts: the scenes map their texts back to the sources, then no
// language is active.
void ResetLanguage();

// Makes every registered scene apply its style again, which re-translates its texts.
void RetranslateScenes();

// While collecting, every text passed to TranslateText is kept (sorted, without duplicates).
// Beginning a collection returns to the source texts first.
void BeginCollectTexts();
void EndCollectTexts();
// The collection, or null when none is running.
const SortedStringList* CollectedTexts();

// Called by the scenes themselves (see lang/scene.h). A scene is registered once.
void RegisterScene(Scene& scene);
void UnregisterScene(Scene& scene);

// The active language's lines, or null while the source texts are shown.
const TranslationList* CurrentLangList();

}  // namespace korv
