#pragma once
// The control identifiers of the stand-in's configuration window, for whoever drives it by
// messages (its tests): each edit control sends WM_COMMAND with its identifier, as a click does.

namespace korv::win32 {

inline constexpr int kGroupControl = 101;            // combo box: current profile group 0-1
inline constexpr int kProfileControl = 102;          // combo box: current profile 0-4
inline constexpr int kLanguageControl = 103;         // combo box: interface language by index
inline constexpr int kMicrophoneStateControl = 104;  // check box: ShowMicrophoneState
inline constexpr int kEditedProfileControl = 105;    // combo box: the profile whose buttons show
inline constexpr int kLogControl = 106;              // read-only edit: the log pane
inline constexpr int kFirstButtonControl = 110;      // combo boxes of buttons 0-11: function code

}  // namespace korv::win32
