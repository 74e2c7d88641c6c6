#pragma once
// The suite's installation-wide settings file "config.ini" beside the executable: where the
// profile data lives, which HID interfaces may be opened and a few settings kept for the suite.
// Read once at start-up; a missing or unreadable file gives every default.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ini_file.h"
#include "profile/dm_unit.h"
#include "profile/options.h"

namespace korv {

class FileSystem;
class Locale;

inline constexpr std::u16string_view kSettingsFileName = u"config.ini";
// The include list is read from id1 up to this key at most.
inline constexpr int kMaxIncludeListKeys = 101;

class SettingsFile {
  public:
    explicit SettingsFile(IniFile ini) : ini_(std::move(ini)) {}

    // Reads "config.ini" from the executable's folder.
    static SettingsFile Load(const FileSystem& files, const Locale& locale);

    // Section "options".
    TOptionsFromConfigFile ReadOptions() const;
    // Sections "OtherConfig" and "HelpFiles"; the fields without a key stay 0.
    TOtherConfig ReadOtherConfig() const;
    // Section "IncludeHIDDeviceList": the hardware identifiers of the HID interfaces that may
    // be opened; empty means any interface with the right usage page and usage.
    std::vector<std::u16string> ReadIncludeList() const;

  private:
    IniFile ini_;
};

// Reads "config.ini" beside the executable and creates the data module with its settings.
std::unique_ptr<TDM> LoadDataModule(const DataModulePorts& ports);

// An integer as the settings file writes it: decimal with an optional sign, or hexadecimal
// after "0x" or "0X" (up to 32 bits). Nothing when the text is not such a number.
std::optional<std::int32_t> ParseSettingsInteger(std::u16string_view text);

}  // namespace korv
