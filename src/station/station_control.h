// StationControl: the operator's commands to a running station from another
// thread (the window's UI thread): stop every port, as Ctrl-C does, or stop
// one port. The station waits on the control's wake-up beside its children
// and the interrupt watcher, so that a command is acted on at once, without
// polling.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "station/station_wake.h"

class StationControl {
public:
    // False when the wake-up could not be made: the station then refuses to
    // start, as commands would go unnoticed.
    bool Ready() const { return m_wake.Ready(); }

    // From any thread. Stop every port: cancel each run, give each port
    // back, then the summary; the station ends as after Ctrl-C.
    void StopAll();
    // From any thread. Cancel the run of port index (its port is given
    // back) and start no further run there; the other ports go on.
    void StopPort(std::size_t index);

    // What was asked since the last Take, for the station's thread.
    struct Requests {
        bool m_bStopAll = false;
        std::vector<std::size_t> m_ports;  // ports to stop, in the order asked
    };
    Requests Take();

    // Set while a request is pending, for the station's wait.
    const StationWake& Wake() const { return m_wake; }

private:
    std::mutex m_mutex;
    Requests m_pending;
    StationWake m_wake;
};
