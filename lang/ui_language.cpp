#include "lang/ui_language.h"

#include <algorithm>
#include <utility>

#include "base/decimal_text.h"
#include "lang/builtin_table.h"
#include "lang/translation_engine.h"
#include "ports/debug_output.h"
#include "ports/file_system.h"
#include "ports/locale.h"

namespace korv {
namespace {

// Buffer sizes of the locale queries, in UTF-16 units with the terminating zero: a text that
// does not fit counts as not read.
constexpr std::size_t kLocaleTextBuffer = 1024;
constexpr std::size_t kAbbreviationBuffer = 4;

constexpr std::array<std::u16string_view, 2> kTranslatedProperties{kCaptionProperty, kHintProperty};
constexpr std::array<std::u16string_view, 8> kSpecialClasses{
    u"TMenuItem", u"TTabControl", u"TTabSheet",   u"TListView",
    u"TTreeView", u"TStatusBar",  u"TComboBoxEx", u"TuiMenuEx"};

// The windows that own a language component, in the order of registration, each with the
// number of its language components. A window leaves the list with its last component, so the
// list never holds a window that is gone.
struct ParentForm {
    Component* window;
    int language_components;
};

std::vector<ParentForm>& ParentFormList() {
    static std::vector<ParentForm> list;
    return list;
}

void RegisterParentForm(Component* window) {
    std::vector<ParentForm>& list = ParentFormList();
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const ParentForm& form) { return form.window == window; });
    if (it != list.end())
        ++it->language_components;
    else
        list.push_back({window, 1});
}

void UnregisterParentForm(Component* window) {
    std::vector<ParentForm>& list = ParentFormList();
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const ParentForm& form) { return form.window == window; });
    if (it != list.end() && --it->language_components == 0)
        list.erase(it);
}

std::u16string FittingText(const std::optional<std::u16string>& text, std::size_t buffer_units) {
    return text && text->size() < buffer_units ? *text : std::u16string();
}

bool InClassList(const std::vector<std::u16string>& list, std::u16string_view class_name) {
    return std::any_of(list.begin(), list.end(), [&](const std::u16string& entry) {
        return EqualsIgnoringAsciiCase(entry, class_name);
    });
}

}  // namespace

std::u16string GetOSDefaultLang(const Locale& locale) {
    constexpr std::u16string_view kHexDigits = u"0123456789ABCDEF";
    const std::uint16_t id = locale.SystemDefaultLanguageId();
    std::u16string text;
    for (int shift = 12; shift >= 0; shift -= 4)
        text.push_back(kHexDigits[(id >> shift) & 0xF]);
    return text;
}

std::u16string GetOSLanguageCode(const Locale& locale) {
    const std::optional<std::u16string> name =
        locale.LocaleInfo(locale.UserDefaultLocaleId(), LocaleItem::kAbbreviatedLanguageName);
    if (!name || name->size() >= kAbbreviationBuffer)
        return {};
    std::u16string code = name->substr(0, 2);
    std::transform(code.begin(), code.end(), code.begin(), AsciiLower);
    return code;
}

// --- TvgLang ---------------------------------------------------------------------------------

TvgLang::TvgLang(Component* AOwner, std::u16string name, std::u16string class_name,
                 const LanguagePorts& ports)
    : Component(AOwner, std::move(name), std::move(class_name)), ports_(ports) {}

void TvgLang::SetLang(std::u16string_view code) {
    FLang = code;
    if (loading_)
        return;
    if (code == kSourceLanguageCode)
        ResetLanguage();
    else
        ActivateLanguageList(GetLangList(code));
}

LanguageFileStatus TvgLang::LoadFromFile(std::u16string_view AFileName) {
    const FileRead read = ports_.files.ReadWholeFile(AFileName, kMaxLanguageFileSize);
    switch (read.status) {
        case FileRead::Status::Missing:
            return LanguageFileStatus::kMissing;
        case FileRead::Status::Unreadable:
            TraceUnused(AFileName, u"cannot be read");
            return LanguageFileStatus::kUnreadable;
        case FileRead::Status::TooLarge:
            TraceUnused(AFileName,
                        u"is " + DecimalText(static_cast<std::int64_t>(read.size)) +
                            u" bytes, above the limit of " +
                            DecimalText(static_cast<std::int64_t>(kMaxLanguageFileSize)));
            return LanguageFileStatus::kTooLarge;
        case FileRead::Status::Read:
            break;
    }
    const TableReadStatus table = ReadTable(read.bytes, FTable);
    if (table == TableReadStatus::kOk)
        return LanguageFileStatus::kLoaded;
    TraceUnused(AFileName, u"is malformed (" + std::u16string(Describe(table)) + u")");
    return LanguageFileStatus::kMalformed;
}

void TvgLang::TraceUnused(std::u16string_view file, std::u16string_view problem) const {
    if (ports_.debug != nullptr) {
        ports_.debug->Trace(u"Language file " + std::u16string(file) + u" " +
                            std::u16string(problem) + u"; its languages are not used");
    }
}

bool TvgLang::SaveToFile(std::u16string_view AFileName) const {
    const std::optional<std::vector<std::uint8_t>> bytes = WriteTable(FTable);
    return bytes && ports_.files.WriteWholeFile(AFileName, *bytes);
}

TableReadStatus TvgLang::ReadResourcesBin(std::span<const std::uint8_t> bytes) {
    return ReadTable(bytes, FTable);
}

std::optional<std::vector<std::uint8_t>> TvgLang::WriteResourcesBin() const {
    if (!FStoreInForm || FTable.Resources.empty())
        return std::nullopt;
    return WriteTable(FTable);
}

void TvgLang::Loaded() {
    loading_ = false;
    if (!FAutoSelect)
        return;
    FLang = korv::GetOSLanguageCode(ports_.locale);
    if (!FLang.empty())
        ActivateLanguageList(GetLangList(FLang));
}

// --- TuiLanguage -----------------------------------------------------------------------------

TuiLanguage::TuiLanguage(Component* AOwner, const LanguagePorts& ports, std::u16string name)
    : TvgLang(AOwner, std::move(name), u"TuiLanguage", ports) {
    FTranslatePropertyList.assign(kTranslatedProperties.begin(), kTranslatedProperties.end());
    FTranslateSpecialClassList.assign(kSpecialClasses.begin(), kSpecialClasses.end());
    if (AOwner != nullptr && AOwner->Kind() == ComponentKind::kWindow) {
        RegisterParentForm(AOwner);
        parent_form_ = AOwner;
    }
    LoadLocalFile();
}

TuiLanguage::~TuiLanguage() {
    if (parent_form_ != nullptr)
        UnregisterParentForm(parent_form_);
}

void TuiLanguage::LoadLocalFile() {
    const std::u16string path =
        Ports().files.PathInFolder(Ports().files.DataFolder(), kLanguageFileName);
    if (!Ports().files.FileExists(path))
        return;
    ClearLanguages();
    local_file_status_ = LoadFromFile(path);
}

// The system's locales are listed by the first lookup that needs them, not at start: the
// monitor rarely asks, and the list of a few hundred names would sit in memory all day.
const std::vector<TuiLanguage::LocaleName>& TuiLanguage::LocaleNames() const {
    if (!locale_names_listed_) {
        locale_names_listed_ = true;
        for (const std::uint32_t id : Ports().locale.SupportedLocaleIds())
            LocaleEnumProc(id);
    }
    return locale_names_;
}

void TuiLanguage::LocaleEnumProc(std::uint32_t LCID) const {
    const Locale& locale = Ports().locale;
    LocaleName entry;
    entry.LangID = FittingText(locale.LocaleInfo(LCID, LocaleItem::kLanguageId), kLocaleTextBuffer);
    entry.LangName =
        FittingText(locale.LocaleInfo(LCID, LocaleItem::kLanguageName), kLocaleTextBuffer);
    const std::optional<std::u16string> country =
        locale.LocaleInfo(LCID, LocaleItem::kAbbreviatedCountryName);
    if (country && country->size() < kAbbreviationBuffer)
        entry.ShortID = entry.LangID;
    locale_names_.push_back(std::move(entry));
}

void TuiLanguage::SetLang(std::u16string_view Value) {
    TvgLang::SetLang(Value);
    FLanguageName = Value;
    std::vector<std::u16string> texts;
    // By index: a handler may add or remove windows while the walk runs.
    for (std::size_t i = 0; i < ParentFormList().size(); ++i)
        TranslateComponent(ParentFormList()[i].window, texts, {}, true);
    if (OnLanguageChanged)
        OnLanguageChanged(*this, FLanguageName, GetLanguageLongNameByShortID(FLanguageName));
}

std::int32_t TuiLanguage::GetLanguageIndexByShortID(std::u16string_view Index) const {
    return Table().IndexOfLanguage(Index);
}

std::u16string TuiLanguage::GetLanguageShortIDByIndex(std::int32_t Index) const {
    const auto& languages = Table().Resources;
    if (Index < 0 || static_cast<std::size_t>(Index) >= languages.size())
        return {};
    return languages[static_cast<std::size_t>(Index)].code;
}

// An empty identifier names no locale: a locale whose query failed is not found through it.
std::u16string TuiLanguage::GetLanguageLongNameByLangID(std::u16string_view LangID) const {
    if (LangID.empty())
        return {};
    for (const LocaleName& entry : LocaleNames()) {
        if (EqualsIgnoringAsciiCase(entry.LangID, LangID))
            return entry.LangName;
    }
    return {};
}

std::u16string TuiLanguage::GetLanguageLongNameByShortID(std::u16string_view ShortID) const {
    if (ShortID.empty())
        return {};
    for (const LocaleName& entry : LocaleNames()) {
        if (EqualsIgnoringAsciiCase(entry.ShortID, ShortID))
            return entry.LangName;
    }
    return {};
}

std::u16string TuiLanguage::GetOSDefaultLang() const {
    return korv::GetOSDefaultLang(Ports().locale);
}

std::u16string TuiLanguage::GetOSLanguageCode() const {
    return korv::GetOSLanguageCode(Ports().locale);
}

void TuiLanguage::SetAutoSelect(bool Value) {
    FAutoSelect = Value;
    if (Value)
        SetLang(GetOSLanguageCode());
}

void TuiLanguage::TranslateComponent(Component* C, std::vector<std::u16string>& ATextList,
                                     std::u16string BaseName, bool ATranslate) {
    if (C == nullptr)
        return;
    if (BaseName.empty())
        BaseName = GetComponentBaseName(C);
    std::vector<Component*> AList{C};
    if (C->ComponentCount() == 0)
        TranslateProperties(*C, ATextList, ATranslate);
    else
        TranslateComponentTree(C, ATextList, AList, BaseName, ATranslate);
}

std::u16string TuiLanguage::GetComponentBaseName(const Component* C) {
    if (C == nullptr)
        return {};
    if (C->Kind() == ComponentKind::kWindow || C->Kind() == ComponentKind::kDataModule)
        return C->ClassName();
    const Component* owner = C->Owner();
    if (owner == nullptr)
        return {};
    if (owner->Kind() == ComponentKind::kWindow)
        return owner->ClassName();
    return GetComponentBaseName(owner) + u"." + owner->Name();
}

void TuiLanguage::TranslateComponentTree(Component* C, std::vector<std::u16string>& ATextList,
                                         std::vector<Component*>& AList,
                                         const std::u16string& BaseName, bool ATranslate) {
    if (C == nullptr)
        return;
    TranslateProperties(*C, ATextList, ATranslate);
    const std::u16string B =
        C->Kind() == ComponentKind::kWindow ? BaseName : BaseName + u"." + C->Name();
    for (std::size_t i = 0; i < C->ComponentCount(); ++i) {
        Component* Item = C->Components(i);
        if (Item == nullptr)
            continue;
        if (InClassList(FTranslateSpecialClassList, Item->ClassName())) {
            TranslateSpecialControl(*Item);
            continue;
        }
        if (InClassList(FTranslateCustomClassList, Item->ClassName())) {
            if (OnCustomTranslate)
                OnCustomTranslate(*Item, ATextList, AList, BaseName, ATranslate);
            continue;
        }
        if (C->Kind() == ComponentKind::kApplication && Item->Kind() == ComponentKind::kWindow)
            continue;
        if (Item->Kind() == ComponentKind::kScene)
            AList.push_back(Item);  // scenes are translated by the engine, never walked
        if (std::find(AList.begin(), AList.end(), Item) != AList.end())
            continue;
        AList.push_back(Item);
        TranslateComponentTree(Item, ATextList, AList, B, ATranslate);
    }
}

void TuiLanguage::TranslateProperties(Component& C, std::vector<std::u16string>& ATextList,
                                      bool ATranslate) {
    for (const std::u16string& P : FTranslatePropertyList) {
        const std::optional<std::u16string> S = C.GetTextProperty(P);
        if (!S || S->empty())
            continue;
        ATextList.push_back(*S);
        const std::u16string T = TranslateText(*S);
        if (ATranslate && !T.empty())
            // A property that cannot be written is left as it is.
            static_cast<void>(C.SetTextProperty(P, T));
    }
}

// The controls of the special classes keep their texts: the window's own code sets them.
void TuiLanguage::TranslateSpecialControl(Component&) {}

TuiLanguage& CreateLanguageComponent(Component& owner, const LanguagePorts& ports) {
    TuiLanguage& language = owner.Create<TuiLanguage>(ports);
    // The built-in table is generated at build time and read back by its tests: it cannot fail
    // here unless the program itself is damaged, and then the captions stay untranslated.
    static_cast<void>(language.ReadResourcesBin(BuiltinTranslationTable()));
    language.Loaded();
    return language;
}

}  // namespace korv
