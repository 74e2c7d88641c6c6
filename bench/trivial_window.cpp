// The yardstick for the monitor's start-up figures: a program that only creates a hidden
// top-level window of its own class and runs a message loop until it is closed.

#include <windows.h>

#include "bench/hidden_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    korv::bench::CreateHiddenWindow(instance, L"KorvTrivialWindow");
    return korv::bench::RunUntilClosed();
}
