#pragma once
// The microphone-state icon setting (ShowMicrophoneState in section OtherConfig of
// "config.ini"): whether the tray icon shows the muted picture while the microphone is muted.
// The window of the stand-in reads it and changes that one line of the file, keeping every other
// line, comment and line end as they were.
//
// Threads: any one thread at a time; the file system port is the only state.

#include <optional>
#include <string>
#include <string_view>

namespace korv {

class FileSystem;
class Locale;

// The text of a settings file (bytes of an ASCII-compatible encoding) with `key` of `section`
// set to `value`: the key's line replaced where the section has it, else added as the section's
// first line, else the section added at the end; every line ends afterwards. Names match
// without regard to ASCII case.
// Nothing for a text in UTF-16, which this edit does not write.
[[nodiscard]] std::optional<std::string> WithSettingsValue(std::string_view text,
                                                           std::string_view section,
                                                           std::string_view key,
                                                           std::string_view value);

// The setting in the settings file at `path`; nothing when the file cannot be read.
[[nodiscard]] std::optional<bool> ReadMicrophoneStateShown(std::u16string_view path,
                                                           const FileSystem& files,
                                                           const Locale& locale);

// Writes the setting into the file at `path` (created when missing); what was done, or why
// not, for the user. The monitor reads the file at its start: the change shows from then.
std::u16string WriteMicrophoneStateShown(std::u16string_view path, const FileSystem& files,
                                         bool shown);

}  // namespace korv
