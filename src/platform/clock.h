// Calendar time with one-second resolution, as the 'Q' wait uses it.
// Tests install a clock of their own so that a five-second wait does not
// take five seconds.
#pragma once

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Whole seconds since some fixed origin.
    virtual std::int64_t NowSeconds() = 0;
};

// The clock in use: the system's calendar clock unless a test installed one.
Clock& GetClock();

// Installs clock (not owned; nullptr restores the system clock) and returns
// the one it replaces.
Clock* SetClock(Clock* clock);
