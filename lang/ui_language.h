#pragma once
// The language component of a window, TuiLanguage, and the language store it is built on,
// TvgLang.
//
// TvgLang holds a translation table (source texts and languages) and the active language code
// of the engine, reads and writes ".local" files and the table stored with the window, and
// selects the operating system's language once the window has been read.
//
// TuiLanguage adds what a window of the suite needs: the system's locales with their names, a
// language file "ui.local" from the executable's folder, selection by code or by position, and
// the translation of the "Caption" and "Hint" of every component of the windows that own a
// language component. A window makes its component with CreateLanguageComponent, which runs
// the steps in the order the window's creation runs them: the constructor (locales, then
// "ui.local"), the built-in table appended behind the languages of "ui.local", then Loaded.
//
// Threads: the main thread only, like the translation engine these components drive.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lang/component.h"
#include "lang/table_format.h"
#include "lang/translation_table.h"

namespace korv {

class DebugOutput;
class FileSystem;
class Locale;

inline constexpr std::u16string_view kLanguageFileName = u"ui.local";

// "en" names the source texts.
inline constexpr std::u16string_view kSourceLanguageCode = u"en";

// The source texts that the collection of texts at design time always adds.
inline constexpr std::array<std::u16string_view, 10> ConstTexts{u"Down",
                                                                u"Up",
                                                                u"ms",
                                                                u"Mouse Click",
                                                                u"Mouse Right Click",
                                                                u"Mouse Middle Click",
                                                                u"Backward(Mouse)",
                                                                u"Forward(Mouse)",
                                                                u"Wheel up(Mouse)",
                                                                u"Wheel Down(Mouse)"};

// The platform services of a language component.
struct LanguagePorts {
    const Locale& locale;
    const FileSystem& files;
    // Where a language file that is there but not used is traced; nowhere when null.
    const DebugOutput* debug = nullptr;
};

// The system's default language identifier as four upper-case hex digits: "0804", "0404".
std::u16string GetOSDefaultLang(const Locale& locale);

// The first two letters of the user's default locale's abbreviated language name, in lower case
// ("ENU" gives "en", "CHS" gives "ch"); empty when the name cannot be read.
std::u16string GetOSLanguageCode(const Locale& locale);

// The largest language file that is read: a file of a few hundred captions takes kilobytes, so
// anything this large is not one, and reading it would only cost memory.
inline constexpr std::size_t kMaxLanguageFileSize = 4 * 1024 * 1024;

enum class LanguageFileStatus {
    kMissing,     // no such file: nothing read
    kUnreadable,  // the file exists but cannot be read: nothing read
    kTooLarge,    // above kMaxLanguageFileSize: nothing read
    kMalformed,   // not a translation table: nothing read
    kLoaded,
};

class TvgLang : public Component {
  public:
    TvgLang(Component* AOwner, std::u16string name, std::u16string class_name,
            const LanguagePorts& ports);

    // Selects a language: exactly "en" shows the source texts; any other code activates the
    // first language with that code (compared without regard to case), and a code with no
    // language leaves the active language as it is. While the component is still being read
    // (before Loaded) only the code is kept.
    virtual void SetLang(std::u16string_view code);

    // Appends a language with no lines unless one with that code exists.
    bool AddLang(std::u16string_view AName) { return FTable.AddLang(AName); }
    TranslationList* GetLangList(std::u16string_view code) { return FTable.GetLangList(code); }
    const TranslationList* GetLangList(std::u16string_view code) const {
        return FTable.GetLangList(code);
    }

    // Reads a ".local" file: its source texts replace the table's, its languages are appended.
    // A missing, unreadable, oversized or malformed file leaves the table as it was; all but a
    // missing one are traced.
    [[nodiscard]] LanguageFileStatus LoadFromFile(std::u16string_view AFileName);
    // Writes the table to a file, replacing an existing one. False when it cannot be written.
    [[nodiscard]] bool SaveToFile(std::u16string_view AFileName) const;

    // The table stored with the window ("ResourcesBin"): read like a ".local" file.
    [[nodiscard]] TableReadStatus ReadResourcesBin(std::span<const std::uint8_t> bytes);
    // The bytes stored with the window, or nothing when the table is not stored: StoreInForm
    // is off or the table has no language.
    std::optional<std::vector<std::uint8_t>> WriteResourcesBin() const;

    // Runs once the window has been read: takes the operating system's language code and
    // activates that language when the table has it.
    virtual void Loaded();

    // The active language code of the engine, as last set by SetLang or Loaded.
    const std::u16string& LangCode() const { return FLang; }
    const TranslationTable& Table() const { return FTable; }
    bool StoreInForm() const { return FStoreInForm; }
    void SetStoreInForm(bool value) { FStoreInForm = value; }
    // True from construction until Loaded.
    bool IsLoading() const { return loading_; }

  protected:
    const LanguagePorts& Ports() const { return ports_; }
    void ClearLanguages() { FTable.Resources.clear(); }

  private:
    void TraceUnused(std::u16string_view file, std::u16string_view problem) const;

    LanguagePorts ports_;
    std::u16string FLang;
    TranslationTable FTable;  // the source texts and the languages
    bool FAutoSelect = true;  // the base always selects the system's language when loaded
    bool FStoreInForm = true;
    bool loading_ = true;
};

// Handler for components whose class is in CustomClassList.
using TOnCustomTranslate = std::function<void(
    Component& AComponent, std::vector<std::u16string>& ATextList, std::vector<Component*>& AList,
    std::u16string_view BaseName, bool ATranslate)>;
// Raised after every SetLang.
using TOnLanguageChanged =
    std::function<void(Component& AComponent, std::u16string_view LanguageShortID,
                       std::u16string_view LanguageLongName)>;

class TuiLanguage : public TvgLang {
  public:
    TuiLanguage(Component* AOwner, const LanguagePorts& ports,
                std::u16string name = u"uiLanguage1");
    ~TuiLanguage() override;

    // Selects the language (TvgLang::SetLang), remembers the code as Lang, translates the
    // captions and hints of every window that owns a language component, then raises
    // OnLanguageChanged.
    void SetLang(std::u16string_view Value) override;
    // The code last passed to SetLang.
    const std::u16string& Lang() const { return FLanguageName; }

    // Position of the language with that code (without regard to case), or -1.
    std::int32_t GetLanguageIndexByShortID(std::u16string_view Index) const;
    // The code of the language at that position, or the empty string when out of range.
    std::u16string GetLanguageShortIDByIndex(std::int32_t Index) const;

    // The name of the locale with that language identifier ("0804"), or the empty string.
    std::u16string GetLanguageLongNameByLangID(std::u16string_view LangID) const;
    // The same for a short identifier: the language identifier of a locale whose abbreviated
    // country name is known.
    std::u16string GetLanguageLongNameByShortID(std::u16string_view ShortID) const;

    std::u16string GetOSDefaultLang() const;
    std::u16string GetOSLanguageCode() const;

    bool AutoSelect() const { return FAutoSelect; }
    // Turning it on selects the operating system's language.
    void SetAutoSelect(bool Value);
    // At run time Active is only stored and ActiveLoadFromFile is always off; both serve a
    // translation editor at design time only.
    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }
    bool ActiveLoadFromFile() const { return false; }
    void SetActiveLoadFromFile(bool) {}

    const std::vector<std::u16string>& SpecialClassName() const {
        return FTranslateSpecialClassList;
    }
    const std::vector<std::u16string>& CustomClassList() const { return FTranslateCustomClassList; }
    void SetCustomClassList(std::span<const std::u16string> lines) {
        FTranslateCustomClassList.assign(lines.begin(), lines.end());
    }

    // Translates the Caption and Hint of C and of the components it owns, adding every text
    // found to ATextList; with ATranslate off the texts are only collected.
    void TranslateComponent(Component* C, std::vector<std::u16string>& ATextList,
                            std::u16string BaseName, bool ATranslate);
    // The dotted path of owner names by which custom handlers know a component.
    static std::u16string GetComponentBaseName(const Component* C);

    // What became of "ui.local" at construction.
    LanguageFileStatus LocalFileStatus() const { return local_file_status_; }

    TOnCustomTranslate OnCustomTranslate;
    TOnLanguageChanged OnLanguageChanged;

  private:
    // One locale of the system: its language identifier, its short identifier (the language
    // identifier, or empty when the locale has no abbreviated country name) and its name.
    struct LocaleName {
        std::u16string LangID;
        std::u16string ShortID;
        std::u16string LangName;
    };

    void LocaleEnumProc(std::uint32_t LCID) const;
    void TranslateComponentTree(Component* C, std::vector<std::u16string>& ATextList,
                                std::vector<Component*>& AList, const std::u16string& BaseName,
                                bool ATranslate);
    void TranslateProperties(Component& C, std::vector<std::u16string>& ATextList, bool ATranslate);
    void TranslateSpecialControl(Component& Item);
    void LoadLocalFile();

    bool FActive = false;
    bool FAutoSelect = false;
    std::u16string FLanguageName;
    std::vector<std::u16string> FTranslatePropertyList;
    std::vector<std::u16string> FTranslateSpecialClassList;
    std::vector<std::u16string> FTranslateCustomClassList;
    // The locale names (LangIDNameList and ShortIDNameList in one list, as both are filled
    // together in the same order). Each component has its own, built by its first lookup.
    [[nodiscard]] const std::vector<LocaleName>& LocaleNames() const;
    mutable std::vector<LocaleName> locale_names_;
    mutable bool locale_names_listed_ = false;
    Component* parent_form_ = nullptr;  // the window this component registered, if any
    LanguageFileStatus local_file_status_ = LanguageFileStatus::kMissing;
};

// The window's language component, made as the window's creation makes it: constructed, the
// built-in table read, then Loaded.
TuiLanguage& CreateLanguageComponent(Component& owner, const LanguagePorts& ports);

}  // namespace korv
