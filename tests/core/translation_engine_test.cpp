// The process-wide translation engine: TranslateText, activation and reset, text collection,
// and scenes that are re-translated through the sources when the language changes.

#include "lang/translation_engine.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "lang/scene.h"
#include "tests/core/test_support.h"

namespace korv {
namespace {

using test::ListOf;
using test::Texts;

// A scene with a few text controls; counts how often its style is applied.
class TestScene : public Scene {
  public:
    void ApplyStyle() override {
        ++applied;
        if (fail_while_reverting && CurrentLangList() != nullptr &&
            TranslateText(u"打开配置") == u"Config") {
            throw std::runtime_error("style failed");
        }
        for (SceneTextControl& control : controls)
            control.ApplyStyle();
    }

    std::vector<SceneTextControl> controls;
    int applied = 0;
    bool fail_while_reverting = false;
};

// The engine is process-wide: every case leaves it showing the source texts, not collecting.
class TranslationEngineTest : public ::testing::Test {
  protected:
    void SetUp() override { TearDown(); }  // whatever other tests left
    void TearDown() override {
        ResetLanguage();
        EndCollectTexts();
    }

    const TranslationList chinese_ =
        ListOf({u"Config=打开配置", u"Exit=退出软件", u"About=关于软件", u"Empty="});
    const TranslationList english_ = ListOf({u"Config=Settings", u"Exit=Quit"});
};

struct TranslateCase {
    const char* what;
    std::u16string_view text;
    std::u16string_view expected;
};

const TranslateCase kChineseCases[] = {
    {"empty text", u"", u""},
    {"source with a line", u"Config", u"打开配置"},
    {"other case", u"config", u"config"},
    {"trailing blank", u"Config ", u"Config "},
    {"no line", u"Not in the table", u"Not in the table"},
    {"empty translation", u"Empty", u"Empty"},
    {"already translated", u"打开配置", u"打开配置"},
};

TEST_F(TranslationEngineTest, TranslatesExactlyOrReturnsTheText) {
    EXPECT_EQ(TranslateText(u"Config"), u"Config");  // no language yet: the sources
    ActivateLanguageList(&chinese_);
    for (const TranslateCase& c : kChineseCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TranslateText(c.text), c.expected);
    }
}

TEST_F(TranslationEngineTest, ActivationCopiesTheListAndNullChangesNothing) {
    TranslationList list = chinese_;
    ActivateLanguageList(&list);
    EXPECT_TRUE(list.SetTranslation(u"Config", u"changed later"));
    EXPECT_EQ(TranslateText(u"Config"), u"打开配置");
    ActivateLanguageList(nullptr);
    EXPECT_EQ(TranslateText(u"Config"), u"打开配置");
    ResetLanguage();
    EXPECT_EQ(TranslateText(u"Config"), u"Config");
    EXPECT_EQ(CurrentLangList(), nullptr);
}

TEST_F(TranslationEngineTest, CollectsEveryTextAskedForWhileCollecting) {
    ActivateLanguageList(&chinese_);
    EXPECT_EQ(CollectedTexts(), nullptr);
    TranslateText(u"before");
    BeginCollectTexts();  // back to the sources
    EXPECT_EQ(TranslateText(u"Config"), u"Config");
    ActivateLanguageList(&chinese_);  // collecting goes on in any language
    for (const char16_t* text : {u"Exit", u"", u"Config", u"About"})
        TranslateText(text);
    ASSERT_NE(CollectedTexts(), nullptr);
    EXPECT_EQ(CollectedTexts()->Lines(), (Texts{u"About", u"Config", u"Exit"}));
    BeginCollectTexts();  // a second begin keeps the collection
    EXPECT_EQ(CollectedTexts()->Count(), 3u);
    EndCollectTexts();
    EXPECT_EQ(CollectedTexts(), nullptr);
}

TEST_F(TranslationEngineTest, ScenesGoBackToTheirSourcesBeforeEachLanguage) {
    TestScene scene;
    scene.controls = {{u"Config", u"About", true}, {u"Exit", u"", true}, {u"Exit", u"", false}};
    ActivateLanguageList(&chinese_);
    EXPECT_EQ(scene.controls[0].Text, u"打开配置");
    EXPECT_EQ(scene.controls[0].Hint, u"关于软件");
    EXPECT_EQ(scene.controls[1].Text, u"退出软件");
    EXPECT_EQ(scene.controls[2].Text, u"Exit");  // automatic translation off

    // The scene only holds "打开配置": switching maps it back to "Config" first.
    ActivateLanguageList(&english_);
    EXPECT_EQ(scene.controls[0].Text, u"Settings");
    EXPECT_EQ(scene.controls[0].Hint, u"About");  // no English line: the source
    EXPECT_EQ(scene.controls[1].Text, u"Quit");

    ResetLanguage();
    EXPECT_EQ(scene.controls[0].Text, u"Config");
    EXPECT_EQ(scene.controls[1].Text, u"Exit");
}

TEST_F(TranslationEngineTest, ScenesRegisterOnceAndLeaveWithTheirLife) {
    TestScene kept;
    {
        TestScene gone;
        RegisterScene(gone);  // already registered by its construction
        RetranslateScenes();
        EXPECT_EQ(gone.applied, 1);
    }
    RetranslateScenes();  // must not reach the destroyed scene
    EXPECT_EQ(kept.applied, 2);
    ResetLanguage();  // no language: nothing to revert
    EXPECT_EQ(kept.applied, 2);
}

TEST_F(TranslationEngineTest, AFailingSceneStillEndsTheLanguage) {
    TestScene scene;
    scene.controls = {{u"Config", u"", true}};
    ActivateLanguageList(&chinese_);
    scene.fail_while_reverting = true;
    EXPECT_THROW(ResetLanguage(), std::runtime_error);
    EXPECT_EQ(CurrentLangList(), nullptr);
    // Reverse translation is over: a source text comes back as it is.
    EXPECT_EQ(TranslateText(u"Config"), u"Config");
}

}  // namespace
}  // namespace korv
