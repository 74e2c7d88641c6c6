#pragma once
// Port: the system's microphone mute switch.

namespace korv {

class Microphone {
  public:
    virtual ~Microphone() = default;

    // Flips the mute state of the default microphone; failures are silent.
    virtual void ToggleMute() = 0;
};

}  // namespace korv
