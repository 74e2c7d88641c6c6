#include "platform/linux/linux_system.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/linux/posix_files.h"
#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

// Days from 1899-12-30, where a TDateTime counts from, to 1970-01-01.
constexpr double kDaysFrom1899To1970 = 25569.0;
constexpr double kSecondsPerDay = 86400.0;

// "user-dirs.dirs" is a few hundred bytes; anything far larger is not one.
constexpr std::uint64_t kMaxUserDirsBytes = 64 * 1024;

std::string FullPathVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The quoted value of `XDG_DOCUMENTS_DIR="..."` on one line, its backslash escapes undone;
// nothing for any other line.
std::optional<std::string> DocumentsEntry(std::string_view line) {
    constexpr std::string_view kName = "XDG_DOCUMENTS_DIR";
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    if (!line.starts_with(kName))
        return std::nullopt;
    line.remove_prefix(kName.size());
    if (!line.starts_with("=\""))
        return std::nullopt;
    line.remove_prefix(2);
    std::string value;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            return value;
        if (line[i] == '\\' && i + 1 < line.size())
            ++i;
        value.push_back(line[i]);
    }
    return std::nullopt;  // no closing quote
}

// "$HOME/x" is x in the home folder, "$HOME" the home itself; other values must be full paths.
std::optional<std::string> ExpandHome(const std::string& value, const std::string& home) {
    if (value == "$HOME")
        return home;
    if (value.starts_with("$HOME/"))
        return home + value.substr(5);
    if (value.starts_with('/'))
        return value;
    return std::nullopt;
}

std::string FindInPath(std::string_view program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const std::size_t cut = folders.find(':');
        const std::string_view folder = folders.substr(0, cut);
        folders.remove_prefix(cut == std::string_view::npos ? folders.size() : cut + 1);
        if (folder.empty())
            continue;
        const std::string candidate = std::string(folder) + "/" + std::string(program);
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Starts the program in `folder` without waiting for it: a child starts it as a grandchild and
// ends at once, so nothing is left to reap when the program ends. Between fork and exec only
// calls that are safe there.
bool StartDetached(std::vector<std::string> arguments, const std::string& folder) {
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        setsid();
        if (fork() == 0) {
            if (chdir(folder.c_str()) == 0)
                execv(argv[0], argv.data());
            _exit(127);
        }
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct LanguageEntry {
    std::string_view locale;  // language_COUNTRY as the locale variables name it
    std::uint16_t id;
    std::u16string_view name;
    std::u16string_view country;   // abbreviated, as Windows gives it
    std::u16string_view language;  // abbreviated, as Windows gives it
};

// The languages of "ui.local" first, then the common others. For a name with a language alone
// ("de"), the first entry of that language serves.
constexpr LanguageEntry kLanguages[] = {
    {"en_US", 0x0409, u"English (United States)", u"USA", u"ENU"},
    {"zh_CN", 0x0804, u"Chinese (Simplified, PRC)", u"CHN", u"CHS"},
    {"zh_TW", 0x0404, u"Chinese (Traditional, Taiwan)", u"TWN", u"CHT"},
    {"zh_HK", 0x0C04, u"Chinese (Traditional, Hong Kong S.A.R.)", u"HKG", u"ZHH"},
    {"zh_SG", 0x1004, u"Chinese (Simplified, Singapore)", u"SGP", u"ZHI"},
    {"zh_MO", 0x1404, u"Chinese (Traditional, Macao S.A.R.)", u"MAC", u"ZHM"},
    {"en_GB", 0x0809, u"English (United Kingdom)", u"GBR", u"ENG"},
    {"en_AU", 0x0C09, u"English (Australia)", u"AUS", u"ENA"},
    {"en_CA", 0x1009, u"English (Canada)", u"CAN", u"ENC"},
    {"en_NZ", 0x1409, u"English (New Zealand)", u"NZL", u"ENZ"},
    {"en_IE", 0x1809, u"English (Ireland)", u"IRL", u"ENI"},
    {"de_DE", 0x0407, u"German (Germany)", u"DEU", u"DEU"},
    {"de_AT", 0x0C07, u"German (Austria)", u"AUT", u"DEA"},
    {"de_CH", 0x0807, u"German (Switzerland)", u"CHE", u"DES"},
    {"fr_FR", 0x040C, u"French (France)", u"FRA", u"FRA"},
    {"fr_BE", 0x080C, u"French (Belgium)", u"BEL", u"FRB"},
    {"fr_CA", 0x0C0C, u"French (Canada)", u"CAN", u"FRC"},
    {"fr_CH", 0x100C, u"French (Switzerland)", u"CHE", u"FRS"},
    {"es_ES", 0x0C0A, u"Spanish (Spain)", u"ESP", u"ESN"},
    {"es_MX", 0x080A, u"Spanish (Mexico)", u"MEX", u"ESM"},
    {"it_IT", 0x0410, u"Italian (Italy)", u"ITA", u"ITA"},
    {"ja_JP", 0x0411, u"Japanese (Japan)", u"JPN", u"JPN"},
    {"ko_KR", 0x0412, u"Korean (Korea)", u"KOR", u"KOR"},
    {"pt_BR", 0x0416, u"Portuguese (Brazil)", u"BRA", u"PTB"},
    {"pt_PT", 0x0816, u"Portuguese (Portugal)", u"PRT", u"PTG"},
    {"ru_RU", 0x0419, u"Russian (Russia)", u"RUS", u"RUS"},
    {"pl_PL", 0x0415, u"Polish (Poland)", u"POL", u"PLK"},
    {"nl_NL", 0x0413, u"Dutch (Netherlands)", u"NLD", u"NLD"},
    {"nl_BE", 0x0813, u"Dutch (Belgium)", u"BEL", u"NLB"},
    {"sv_SE", 0x041D, u"Swedish (Sweden)", u"SWE", u"SVE"},
    {"nb_NO", 0x0414, u"Norwegian, Bokm\u00e5l (Norway)", u"NOR", u"NOR"},
    {"da_DK", 0x0406, u"Danish (Denmark)", u"DNK", u"DAN"},
    {"fi_FI", 0x040B, u"Finnish (Finland)", u"FIN", u"FIN"},
    {"tr_TR", 0x041F, u"Turkish (Turkey)", u"TUR", u"TRK"},
    {"cs_CZ", 0x0405, u"Czech (Czech Republic)", u"CZE", u"CSY"},
    {"hu_HU", 0x040E, u"Hungarian (Hungary)", u"HUN", u"HUN"},
    {"el_GR", 0x0408, u"Greek (Greece)", u"GRC", u"ELL"},
    {"uk_UA", 0x0422, u"Ukrainian (Ukraine)", u"UKR", u"UKR"},
    {"ar_SA", 0x0401, u"Arabic (Saudi Arabia)", u"SAU", u"ARA"},
    {"he_IL", 0x040D, u"Hebrew (Israel)", u"ISR", u"HEB"},
    {"th_TH", 0x041E, u"Thai (Thailand)", u"THA", u"THA"},
    {"vi_VN", 0x042A, u"Vietnamese (Vietnam)", u"VNM", u"VIT"},
    {"id_ID", 0x0421, u"Indonesian (Indonesia)", u"IDN", u"IND"},
};

constexpr std::uint16_t kUsEnglish = 0x0409;

const LanguageEntry* EntryOf(std::uint32_t id) {
    const auto found = std::ranges::find(kLanguages, id, &LanguageEntry::id);
    return found == std::end(kLanguages) ? nullptr : &*found;
}

// Four hex digits, lower case, as Windows writes a language identifier.
std::u16string HexId(std::uint16_t id) {
    constexpr std::u16string_view kDigits = u"0123456789abcdef";
    std::u16string text;
    for (int shift = 12; shift >= 0; shift -= 4)
        text.push_back(kDigits[(id >> shift) & 0xF]);
    return text;
}

}  // namespace

std::string HomeFolder() {
    if (std::string home = FullPathVariable("HOME"); !home.empty())
        return home;
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return {};
    }
    return found->pw_dir;
}

std::string XdgConfigHome() {
    if (std::string config = FullPathVariable("XDG_CONFIG_HOME"); !config.empty())
        return WithoutTrailingSlashes(config);
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : WithoutTrailingSlashes(home) + "/.config";
}

std::u16string SettingsFilePath(const FileSystem& files, std::string config_home) {
    if (config_home.empty())
        config_home = XdgConfigHome();
    if (!config_home.empty()) {
        const std::u16string own = Utf16FromUtf8(config_home + "/korvanth417/config.ini");
        if (files.FileExists(own))
            return own;
    }
    return files.PathInFolder(files.DataFolder(), u"config.ini");
}

// --- clock -------------------------------------------------------------------------------

double LinuxClock::LocalDateTimeNow() const {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const time_t seconds = now.tv_sec;
    tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        local.tm_gmtoff = 0;
    const double local_seconds =
        static_cast<double>(seconds + local.tm_gmtoff) + static_cast<double>(now.tv_nsec) / 1e9;
    return local_seconds / kSecondsPerDay + kDaysFrom1899To1970;
}

// --- shell -------------------------------------------------------------------------------

LinuxShell::LinuxShell(std::string config_home, std::string home)
    : config_home_(config_home.empty() ? XdgConfigHome() : std::move(config_home)),
      home_(WithoutTrailingSlashes(home.empty() ? HomeFolder() : std::move(home))) {}

// The file is read as the shell would source it: the last assignment counts.
std::u16string LinuxShell::DocumentsFolder() const {
    if (home_.empty())
        return {};
    std::string folder = home_ + "/Documents";
    const FileRead read =
        config_home_.empty() ? FileRead{}
                             : ReadBoundedFile(config_home_ + "/user-dirs.dirs", kMaxUserDirsBytes);
    std::string_view text(reinterpret_cast<const char*>(read.bytes.data()), read.bytes.size());
    while (!text.empty()) {
        const std::size_t cut = text.find('\n');
        const std::optional<std::string> entry = DocumentsEntry(text.substr(0, cut));
        text.remove_prefix(cut == std::string_view::npos ? text.size() : cut + 1);
        if (const auto expanded = entry ? ExpandHome(*entry, home_) : std::nullopt)
            folder = *expanded;
    }
    return Utf16FromUtf8(WithoutTrailingSlashes(folder));
}

bool LinuxShell::OpenFile(std::u16string_view file, std::u16string_view folder) const {
    const std::optional<std::string> name = NativePath(file);
    const std::string working = NativePath(folder).value_or("/");
    if (!name)
        return false;
    const std::string path = name->starts_with('/') ? *name : working + "/" + *name;
    if (IsExecutableFile(path))
        return StartDetached({path}, working);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return false;  // nothing there to open
    const std::string opener = FindInPath("xdg-open");
    return !opener.empty() && StartDetached({opener, path}, working);
}

// --- trace lines -------------------------------------------------------------------------

// A line break inside a trace would start a second line: it becomes a blank.
void LinuxDebugOutput::Trace(std::u16string_view line) const {
    std::string text = Utf8FromUtf16(line);
    std::ranges::replace(text, '\n', ' ');
    std::ranges::replace(text, '\r', ' ');
    text.push_back('\n');
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t written = write(fd_, rest.data(), rest.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

// --- language ----------------------------------------------------------------------------

LinuxLocale::LinuxLocale(std::string locale_name)
    : language_(LanguageIdOf(locale_name.empty() ? LocaleNameFromEnvironment() : locale_name)) {}

std::string LinuxLocale::LocaleNameFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0')
            return value;
    }
    return "C";
}

// "language[_COUNTRY][.codeset][@modifier]": the codeset and modifier do not change the language.
std::uint16_t LinuxLocale::LanguageIdOf(std::string_view locale_name) {
    const std::string_view name = locale_name.substr(0, locale_name.find_first_of(".@"));
    const std::string_view language = name.substr(0, name.find('_'));
    if (language.empty())
        return kUsEnglish;
    const LanguageEntry* same_language = nullptr;
    for (const LanguageEntry& entry : kLanguages) {
        if (entry.locale == name)
            return entry.id;
        if (same_language == nullptr && entry.locale.substr(0, entry.locale.find('_')) == language)
            same_language = &entry;
    }
    return same_language != nullptr ? same_language->id : kUsEnglish;
}

std::u16string LinuxLocale::DecodeSystemText(std::string_view bytes) const {
    return Utf16FromUtf8(bytes);
}

std::vector<std::uint32_t> LinuxLocale::SupportedLocaleIds() const {
    std::vector<std::uint32_t> ids;
    for (const LanguageEntry& entry : kLanguages)
        ids.push_back(entry.id);
    return ids;
}

std::optional<std::u16string> LinuxLocale::LocaleInfo(std::uint32_t locale_id,
                                                      LocaleItem item) const {
    const LanguageEntry* entry = EntryOf(locale_id);
    if (entry == nullptr)
        return std::nullopt;
    switch (item) {
        case LocaleItem::kLanguageId:
            return HexId(entry->id);
        case LocaleItem::kLanguageName:
            return std::u16string(entry->name);
        case LocaleItem::kAbbreviatedCountryName:
            return std::u16string(entry->country);
        case LocaleItem::kAbbreviatedLanguageName:
            return std::u16string(entry->language);
    }
    return std::nullopt;
}

}  // namespace korv::os_linux
