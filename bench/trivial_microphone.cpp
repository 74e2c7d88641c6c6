// The second yardstick for the monitor's start-up figures: the trivial hidden-window program that
// also binds the default microphone's volume the way the monitor does at start (COM, the default
// capture endpoint, its IAudioEndpointVolume), through the monitor's own microphone backend. Its
// working set is the floor for a program that can toggle the microphone at once.

#include <windows.h>

#include "bench/hidden_window.h"
#include "platform/win32/win32_microphone.h"
#include "ports/debug_output.h"

namespace {

// The microphone traces only when it toggles, which this program never does. Its own class
// keeps the object file of the Windows debug output, and with it the shell's DLLs that the
// same file imports, out of the program.
class NoTrace : public korv::DebugOutput {
  public:
    void Trace(std::u16string_view) const override {}
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    korv::bench::CreateHiddenWindow(instance, L"KorvTrivialMicrophone");
    // As the monitor does after its window exists: bind the endpoint, then read its state.
    const NoTrace debug;
    korv::win32::Win32Microphone microphone(debug, [] { return std::u16string(); });
    microphone.Prepare();
    static_cast<void>(microphone.EndpointMuted());
    return korv::bench::RunUntilClosed();
}
