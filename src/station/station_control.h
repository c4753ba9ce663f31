// StationControl: the operator's commands to a running station from another
// thread (the window's UI thread): stop every port, as Ctrl-C does, or stop
// one port. A command wakes the station's wait on its children, as a signal
// does, so that it is acted on at once, without polling.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

class StationControl {
public:
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

private:
    std::mutex m_mutex;
    Requests m_pending;
};
