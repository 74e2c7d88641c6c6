#pragma once
// The microphone mute switch on Windows: the default capture endpoint through Core Audio on
// Windows Vista and later, the microphone line of mixer 0 on older systems.

#include <functional>
#include <optional>
#include <string>

#include "base/thread_affinity.h"
#include "platform/win32/com_ptr.h"
#include "ports/microphone.h"

struct IAudioEndpointVolume;
struct IMMDevice;
struct IMMDeviceEnumerator;

namespace korv {
class DebugOutput;
}

namespace korv::win32 {

// Threads: belongs to the thread that creates it (the monitor's main thread), which also
// initialises COM for it on first use; debug builds stop at a call from another thread.
class Win32Microphone : public Microphone {
  public:
    // `title` gives the caption of the mixer path's message boxes (the application title).
    Win32Microphone(const DebugOutput& debug, std::function<std::u16string()> title);
    ~Win32Microphone() override;
    Win32Microphone(const Win32Microphone&) = delete;
    Win32Microphone& operator=(const Win32Microphone&) = delete;

    // MicrophoneMute: each toggle acts on the default capture device of that moment.
    void ToggleMute() override;
    // On Core Audio systems, binds the default capture endpoint so the first press finds it.
    void Prepare() override {
        if (UseCoreAudio())
            InitEndpointVolume();
    }

    // Binds to the current default capture endpoint; the monitor calls it once at start on
    // Core Audio systems so that the first press finds everything ready.
    void InitEndpointVolume();

    // The mute state as the bound endpoint reports it; nothing when none is bound.
    std::optional<bool> EndpointMuted() const;
    // The default microphone's state on Core Audio systems (its endpoint bound first); nothing on
    // the mixer path.
    [[nodiscard]] std::optional<bool> Muted() override;

    // NT family, major version 6 or later.
    static bool UseCoreAudio();

    // The legacy mixer path: the mute switch of a line of mixer 0 (line type 1 = microphone).
    // Nothing when the mixer, the line or its mute control is missing or cannot be read.
    [[nodiscard]] std::optional<bool> GetMixerMute(std::uint8_t line_type) const;
    void SetMixerMute(std::uint8_t line_type, std::uint8_t value) const;

  private:
    [[nodiscard]] bool BindDefaultCaptureEndpoint();
    void ReleaseEndpoint();
    void ShowMessage(const wchar_t* text) const;

    const DebugOutput& debug_;
    std::function<std::u16string()> title_;
    ThreadAffinity owner_;
    // Declared before the interfaces so that they are released while COM is still initialised.
    std::optional<ComApartment> apartment_;
    ComPtr<IMMDeviceEnumerator> FMMDevEnum;
    ComPtr<IMMDevice> FMMDev;
    ComPtr<IAudioEndpointVolume> FEndpoint;
    std::u16string device_id_;
    std::u16string device_name_;
};

}  // namespace korv::win32
