// The production-line station: one download per port at the same time,
// each in a child process of its own (the program run again for that port),
// unit after unit with --repeat, with a live view, a summary and a record.
//
// The station reads each child's events (see station_event.h) and waits on
// all of them at once; it has no port of its own. Ctrl-C, SIGTERM and SIGHUP
// are forwarded to every child as the same signal (each cancels cleanly and
// gives its port back); children that have not ended within kCancelBound
// after that are killed and reported. A second signal ends the station at
// once and is passed on to the children as well, each of which then ends at
// once too, after giving its port back.
//
// Units: without --repeat each port runs once, and that run is its unit.
// With --repeat a port is run again after each unit, so that it waits for
// the next receiver's power-on; a run that only waited (the connection wait
// timed out, or was cancelled) is no unit. A port stops when its --units
// are done, when a run failed before it could wait for a receiver (the port
// cannot be opened, the script is refused: running again would fail the same
// way), or when a run ended without reporting its result.
//
// With an events file, every event line of every run is copied to it whole,
// as it is read (each carries its "port"), so that a program driving the
// station sees the runs of all ports in one stream.
//
// Exit status: 0 when every port loaded every unit successfully; 1 when a
// unit failed on any port (or a port loaded none); 2 when the station cannot
// start (the record or events file cannot be opened); 128 + N after signal N (130
// Ctrl-C, 143 SIGTERM, 129 SIGHUP), as the single-port mode.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

struct StationOptions {
    std::vector<std::string> m_ports;  // as given
    std::string m_strScript;
    int m_nTimeoutSeconds = 0;         // passed on to every run (--timeout)
    bool m_bRepeat = false;
    int m_nUnits = 0;                  // with m_bRepeat: units per port, 0 = until a cancel
    std::string m_strRecordFile;       // "" for none
    std::string m_strEventsFile;       // every port's events, as they come ("-": stdout; "" for none)
    std::string m_strProgram;          // this program, run once per port and unit
};

constexpr std::chrono::seconds kCancelBound{20};

// Runs the station, showing it on out (live when out is a terminal) and its
// own troubles on err. Returns the exit status above.
int RunStation(const StationOptions& options, std::FILE* out, std::FILE* err);
