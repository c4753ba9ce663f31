// Monotonic time with one-second resolution, as the 'Q' wait uses it: a
// step of the calendar clock (a time sync, the operator setting the date)
// neither stretches nor cuts the wait. Tests install a clock of their own so
// that a five-second wait does not take five seconds.
#pragma once

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Whole seconds since some fixed origin; never goes back.
    virtual std::int64_t NowSeconds() = 0;
};

// The clock in use: the system's monotonic clock (CLOCK_MONOTONIC) unless a
// test installed one.
Clock& GetClock();

// Installs clock (not owned; nullptr restores the system clock) and returns
// the one it replaces.
Clock* SetClock(Clock* clock);
