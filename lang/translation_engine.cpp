#include "lang/translation_engine.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "base/thread_affinity.h"
#include "lang/scene.h"

namespace korv {
namespace {

// The engine's state: one per process, by design.
struct Engine {
    ThreadAffinity owner;  // the thread that first uses the engine
    std::optional<TranslationList> CurrentLangList;
    std::optional<SortedStringList> CollectList;
    bool ReverseTranslating = false;
    std::vector<Scene*> SceneList;
};

Engine& TheEngine() {
    static Engine engine;
    engine.owner.Check();
    return engine;
}

// Lowers the reverse-translation flag and drops the active language when it goes out of scope,
// also when a scene fails while it is being reverted.
class EndReverseTranslation {
  public:
    EndReverseTranslation() { TheEngine().ReverseTranslating = true; }
    ~EndReverseTranslation() {
        TheEngine().ReverseTranslating = false;
        TheEngine().CurrentLangList.reset();
    }
    EndReverseTranslation(const EndReverseTranslation&) = delete;
    EndReverseTranslation& operator=(const EndReverseTranslation&) = delete;
};

}  // namespace

std::u16string TranslateText(std::u16string_view S) {
    if (S.empty())
        return {};
    Engine& engine = TheEngine();
    if (engine.CollectList)
        engine.CollectList->Add(std::u16string(S));
    if (!engine.CurrentLangList)
        return std::u16string(S);
    std::u16string R = engine.ReverseTranslating ? engine.CurrentLangList->SourceOf(S)
                                                 : engine.CurrentLangList->Translate(S);
    return R.empty() ? std::u16string(S) : R;
}

void ActivateLanguageList(const TranslationList* L) {
    if (L == nullptr)
        return;
    // Copied before the scenes run: later changes to L, or its owner going away while the
    // scenes are reverted, do not reach the active language.
    TranslationList copy = *L;
    ResetLanguage();
    TheEngine().CurrentLangList = std::move(copy);
    RetranslateScenes();
}

void ResetLanguage() {
    if (!TheEngine().CurrentLangList)
        return;
    const EndReverseTranslation end;
    RetranslateScenes();
}

void RetranslateScenes() {
    // By index: a scene may register or unregister scenes while it applies its style.
    const std::vector<Scene*>& scenes = TheEngine().SceneList;
    for (std::size_t i = 0; i < scenes.size(); ++i)
        scenes[i]->ApplyStyle();
}

void BeginCollectTexts() {
    ResetLanguage();
    if (!TheEngine().CollectList)
        TheEngine().CollectList.emplace();
}

void EndCollectTexts() {
    TheEngine().CollectList.reset();
}

const SortedStringList* CollectedTexts() {
    const Engine& engine = TheEngine();
    return engine.CollectList ? &*engine.CollectList : nullptr;
}

void RegisterScene(Scene& scene) {
    std::vector<Scene*>& scenes = TheEngine().SceneList;
    if (std::find(scenes.begin(), scenes.end(), &scene) == scenes.end())
        scenes.push_back(&scene);
}

void UnregisterScene(Scene& scene) {
    std::vector<Scene*>& scenes = TheEngine().SceneList;
    scenes.erase(std::remove(scenes.begin(), scenes.end(), &scene), scenes.end());
}

const TranslationList* CurrentLangList() {
    const Engine& engine = TheEngine();
    return engine.CurrentLangList ? &*engine.CurrentLangList : nullptr;
}

}  // namespace korv
