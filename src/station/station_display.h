// StationDisplay: the station's view of its ports on one stream.
//
// On a terminal, one line per port (port, phase, percent, rate, time left,
// result), redrawn in place with ANSI cursor movement; elsewhere (a pipe, a
// file) a plain line each time a port changes phase, passes another tenth of
// a file or ends a unit. Then the summary table.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "station/station_port.h"

class StationDisplay {
public:
    // ports must outlive the display and keep their order.
    StationDisplay(std::FILE* out, bool live, const std::vector<StationPort>& ports);

    // Port index changed; worthPlainLine: a plain display shows the change.
    void Update(std::size_t index, bool worthPlainLine);
    // A unit of port index ended (and counted when counted is true).
    void UnitEnded(std::size_t index, const UnitOutcome& outcome, bool counted);
    // A line of the station's own (the cancel, a kill).
    void Note(const std::string& text);
    // Ends the live lines, then prints the summary of every port.
    void Summary();

    // The one-line text of an outcome's message ("" lines joined by " ").
    static std::string OneLine(const std::string& text);
    // The summary table alone.
    static std::string SummaryText(const std::vector<StationPort>& ports);

private:
    std::string PortLine(const StationPort& port) const;
    void Redraw();

    std::FILE* m_pOut;
    bool m_bLive;
    const std::vector<StationPort>& m_ports;
    std::size_t m_nPortWidth = 4;
    bool m_bDrawn = false;
    bool m_bHeaderShown = false;
};
