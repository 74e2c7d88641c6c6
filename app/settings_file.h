#pragma once
// The suite's installation-wide settings file "config.ini" beside the executable: where the
// profile data lives, which HID interfaces may be opened and a few settings kept for the suite.
// Read at start-up; a missing, unreadable or oversized file gives every default.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ini_file.h"
#include "ports/hid_interfaces.h"
#include "profile/dm_unit.h"
#include "profile/options.h"

namespace korv {

class DebugOutput;
class FileSystem;
class Locale;

inline constexpr std::u16string_view kSettingsFileName = u"config.ini";
// The largest settings file that is read: a few sections of short values take a few kilobytes,
// and the reader keeps no value above 2047 characters; a larger file is left unread.
inline constexpr std::uint64_t kMaxSettingsFileSize = 1024 * 1024;
// The include list is read from id1 up to this key at most.
inline constexpr int kMaxIncludeListKeys = 101;
// Simulated interfaces are read from sim1 up to this key at most.
inline constexpr int kMaxSimulatedInterfaceKeys = 16;
inline constexpr std::u16string_view kSimulatedInterfaceSection = u"SimulatedHIDDeviceList";

// An interface that a program serves over a message pipe, declared in the settings file so that
// a simulated mouse can stand in for the hardware: the pipe's name, the hardware identifier the
// walk lists for it and the capabilities it reports. The platform's backend serves it as a HID
// device class of its own.
struct SimulatedHidInterface {
    std::u16string pipe_name;
    std::u16string hardware_id;
    HidCapabilities capabilities;
    bool operator==(const SimulatedHidInterface&) const = default;
};

// The simulated interfaces the settings file declares, and the entries it could not use.
struct SimulatedInterfaceList {
    std::vector<SimulatedHidInterface> interfaces;
    std::vector<std::u16string> rejected;  // "simN=VALUE" of each entry that is not one
};

// Threads: reads through the file-system port it is given; one thread at a time (the main thread
// in the monitor, which reads the file at start and on each reload).
class SettingsFile {
  public:
    explicit SettingsFile(IniFile ini) : ini_(std::move(ini)) {}

    // Reads "config.ini" from the program's data folder. A file that is there but cannot be used
    // (unreadable, or above kMaxSettingsFileSize) gives every default and, with `debug`, one
    // trace line; the data module's start-up reads it first and says so, later readers are quiet.
    static SettingsFile Load(const FileSystem& files, const Locale& locale);
    static SettingsFile Load(const FileSystem& files, const Locale& locale,
                             const DebugOutput& debug);
    // The same for a settings file at `path`, where the platform keeps a user's own copy apart
    // from the installed one.
    static SettingsFile LoadFile(std::u16string_view path, const FileSystem& files,
                                 const Locale& locale, const DebugOutput& debug);
    // The installed "config.ini": in the program's data folder.
    static std::u16string InstalledPath(const FileSystem& files);

    // Section "options".
    TOptionsFromConfigFile ReadOptions() const;
    // Sections "OtherConfig" and "HelpFiles"; the fields without a key stay 0.
    TOtherConfig ReadOtherConfig() const;
    // Section "OtherConfig", key "WriteLogFile": whether the monitor keeps its log file. On
    // unless the key is 0; a value that is not a number leaves it on.
    bool WritesLogFile() const;
    // Section "IncludeHIDDeviceList": the hardware identifiers of the HID interfaces that may
    // be opened; empty means any interface with the right usage page and usage.
    std::vector<std::u16string> ReadIncludeList() const;
    // Section "SimulatedHIDDeviceList": interfaces served over message pipes by a simulated
    // mouse, keys sim1, sim2, ... until the first missing one.
    SimulatedInterfaceList ReadSimulatedInterfaces() const;
    // The same, with one trace line for each entry that is not an interface and is skipped.
    std::vector<SimulatedHidInterface> ReadSimulatedInterfaces(const DebugOutput& debug) const;

  private:
    // The settings read, and the trace line of a file that could not be used (else empty).
    struct Outcome;
    static Outcome Read(const FileSystem& files, const Locale& locale, const std::u16string& path);

    IniFile ini_;
};

struct SettingsFile::Outcome {
    SettingsFile settings;
    std::u16string problem;
};

// Creates the data module with the settings read at start (a program reads "config.ini" once).
std::unique_ptr<TDM> LoadDataModule(const DataModulePorts& ports, const SettingsFile& settings);
// Reads "config.ini" beside the executable and creates the data module with its settings.
std::unique_ptr<TDM> LoadDataModule(const DataModulePorts& ports);

// One simulated interface as the settings file declares it:
// "PIPE, HARDWARE-ID, USAGE-PAGE, USAGE, INPUT-LENGTH, OUTPUT-LENGTH, FEATURE-LENGTH", numbers
// as ParseSettingsInteger reads them, 0 to 65535. Nothing when the value is not that, when the
// pipe name is empty or holds a path separator, or when the interface has no input reports.
std::optional<SimulatedHidInterface> ParseSimulatedInterface(std::u16string_view value);

// An integer as the settings file writes it: decimal with an optional sign, or hexadecimal
// after "0x" or "0X" (up to 32 bits). Nothing when the text is not such a number.
std::optional<std::int32_t> ParseSettingsInteger(std::u16string_view text);

}  // namespace korv
