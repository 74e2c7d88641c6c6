#pragma once
// Port: the system's microphone mute switch.
//
// Threads: the main thread, which owns the audio objects; implementations may check it.

#include <optional>

namespace korv {

class Microphone {
  public:
    virtual ~Microphone() = default;

    // Sets up what the first toggle needs, where the platform has something to set up; silent.
    virtual void Prepare() = 0;

    // Flips the mute state of the default microphone; failures are silent.
    virtual void ToggleMute() = 0;

    // Whether the default microphone is muted now; nothing when the platform cannot tell (no
    // microphone, or a platform without a readable state).
    [[nodiscard]] virtual std::optional<bool> Muted() { return std::nullopt; }
};

}  // namespace korv
