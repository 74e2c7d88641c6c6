// The language component: the order of its languages with and without "ui.local", selecting
// languages, the operating system's language, the locale names, and the translation of the
// captions and hints of the windows that own a language component.

#include "lang/ui_language.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/decimal_text.h"
#include "lang/builtin_table.h"
#include "lang/scene.h"
#include "lang/translation_engine.h"
#include "platform/fake/fake_locale.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/memory_file_system.h"

namespace korv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::u16string>;

constexpr std::u16string_view kFormClass = u"TKORVANTH417MONMAIN";

Bytes TableFile(const std::vector<std::pair<std::u16string, Texts>>& languages) {
    TranslationTable table;
    for (const auto& [code, lines] : languages) {
        table.Resources.push_back({code, {}});
        for (const std::u16string& line : lines)
            table.Resources.back().lines.Add(line);
        table.Original.Add(u"source of " + code);
    }
    return *WriteTable(table);
}

// A label whose texts cannot be written.
class ReadOnlyLabel : public Control {
  public:
    using Control::Control;
    bool SetTextProperty(std::u16string_view, std::u16string_view) override { return false; }
};

// A control whose Caption cannot be read; its Hint can.
class BrokenCaption : public Control {
  public:
    using Control::Control;
    std::optional<std::u16string> GetTextProperty(std::u16string_view property) const override {
        if (property == kCaptionProperty)
            return std::nullopt;
        return Control::GetTextProperty(property);
    }
};

class TextScene : public Scene {
  public:
    void ApplyStyle() override { text.ApplyStyle(); }
    SceneTextControl text{u"Config", u"", true};
};

// A monitor window with the platform fakes. The engine is process-wide: every case leaves it
// showing the source texts.
class UiLanguageTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ResetLanguage();
        EndCollectTexts();
    }

    std::u16string LocalFilePath() const {
        return files_.ExecutableFolder() + std::u16string(kLanguageFileName);
    }

    TuiLanguage& MakeComponent(Component& owner) { return CreateLanguageComponent(owner, ports_); }

    fake::FakeLocale locale_;
    fake::MemoryFileSystem files_;
    LanguagePorts ports_{locale_, files_};
    Window window_{nullptr, u"MonitorForm", std::u16string(kFormClass)};
};

// --- Languages and their order ----------------------------------------------------------------

TEST_F(UiLanguageTest, WithoutLocalFileTheLanguagesAreTheBuiltInOnes) {
    const TuiLanguage& language = MakeComponent(window_);
    EXPECT_EQ(language.LocalFileStatus(), LanguageFileStatus::kMissing);
    EXPECT_EQ(language.GetLanguageShortIDByIndex(0), u"CH");
    EXPECT_EQ(language.GetLanguageShortIDByIndex(1), u"US");
    EXPECT_EQ(language.GetLanguageShortIDByIndex(2), u"");
    EXPECT_EQ(language.GetLanguageShortIDByIndex(-1), u"");
    EXPECT_EQ(language.GetLanguageIndexByShortID(u"us"), 1);
    EXPECT_EQ(language.GetLanguageIndexByShortID(u"DE"), -1);
}

TEST_F(UiLanguageTest, LanguagesOfTheLocalFileComeFirstAndWin) {
    files_.Put(LocalFilePath(), TableFile({{u"EN", {u"Config=Settings"}},
                                           {u"CH", {u"Config=设置"}},
                                           {u"TW", {u"Config=設定"}}}));
    TuiLanguage& language = MakeComponent(window_);
    EXPECT_EQ(language.LocalFileStatus(), LanguageFileStatus::kLoaded);
    const Texts expected{u"EN", u"CH", u"TW", u"CH", u"US"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(language.GetLanguageShortIDByIndex(i), expected[i]) << i;
    EXPECT_EQ(language.GetLanguageIndexByShortID(u"ch"), 1);
    language.SetLang(u"CH");
    EXPECT_EQ(TranslateText(u"Config"), u"设置");
    // The built-in table was read last: its source texts are the table's.
    EXPECT_FALSE(language.Table().Original.Contains(u"source of EN"));
    EXPECT_TRUE(language.Table().Original.Contains(u"Config"));
}

// Where data lives apart from the programs, "ui.local" is the data folder's; one beside the
// executable is not read.
TEST_F(UiLanguageTest, TheLocalFileIsTheDataFolders) {
    files_.SetDataFolder(u"C:\\Data\\");
    files_.Put(LocalFilePath(), TableFile({{u"EN", {u"Config=Beside the program"}}}));
    files_.Put(u"C:\\Data\\ui.local", TableFile({{u"EN", {u"Config=Installed"}}}));
    TuiLanguage& language = MakeComponent(window_);
    ASSERT_EQ(language.LocalFileStatus(), LanguageFileStatus::kLoaded);
    language.SetLang(u"EN");
    EXPECT_EQ(TranslateText(u"Config"), u"Installed");
}

// A "ui.local" that is there but not used leaves the built-in table and says why in one trace
// line; an oversized one is not even read.
TEST_F(UiLanguageTest, DamagedLocalFileLeavesTheBuiltInTable) {
    Bytes good = TableFile({{u"EN", {u"Config=Settings"}}});
    Bytes truncated(good.begin(), good.end() - 3);
    Bytes negative = good;
    negative[0] = negative[1] = negative[2] = negative[3] = 0xFF;
    // A well-formed table, but larger than any language file.
    const Bytes oversized =
        TableFile({{u"EN", {u"Config=" + std::u16string(kMaxLanguageFileSize / 2, u'x')}}});
    const std::u16string file = u"Language file " + LocalFilePath();
    const std::u16string not_used = u"; its languages are not used";
    auto malformed = [&](TableReadStatus why) {
        return file + u" is malformed (" + std::u16string(Describe(why)) + u")" + not_used;
    };
    const struct {
        const char* what;
        std::optional<Bytes> bytes;  // nothing: the file exists but cannot be read
        LanguageFileStatus status;
        std::u16string line;
    } cases[] = {
        {"truncated", truncated, LanguageFileStatus::kMalformed,
         malformed(TableReadStatus::kBadCount)},
        {"negative count", negative, LanguageFileStatus::kMalformed,
         malformed(TableReadStatus::kBadCount)},
        {"empty", Bytes{}, LanguageFileStatus::kMalformed, malformed(TableReadStatus::kTruncated)},
        {"larger than any language file", oversized, LanguageFileStatus::kTooLarge,
         file + u" is " + DecimalText(static_cast<std::int64_t>(oversized.size())) +
             u" bytes, above the limit of 4194304" + not_used},
        {"unreadable", std::nullopt, LanguageFileStatus::kUnreadable,
         file + u" cannot be read" + not_used},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::MemoryFileSystem files;
        if (c.bytes)
            files.Put(LocalFilePath(), *c.bytes);
        else
            files.PutUnreadable(LocalFilePath());
        fake::RecordingDebugOutput debug;
        Window window(nullptr, u"Form", std::u16string(kFormClass));
        TuiLanguage& language = CreateLanguageComponent(window, {locale_, files, &debug});
        EXPECT_EQ(language.LocalFileStatus(), c.status);
        EXPECT_EQ(debug.lines, std::vector<std::u16string>{c.line});
        if (c.status == LanguageFileStatus::kTooLarge) {
            EXPECT_EQ(files.BytesRead(), 0u);
        }
        EXPECT_EQ(language.GetLanguageShortIDByIndex(0), u"CH");
        EXPECT_EQ(language.GetLanguageShortIDByIndex(2), u"");
        language.SetLang(u"CH");
        EXPECT_EQ(TranslateText(u"Config"), u"打开配置");
        ResetLanguage();
    }
}

TEST_F(UiLanguageTest, LocalFileWithoutLanguagesAddsNone) {
    files_.Put(LocalFilePath(), TableFile({}));
    const TuiLanguage& language = MakeComponent(window_);
    EXPECT_EQ(language.LocalFileStatus(), LanguageFileStatus::kLoaded);
    EXPECT_EQ(language.GetLanguageShortIDByIndex(0), u"CH");
    EXPECT_EQ(language.GetLanguageShortIDByIndex(2), u"");
}

// --- Selecting a language ---------------------------------------------------------------------

TEST_F(UiLanguageTest, SetLangSelectsByCodeAndEnShowsTheSources) {
    TuiLanguage& language = MakeComponent(window_);
    std::vector<std::pair<std::u16string, std::u16string>> changes;
    language.OnLanguageChanged = [&](Component& sender, std::u16string_view code,
                                     std::u16string_view name) {
        EXPECT_EQ(&sender, &language);
        changes.emplace_back(code, name);
    };

    language.SetLang(u"ch");
    EXPECT_EQ(TranslateText(u"Config"), u"打开配置");
    language.SetLang(u"EN");  // not the source code: no such language, nothing changes
    EXPECT_EQ(TranslateText(u"Config"), u"打开配置");
    EXPECT_EQ(language.Lang(), u"EN");
    language.SetLang(u"en");
    EXPECT_EQ(TranslateText(u"Config"), u"Config");
    language.SetLang(u"0804");  // a language identifier: named, but no language
    EXPECT_EQ(TranslateText(u"Config"), u"Config");

    const std::vector<std::pair<std::u16string, std::u16string>> expected{
        {u"ch", u""}, {u"EN", u""}, {u"en", u""}, {u"0804", u"Chinese (Simplified, PRC)"}};
    EXPECT_EQ(changes, expected);
}

TEST_F(UiLanguageTest, BeforeLoadedSetLangOnlyKeepsTheCode) {
    TuiLanguage& language = window_.Create<TuiLanguage>(ports_);
    ASSERT_EQ(language.ReadResourcesBin(BuiltinTranslationTable()), TableReadStatus::kOk);
    language.SetLang(u"CH");
    EXPECT_EQ(language.LangCode(), u"CH");
    EXPECT_EQ(CurrentLangList(), nullptr);
    EXPECT_TRUE(language.IsLoading());
}

// The operating system's language as the user's locale and the system's default give it.
struct OsLanguageCase {
    const char* what;
    std::optional<std::u16string> abbreviation;
    std::uint16_t system_language;
    std::u16string_view code;
    std::u16string_view default_lang;
    bool chinese_active_after_loaded;
};

const OsLanguageCase kOsLanguageCases[] = {
    {"Simplified Chinese", u"CHS", 0x0804, u"ch", u"0804", true},
    {"Traditional Chinese", u"CHT", 0x0404, u"ch", u"0404", true},
    {"US English: the table has no language en", u"ENU", 0x0409, u"en", u"0409", false},
    {"hex letters are upper case", u"ESN", 0x0C0A, u"es", u"0C0A", false},
    {"query fails", std::nullopt, 0x0409, u"", u"0409", false},
    {"name too long for its buffer", u"ABCD", 0x0409, u"", u"0409", false},
    {"lower case name", u"chs", 0x0804, u"ch", u"0804", true},
};

TEST_F(UiLanguageTest, LoadedFollowsTheOperatingSystemsLanguage) {
    for (const OsLanguageCase& c : kOsLanguageCases) {
        SCOPED_TRACE(c.what);
        locale_.locales = {{0x1234, u"1234", u"Test", u"TST", c.abbreviation}};
        locale_.user_locale_id = 0x1234;
        locale_.system_language_id = c.system_language;
        EXPECT_EQ(GetOSLanguageCode(locale_), c.code);
        EXPECT_EQ(GetOSDefaultLang(locale_), c.default_lang);

        Window window(nullptr, u"Form", std::u16string(kFormClass));
        const TuiLanguage& language = MakeComponent(window);
        EXPECT_EQ(language.LangCode(), c.code);
        EXPECT_EQ(language.GetOSDefaultLang(), c.default_lang);
        EXPECT_EQ(TranslateText(u"Config"),
                  c.chinese_active_after_loaded ? u"打开配置" : u"Config");
        EXPECT_EQ(language.Lang(), u"");  // Loaded does not set Lang
        ResetLanguage();
    }
}

TEST_F(UiLanguageTest, AutoSelectSelectsTheSystemsLanguage) {
    locale_.user_locale_id = 0x0804;
    TuiLanguage& language = MakeComponent(window_);
    ResetLanguage();
    EXPECT_FALSE(language.AutoSelect());
    language.SetAutoSelect(true);
    EXPECT_EQ(language.Lang(), u"ch");
    EXPECT_EQ(TranslateText(u"Exit"), u"退出软件");
}

TEST_F(UiLanguageTest, DesignTimePropertiesOnlyStore) {
    TuiLanguage& language = MakeComponent(window_);
    EXPECT_FALSE(language.Active());
    language.SetActive(true);
    EXPECT_TRUE(language.Active());
    language.SetActiveLoadFromFile(true);
    EXPECT_FALSE(language.ActiveLoadFromFile());
    EXPECT_EQ(language.SpecialClassName().size(), 8u);
    EXPECT_EQ(language.SpecialClassName().front(), u"TMenuItem");
    const Texts custom{u"TMyGrid"};
    language.SetCustomClassList(custom);
    EXPECT_EQ(language.CustomClassList(), custom);
}

// --- Locale names -----------------------------------------------------------------------------

TEST_F(UiLanguageTest, LongNamesComeFromTheSystemsLocales) {
    locale_.locales = {
        {0x0804, u"0804", u"Chinese (Simplified, PRC)", u"CHN", u"CHS"},
        {0x0C0A, u"0c0a", u"Spanish (Spain)", u"ESP", u"ESN"},
        {0x1004, u"1004", u"Chinese (Singapore)", std::nullopt, u"ZHI"},  // no country
        {0x0C04, u"0c04", u"Chinese (Hong Kong)", u"HKGX", u"ZHH"},       // too long
        {0x0404, std::nullopt, u"No identifier", u"TWN", u"CHT"},
        {0x0805, u"0804", u"Second of an identifier", u"CHN", u"CHS"},
        {0x0409, u"0409", std::u16string(1024, u'x'), u"USA", u"ENU"},  // name too long
    };
    const TuiLanguage& language = MakeComponent(window_);
    const struct {
        std::u16string_view id;
        std::u16string_view by_lang_id;
        std::u16string_view by_short_id;
    } cases[] = {
        {u"0804", u"Chinese (Simplified, PRC)", u"Chinese (Simplified, PRC)"},
        {u"0C0A", u"Spanish (Spain)", u"Spanish (Spain)"},  // identifiers ignore case
        {u"1004", u"Chinese (Singapore)", u""},
        {u"0c04", u"Chinese (Hong Kong)", u""},
        {u"0409", u"", u""},  // the query's buffer is too small: empty name, still entered
        {u"", u"", u""},      // an empty identifier names no locale
        {u"9999", u"", u""},
        {u"CH", u"", u""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& c = cases[i];
        EXPECT_EQ(language.GetLanguageLongNameByLangID(c.id), c.by_lang_id);
        EXPECT_EQ(language.GetLanguageLongNameByShortID(c.id), c.by_short_id);
    }
}

// --- Walking the windows ----------------------------------------------------------------------

// The monitor window with controls of every kind the walk tells apart.
class WalkTest : public UiLanguageTest {
  protected:
    WalkTest() {
        label_ = &window_.Create<Control>(u"Label1", u"TLabel", u"Config", u"Exit");
        window_.Create<Component>(u"Timer1", u"TTimer");
        panel_ = &window_.Create<Control>(u"Panel1", u"TPanel", u"About");
        button_ = &panel_->Create<Control>(u"Button1", u"TButton", u"Down", u"Mouse Click");
        deep_grid_ = &button_->Create<Control>(u"Grid2", u"TMyGrid", u"Up");
        menu_item_ = &window_.Create<Control>(u"Config1", u"TMenuItem", u"Config");
        grid_ = &window_.Create<Control>(u"Grid1", u"TMyGrid", u"Up");
        Component& scene =
            window_.Create<Component>(u"vgScene1", u"TvgScene", ComponentKind::kScene);
        scene_text_ = &scene.Create<Control>(u"Text1", u"TvgText", u"Exit");
        read_only_ = &window_.Create<ReadOnlyLabel>(u"Label2", u"TLabel", u"Exit");
        broken_ = &window_.Create<BrokenCaption>(u"Label3", u"TLabel", u"Exit", u"About");
    }

    Control* label_;
    Control* panel_;
    Control* button_;
    Control* deep_grid_;
    Control* menu_item_;
    Control* grid_;
    Control* scene_text_;
    Control* read_only_;
    Control* broken_;
};

TEST_F(WalkTest, SetLangTranslatesCaptionsAndHintsOfTheWindow) {
    TuiLanguage& language = MakeComponent(window_);
    language.SetLang(u"CH");
    EXPECT_EQ(label_->Caption(), u"打开配置");
    EXPECT_EQ(label_->Hint(), u"退出软件");
    EXPECT_EQ(panel_->Caption(), u"关于软件");
    EXPECT_EQ(button_->Caption(), u"按下");
    EXPECT_EQ(button_->Hint(), u"左键");
    EXPECT_EQ(broken_->Hint(), u"关于软件");  // its unreadable Caption is skipped
    EXPECT_EQ(grid_->Caption(), u"松开");     // no custom classes yet: a control like others
    EXPECT_EQ(deep_grid_->Caption(), u"松开");
    // Left alone: special classes, scenes, and a control whose texts cannot be written.
    EXPECT_EQ(menu_item_->Caption(), u"Config");
    EXPECT_EQ(scene_text_->Caption(), u"Exit");
    EXPECT_EQ(read_only_->Caption(), u"Exit");
}

TEST_F(WalkTest, CustomClassesGoToTheHandlerWithTheirBaseName) {
    TuiLanguage& language = MakeComponent(window_);
    const Texts custom{u"tmygrid"};  // class names ignore case
    language.SetCustomClassList(custom);
    std::vector<std::pair<std::u16string, std::u16string>> calls;
    language.OnCustomTranslate = [&](Component& item, std::vector<std::u16string>&,
                                     std::vector<Component*>& visited, std::u16string_view base,
                                     bool translate) {
        EXPECT_TRUE(translate);
        EXPECT_FALSE(visited.empty());
        calls.emplace_back(item.Name(), base);
    };
    language.SetLang(u"CH");
    const std::vector<std::pair<std::u16string, std::u16string>> expected{
        {u"Grid2", u"TKORVANTH417MONMAIN.Panel1"}, {u"Grid1", u"TKORVANTH417MONMAIN"}};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(grid_->Caption(), u"Up");  // the handler translated nothing
    EXPECT_EQ(deep_grid_->Caption(), u"Up");
}

TEST_F(WalkTest, CollectingWithoutTranslatingChangesNothing) {
    TuiLanguage& language = MakeComponent(window_);
    language.SetLang(u"CH");
    Window other(nullptr, u"Other", u"TOtherForm");
    Control& label = other.Create<Control>(u"Label1", u"TLabel", u"Config", u"Config");
    label.Create<Control>(u"Inner", u"TLabel", u"Exit");
    Texts texts;
    language.TranslateComponent(&other, texts, {}, false);
    EXPECT_EQ(texts, (Texts{u"Config", u"Config", u"Exit"}));  // duplicates kept, walk order
    EXPECT_EQ(label.Caption(), u"Config");
    language.TranslateComponent(nullptr, texts, {}, true);
    EXPECT_EQ(texts.size(), 3u);
}

TEST_F(WalkTest, BaseNamesFollowTheOwners) {
    EXPECT_EQ(TuiLanguage::GetComponentBaseName(&window_), kFormClass);
    EXPECT_EQ(TuiLanguage::GetComponentBaseName(label_), kFormClass);
    EXPECT_EQ(TuiLanguage::GetComponentBaseName(button_), u"TKORVANTH417MONMAIN.Panel1");
    EXPECT_EQ(TuiLanguage::GetComponentBaseName(deep_grid_), u"TKORVANTH417MONMAIN.Panel1.Button1");
    EXPECT_EQ(TuiLanguage::GetComponentBaseName(nullptr), u"");
    const Component loose(nullptr, u"Loose", u"TTimer");
    EXPECT_EQ(TuiLanguage::GetComponentBaseName(&loose), u"");
    const Component data_module(nullptr, u"DM", u"TDM", ComponentKind::kDataModule);
    EXPECT_EQ(TuiLanguage::GetComponentBaseName(&data_module), u"TDM");
}

TEST_F(WalkTest, ApplicationWalkSkipsItsWindows) {
    Component application(nullptr, u"Application", u"TApplication", ComponentKind::kApplication);
    Window& form = application.Create<Window>(u"Form", u"TForm", u"Config");
    Control& hint = application.Create<Control>(u"Hint1", u"THintWindow", u"Exit");
    TuiLanguage& language = MakeComponent(window_);
    language.SetLang(u"CH");
    Texts texts;
    language.TranslateComponent(&application, texts, {}, true);
    EXPECT_EQ(form.Caption(), u"Config");
    EXPECT_EQ(hint.Caption(), u"退出软件");
}

TEST_F(WalkTest, WindowTextsKeepTheirTranslationWhileScenesSwitch) {
    TuiLanguage& language = MakeComponent(window_);
    TextScene scene;
    language.SetLang(u"CH");
    EXPECT_EQ(scene.text.Text, u"打开配置");
    EXPECT_EQ(label_->Caption(), u"打开配置");
    language.SetLang(u"US");
    EXPECT_EQ(scene.text.Text, u"Config");      // back to its source, then US
    EXPECT_EQ(label_->Caption(), u"打开配置");  // no source text of US: kept
}

TEST_F(WalkTest, EveryWindowWithALanguageComponentIsTranslatedWhileItLives) {
    TuiLanguage& language = MakeComponent(window_);
    const Texts counted{u"TCounted"};
    language.SetCustomClassList(counted);
    std::vector<std::u16string> visits;
    language.OnCustomTranslate = [&](Component& item, std::vector<std::u16string>&,
                                     std::vector<Component*>&, std::u16string_view,
                                     bool) { visits.push_back(item.Name()); };
    Window without(nullptr, u"Plain", u"TPlainForm", u"Config");
    without.Create<Component>(u"InPlain", u"TCounted");
    auto second = std::make_unique<Window>(nullptr, u"Second", u"TSecondForm", u"Exit");
    second->Create<Component>(u"InSecond", u"TCounted");
    MakeComponent(*second);
    MakeComponent(*second);  // two components on one window: it is walked once

    language.SetLang(u"CH");
    EXPECT_EQ(second->Caption(), u"退出软件");
    EXPECT_EQ(without.Caption(), u"Config");
    EXPECT_EQ(visits, Texts{u"InSecond"});

    second.reset();  // its components go with it, and the window leaves the list
    visits.clear();
    language.SetLang(u"US");
    EXPECT_TRUE(visits.empty());
    EXPECT_EQ(label_->Caption(), u"打开配置");
}

// --- Files and the stored table ---------------------------------------------------------------

TEST_F(UiLanguageTest, SavedTableLoadsBackWithItsLanguages) {
    TuiLanguage& language = MakeComponent(window_);
    const std::u16string path = files_.ExecutableFolder() + u"saved.local";
    ASSERT_TRUE(language.SaveToFile(path));

    Window other(nullptr, u"Other", u"TOtherForm");
    TuiLanguage& reader = other.Create<TuiLanguage>(ports_);
    EXPECT_EQ(reader.LoadFromFile(path), LanguageFileStatus::kLoaded);
    EXPECT_EQ(reader.Table(), language.Table());
    EXPECT_EQ(reader.LoadFromFile(files_.ExecutableFolder() + u"missing.local"),
              LanguageFileStatus::kMissing);
    EXPECT_EQ(reader.Table(), language.Table());

    files_.FailWrites(true);
    EXPECT_FALSE(language.SaveToFile(path));
}

TEST_F(UiLanguageTest, StoredTableOnlyWithLanguagesAndStoreInForm) {
    TuiLanguage& language = window_.Create<TuiLanguage>(ports_);
    EXPECT_FALSE(language.WriteResourcesBin());  // no language
    language.AddLang(u"CH");
    EXPECT_FALSE(language.AddLang(u"ch"));
    EXPECT_TRUE(language.WriteResourcesBin());
    language.SetStoreInForm(false);
    EXPECT_FALSE(language.WriteResourcesBin());
}

}  // namespace
}  // namespace korv
