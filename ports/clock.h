#pragma once
// Port: the platform's clock.
//
// Threads: any thread; implementations keep no state.

namespace korv {

class Clock {
  public:
    virtual ~Clock() = default;

    // The local date and time as a TDateTime: days since 1899-12-30 00:00, the fraction being the
    // time of day.
    virtual double LocalDateTimeNow() const = 0;
};

}  // namespace korv
