// The monitor as a new installation meets it on Windows: "ui.local" beside the program (this
// test program's folder holds it, and uiHook.dll, as the installed folder does), no stored
// settings, and the system language of the locale Wine was started with. tests/lang.cmake runs
// this program under LC_ALL=en_US.UTF-8, zh_CN.UTF-8 and zh_TW.UTF-8: the stored language index
// follows the system language, and the tray menu (read back with GetMenuStringW), hint and title
// show that language.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/settings_file.h"
#include "lang/translation_engine.h"
#include "lang/ui_language.h"
#include "platform/win32/wide_string.h"
#include "profile/dm_unit.h"
#include "programs/monitor/monitor_window.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

const wchar_t kRegFolder[] = L"software\\software\\KORVANTH417GM";

struct ShownLanguage {
    const wchar_t* lc_all;  // the locale Wine is started with
    LANGID system_language;
    int index;                  // the stored language index a new installation gets
    std::u16string_view code;   // the language of "ui.local" at that index
    const wchar_t* config;      // menu item 0
    const wchar_t* exit;        // menu item 1
    const wchar_t* hint;        // tray hint
    const wchar_t* title;       // window title
    std::u16string_view muted;  // tray hint after muting the microphone
    std::u16string_view on;     // and after turning it on again
};

const ShownLanguage kLanguages[] = {
    {L"en_US.UTF-8", 0x0409, 0, u"0409", L"Config", L"Exit", L"GAMING MOUSE DRIVER",
     L"GAMING MOUSE MONITOR", u"Microphone muted", u"Microphone on"},
    {L"zh_CN.UTF-8", 0x0804, 1, u"0804", L"打开配置", L"退出软件", L"游戏鼠标驱动程序",
     L"游戏鼠标监控程序", u"麦克风已静音", u"麦克风已开启"},
    {L"zh_TW.UTF-8", 0x0404, 2, u"0404", L"開啟設定", L"結束軟體", L"遊戲滑鼠驅動程式",
     L"遊戲滑鼠監控程式", u"麥克風已靜音", u"麥克風已開啟"},
};

// The row of the locale this program runs under; English for any other.
const ShownLanguage& ForThisLocale() {
    wchar_t value[64] = {};
    GetEnvironmentVariableW(L"LC_ALL", value, 64);
    for (const ShownLanguage& language : kLanguages) {
        if (std::wstring_view(value) == language.lc_all)
            return language;
    }
    return kLanguages[0];
}

std::wstring MenuText(HMENU menu, int position) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

std::wstring WindowTitle(HWND window) {
    wchar_t text[128] = {};
    GetWindowTextW(window, text, 128);
    return text;
}

// No stored settings before and after: the data module writes the defaults of this system.
class MonitorLanguageOnWindows : public ::testing::Test {
  protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRegFolder); }
    void TearDown() override {
        window_.reset();
        ResetLanguage();
        RegDeleteTreeW(HKEY_CURRENT_USER, kRegFolder);
    }

    Win32Platform platform_;
    std::unique_ptr<TDM> data_module_;
    std::unique_ptr<MonitorWindow> window_;
};

TEST_F(MonitorLanguageOnWindows, NewInstallationShowsTheSystemsLanguage) {
    const ShownLanguage& expected = ForThisLocale();
    SCOPED_TRACE(testing::Message() << "system language " << std::hex << expected.system_language);
    ASSERT_EQ(GetSystemDefaultLangID(), expected.system_language)
        << "Wine did not take the locale it was started with";

    data_module_ = LoadDataModule(platform_.DataPorts());
    EXPECT_EQ(data_module_->FAllProfileSettingInfo.CurrentLanguage, expected.index);
    window_ = MonitorWindow::Create(GetModuleHandleW(nullptr), platform_, *data_module_);
    ASSERT_NE(window_, nullptr);

    const TuiLanguage& language = window_->Monitor().uiLanguage1();
    ASSERT_EQ(language.LocalFileStatus(), LanguageFileStatus::kLoaded);
    const std::u16string codes[] = {u"0409", u"0804", u"0404", u"CH", u"US"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(language.GetLanguageShortIDByIndex(i), codes[i]) << i;
    EXPECT_EQ(language.Lang(), expected.code);
    // The locale list names the language of "ui.local" by its code.
    EXPECT_FALSE(language.GetLanguageLongNameByShortID(language.Lang()).empty());

    HMENU menu = window_->Tray().Menu();
    EXPECT_EQ(MenuText(menu, 0), expected.config);
    EXPECT_EQ(MenuText(menu, 1), expected.exit);
    // The hint names the program, then (with a microphone to ask) the microphone's state.
    const std::wstring hint = window_->Tray().Hint();
    EXPECT_EQ(hint.substr(0, hint.find(L'\n')), expected.hint);
    if (hint.find(L'\n') != std::wstring::npos) {
        EXPECT_EQ(hint.substr(hint.find(L'\n') + 1), ToWide(expected.on));
    }
    EXPECT_EQ(WindowTitle(window_->Handle()), expected.title);
    EXPECT_EQ(TranslateText(u"Microphone muted"), expected.muted);
    EXPECT_EQ(TranslateText(u"Microphone on"), expected.on);
}

}  // namespace
}  // namespace korv::win32
