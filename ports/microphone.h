#pragma once
// Port: the system's microphone mute switch.
//
// Threads: the main thread, which owns the audio objects; implementations may check it.

namespace korv {

class Microphone {
  public:
    virtual ~Microphone() = default;

    // Sets up what the first toggle needs, where the platform has something to set up; silent.
    virtual void Prepare() = 0;

    // Flips the mute state of the default microphone; failures are silent.
    virtual void ToggleMute() = 0;
};

}  // namespace korv
