// The microphone mute toggle on Wine's Core Audio (with the test run's PulseAudio null
// microphone) and on the legacy mixer path under Windows XP mode.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_system.h"
#include "platform/win32/wide_string.h"
#include "platform/win32/win32_microphone.h"
#include "tests/win32/win32_test_support.h"

namespace korv::win32 {
namespace {

TEST(Win32Microphone, EachToggleFlipsTheDefaultMicrophoneAndSaysSo) {
    ASSERT_TRUE(Win32Microphone::UseCoreAudio());
    fake::RecordingDebugOutput debug;
    Win32Microphone microphone(debug, [] { return u"GAMING MOUSE MONITOR"; });
    microphone.InitEndpointVolume();
    const std::optional<bool> before = microphone.EndpointMuted();
    ASSERT_TRUE(before.has_value()) << "no default capture endpoint: is PulseAudio running?";

    microphone.ToggleMute();
    EXPECT_EQ(microphone.EndpointMuted(), !*before);
    microphone.ToggleMute();
    EXPECT_EQ(microphone.EndpointMuted(), *before);

    ASSERT_EQ(debug.lines.size(), 2u);
    const std::u16string first = *before ? u"unmuted" : u"muted";
    EXPECT_NE(debug.lines[0].find(u"Microphone \""), std::u16string::npos);
    EXPECT_EQ(debug.lines[0].substr(debug.lines[0].size() - first.size()), first);
}

TEST(Win32Microphone, AMicrophoneFoundAtThePressWhenNoneWasBoundBefore) {
    fake::RecordingDebugOutput debug;
    Win32Microphone microphone(debug, {});
    EXPECT_FALSE(microphone.EndpointMuted().has_value());  // nothing bound yet
    microphone.ToggleMute();
    EXPECT_TRUE(microphone.EndpointMuted().has_value());
    microphone.ToggleMute();  // leave the shared microphone as it was
    EXPECT_EQ(debug.lines.size(), 2u);
}

// Runs the probe program under Windows XP mode: the legacy mixer path, where Wine's mixer 0 has
// no microphone line. A message box would keep the probe from ending.
TEST(Win32Microphone, LegacyMixerPathWithoutAMicrophoneLineShowsNothing) {
    const wchar_t* key = L"Software\\Wine\\AppDefaults\\mic_probe.exe";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Version", REG_SZ, L"winxp", 12),
              ERROR_SUCCESS);
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring probe(module);
    probe = probe.substr(0, probe.find_last_of(L'\\') + 1) + L"mic_probe.exe";

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_EQ(test::StartProcess(L"\"" + probe + L"\"", FALSE, nullptr, startup, process), 0u);
    const DWORD waited = WaitForSingleObject(process.hProcess, 20000);
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the probe did not end: a message box is open";
    EXPECT_EQ(exit_code, 0u) << "1: Core Audio chosen under XP mode; 2: the mute state changed";
}

}  // namespace
}  // namespace korv::win32
