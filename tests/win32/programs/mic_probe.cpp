// Probe for the legacy mixer path: run under Windows XP mode, it toggles the microphone twice
// through the mixer and ends. Exit code 0: the legacy path ran and the line state stayed; 1: the
// platform version chose Core Audio; 2: the state changed.

#include <windows.h>

#include <optional>

#include "platform/fake/fake_system.h"
#include "platform/win32/win32_microphone.h"

int main() {
    using korv::win32::Win32Microphone;
    if (Win32Microphone::UseCoreAudio())
        return 1;
    korv::fake::RecordingDebugOutput debug;
    Win32Microphone microphone(debug, [] { return u"GAMING MOUSE MONITOR"; });
    const std::optional<bool> before = microphone.GetMixerMute(1);
    microphone.ToggleMute();
    return microphone.GetMixerMute(1) == before ? 0 : 2;
}
