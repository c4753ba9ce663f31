// StationWake: a wake-up the station's wait watches beside its children:
// set from any thread, cleared by the station's thread once it has looked.
// An eventfd on Linux, a manual-reset event object on Windows.
#pragma once

class StationWake {
public:
    StationWake();
    ~StationWake();
    StationWake(const StationWake&) = delete;
    StationWake& operator=(const StationWake&) = delete;

    // False when the system could not make one.
    bool Ready() const;
    // From any thread: the wait returns (now, or at once when it next waits).
    void Set();
    // Until the next Set, the wake-up no longer ends a wait.
    void Clear();
    // What the wait watches: the eventfd, or the event's HANDLE as an integer.
    long long Handle() const { return m_nHandle; }

private:
    long long m_nHandle = -1;
};
