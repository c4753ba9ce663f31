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

// What the station could not write, for the summary.
struct StationLosses {
    struct Line {
        std::string m_strPort;
        int m_nUnit = 0;           // of that port, from 1
        std::string m_strResult;   // the unit's result
        std::string m_strReason;   // why its line could not be written
    };
    std::string m_strRecord;       // the record file's name
    std::vector<Line> m_lines;     // units the record has no line for
    std::string m_strEvents;       // the events file's name
    std::size_t m_nEventLines = 0; // lines written to it before the first that failed
    std::string m_strEventsError;  // why that one failed ("" when none did)
};

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
    // Ends the live lines, then prints the summary of every port and what
    // could not be written.
    void Summary(const StationLosses& losses);

    // The one-line text of an outcome's message ("" lines joined by " ").
    static std::string OneLine(const std::string& text);
    // How Escaped writes a backslash: as it is (for the eye), doubled, or
    // doubled only where it would otherwise read as an escape (before
    // "xHH", another backslash or an escaped byte), which keeps paths full
    // of them readable; the last two give back the exact bytes.
    enum class Backslashes { Kept, Doubled, DoubledWhereAmbiguous };
    // text with each control byte (C0, DEL, C1) and each byte that is not
    // part of valid UTF-8 as \xHH, and its backslashes as above.
    static std::string Escaped(const std::string& text, Backslashes backslashes = Backslashes::Kept);
    // The summary alone: the units counted, the table of ports, the losses.
    static std::string SummaryText(const std::vector<StationPort>& ports, const StationLosses& losses = {});

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
