#pragma once
// Small Linux backends: the clock, the shell (documents folder, opening a file), the trace
// lines on standard error, the language from the locale variables, and where the XDG folders and
// "config.ini" are.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/clock.h"
#include "ports/debug_output.h"
#include "ports/file_system.h"
#include "ports/locale.h"
#include "ports/shell.h"

namespace korv::os_linux {

// The user's home folder: $HOME when it is a full path, else the password database's; empty
// when neither says. Any thread.
std::string HomeFolder();
// $XDG_CONFIG_HOME when it is a full path, else `<home>/.config`; empty without a home. Any
// thread.
std::string XdgConfigHome();

// The settings file to read: the user's own `<config home>/korvanth417/config.ini` when it
// exists, else the installed one in the data folder. `config_home` empty: XdgConfigHome().
std::u16string SettingsFilePath(const FileSystem& files, std::string config_home = {});

// Threads: any thread; no state.
class LinuxClock : public Clock {
  public:
    double LocalDateTimeNow() const override;
};

// Threads: the main thread.
class LinuxShell : public Shell {
  public:
    // Both empty: XdgConfigHome() and HomeFolder().
    explicit LinuxShell(std::string config_home = {}, std::string home = {});

    // XDG_DOCUMENTS_DIR of `<config home>/user-dirs.dirs` ("$HOME/..." or a full path), else
    // `<home>/Documents`; empty without a home.
    std::u16string DocumentsFolder() const override;
    // An executable `folder/file` is started with `folder` as its working folder; anything else
    // is handed to xdg-open. Neither waits for the program; false when there is nothing to
    // start it with.
    [[nodiscard]] bool OpenFile(std::u16string_view file,
                                std::u16string_view folder) const override;

  private:
    std::string config_home_;
    std::string home_;
};

// One line per trace, UTF-8, each written by one write call so lines of several threads never
// mix. Threads: any thread.
class LinuxDebugOutput : public DebugOutput {
  public:
    // The descriptor stays the caller's; standard error unless a test gives another.
    explicit LinuxDebugOutput(int fd = 2) : fd_(fd) {}
    void Trace(std::u16string_view line) const override;

  private:
    int fd_;
};

// The language of the locale variables (LC_ALL, LC_MESSAGES, LANG: the first that is set and not
// empty) as the Windows language identifiers the stored records use. The table holds the
// languages of "ui.local" and the common others; a language it lacks, "C" and "POSIX" are US
// English (0x0409). Threads: the main thread.
class LinuxLocale : public Locale {
  public:
    // `locale_name` as the variables give it ("zh_TW.UTF-8"); empty: from the environment.
    explicit LinuxLocale(std::string locale_name = {});

    std::u16string DecodeSystemText(std::string_view bytes) const override;
    std::uint16_t SystemDefaultLanguageId() const override { return language_; }
    // The table's identifiers in its order.
    std::vector<std::uint32_t> SupportedLocaleIds() const override;
    std::uint32_t UserDefaultLocaleId() const override { return language_; }
    [[nodiscard]] std::optional<std::u16string> LocaleInfo(std::uint32_t locale_id,
                                                           LocaleItem item) const override;

    // The identifier of a locale name: "en_US", "zh_CN.UTF-8", "de_AT@euro", "pt"; 0x0409 for
    // names the table lacks.
    static std::uint16_t LanguageIdOf(std::string_view locale_name);
    // LC_ALL, LC_MESSAGES, LANG: the first set and not empty; "C" when none is.
    static std::string LocaleNameFromEnvironment();

  private:
    std::uint16_t language_;
};

}  // namespace korv::os_linux
