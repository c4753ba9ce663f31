// The station in a window: the entry for the program's main(). Defined in
// station/wx only where the program is built with the GUI (RD_WITH_GUI).
//
// The window chooses a station's script (showing its check), ports, record,
// units and time limit, then runs the station: the same engine, children,
// record and exit status as the terminal's (station.h), shown as one tile
// per port, with the ports' messages and the summary at the end.
#pragma once

#include <functional>
#include <string>

#include "station/station.h"

struct StationWindowOptions {
    // What the command line gave, to fill the window's choices with
    // (ports, script, --repeat, --units, --timeout, --record), and what the
    // station runs as is (the program run per port, --events).
    StationOptions m_station;
    // Start the station with those at once (--start), without waiting for
    // the Start button.
    bool m_bStartAtOnce = false;
    // Take the last choices (ports, script, record, units, time limit) as
    // the ones to offer, and keep those made for next time.
    bool m_bRemember = true;
    // Why the station may not write its output files: they name one of its
    // inputs or each other (see app/output_guard.h). "" when they may.
    std::function<std::string(const StationOptions&)> m_checkOutputs;
    // argv[0], for the toolkit.
    std::string m_strProgramName;
};

// Opens the window and runs until it is closed. Returns the station's exit
// status (station.h) when a station ran; 130 when the window was closed
// before one was started; 1 when the display cannot be opened.
int RunStationWindow(const StationWindowOptions& options);
