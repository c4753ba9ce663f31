// StationView: what the station shows of its run, as it goes. The station
// engine (station.h) tells its view every change it makes to a port, each
// unit's end, its own notes and troubles, the summary and the run's end;
// the terminal's live table (station_display.h) and the station's window
// (station/wx) are two views of the same engine.
//
// Every call comes on the thread that runs the engine, in the order things
// happened. A view that draws on another thread (the window's UI thread)
// copies what it needs from the arguments and hands the copy over; it never
// blocks the engine, and never reads the ports from its own thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "events/event_reader.h"
#include "station/station_display.h"
#include "station/station_port.h"

class StationView {
public:
    virtual ~StationView() = default;

    // The first call: the station's ports, in the order given. They stay
    // where they are until RunEnded, and each later call may read them
    // (on the engine's thread) as they are then.
    virtual void RunBegins(const std::vector<StationPort>& ports) = 0;
    // Port index began a run: a child now loads its next unit, or waits for
    // the unit's power-on.
    virtual void RunStarted(std::size_t index) = 0;
    // Port index took event from its run, and has applied it already.
    // worthPlainLine: the port changed in a way a plain (non-live) listing
    // reports (a new phase, a further tenth of the file).
    virtual void PortChanged(std::size_t index, const StationEvent& event, bool worthPlainLine) = 0;
    // A unit of port index ended with outcome, counted as a unit of the port
    // when counted is true (the port's counts include it then). goesOn: a
    // further run follows on the port (RunStarted comes next).
    virtual void UnitEnded(std::size_t index, const UnitOutcome& outcome, bool counted, bool goesOn) = 0;
    // A line of the station's own: the cancel, a run it ended.
    virtual void Note(const std::string& text) = 0;
    // What the operator must know went wrong: the record or the events file
    // could not be opened or written, Ctrl-C cannot be watched for.
    virtual void Trouble(const std::string& text) = 0;
    // Every run has ended (not called when the station could not start);
    // losses: the record's and the events' lines that could not be written.
    virtual void Summary(const StationLosses& losses) = 0;
    // The last call: the station's exit status (station.h).
    virtual void RunEnded(int exitStatus) = 0;
};
