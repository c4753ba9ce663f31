// The production-line station: one download per port at the same time,
// each in a child process of its own (the program run again for that port),
// unit after unit with --repeat, with a live view, a summary and a record.
//
// The station reads each child's events (events/event_reader.h) and waits on
// all of them at once. Ctrl-C, SIGTERM and SIGHUP are forwarded to every
// child as the same signal (each cancels cleanly and gives its port back);
// children that have not ended within kCancelBound after that are killed and
// reported. A second signal ends the station at once and is passed on to the
// children as well, each of which then ends at once too, after giving its
// port back. One that came while the station was setting up (the program
// holds them from its start) cancels before any port starts; one that was
// ignored when the station started (a background job's SIGINT, nohup's
// SIGHUP) stays ignored. A station that is killed takes its children with
// it: each gets SIGHUP (see station_child.h) and cancels.
//
// Time limits: a child that has written no event for --timeout plus
// kSilenceGrace (without --timeout: for kStallLimit once its receiver has
// answered; no limit while it waits for one) is hung or stopped. The station
// ends it (SIGTERM and SIGCONT, then SIGKILL after kEndGrace), and the unit
// fails with "no event for N s: ended by the station".
//
// A run that ends without reporting its end (killed, crashed, or ended by
// the station) failed: its unit's line is filled from the events it wrote
// (files, bytes sent) with the station's own time, the station puts its
// port's settings back as they were before the child started (PortKeeper),
// and writes its "end" event itself, marked "by":"station", so that every
// run has exactly one "end" in the events file.
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
// The record and the events file are opened and tried before any port
// starts (station_output.h); one that does not take a line is refused.
// Later, each line is written whole or not at all (a full disk): a unit
// whose record line could not be written is named on stderr and in the
// summary, with why; after an events line that could not be written, the
// events stop there, which is reported the same way.
//
// Exit status: 0 when every port loaded every unit successfully and every
// line of the record and the events was written; 1 when a unit failed on
// any port (or a port loaded none), or a line could not be written; 2 when
// the station cannot start (the record or events file cannot be opened or
// does not take a line, or Ctrl-C cannot be watched for); 128 + N after
// signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP), as the single-port mode.
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
constexpr std::chrono::seconds kSilenceGrace{10};
constexpr std::chrono::seconds kStallLimit{120};
constexpr std::chrono::seconds kEndGrace{5};

// Runs the station, showing it on out (live when out is a terminal) and its
// own troubles on err. Returns the exit status above.
int RunStation(const StationOptions& options, std::FILE* out, std::FILE* err);
