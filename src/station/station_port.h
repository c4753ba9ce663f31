// StationPort: what the station knows of one port: the unit loading now,
// taken from its download's events, and the units done so far.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/station_child.h"
#include "events/event_reader.h"

// One unit as it ended, for the summary and the record.
struct UnitOutcome {
    bool m_bSuccess = false;
    std::string m_strResult;   // "success", "error" or "cancelled"
    std::string m_strOutcome;  // what ended it, as the run's end event says ("" when it said nothing)
    std::string m_strMessage;  // the operator text of the outcome, or why the run ended without one
    bool m_bConnected = false; // the receiver answered: a unit was there
    bool m_bWaited = false;    // the run got as far as waiting for the receiver
    bool m_bReported = false;  // the run reported its end (it did not crash or get killed)
    std::string m_strScript;
    std::vector<StationEventFile> m_files;
    std::uint64_t m_nBytes = 0;
    double m_dSeconds = 0;
};

class StationPort {
public:
    explicit StationPort(std::string port);

    const std::string& Port() const { return m_strPort; }

    // A new run begins on the port (its child has been started).
    void BeginUnit();
    // Takes one event of the running unit. True when the port's line
    // changed in a way a plain (non-live) display reports: a new phase, a
    // further tenth of the file, the end.
    bool Apply(const StationEvent& event);
    // The run's process has ended after seconds; endedBy: why the station
    // ended it ("" when it did not). Returns the unit's outcome: a run that
    // did not report its end failed, with what its events showed so far
    // (files, bytes sent) and the reason it ended.
    UnitOutcome EndUnit(const ChildExit& exit, const std::string& endedBy, double seconds);
    // The run could not even be started.
    UnitOutcome FailToStart(const std::string& reason);
    // The outcome counts as a unit of this port.
    void Count(const UnitOutcome& outcome);

    bool Running() const { return m_bRunning; }
    // The running unit's receiver has answered, or the run has reported its
    // end: the run is past waiting for a receiver's power-on.
    bool PastWaiting() const { return m_current.m_bConnected || m_bEnded; }
    int UnitsOk() const { return m_nUnitsOk; }
    int UnitsFailed() const { return m_nUnitsFailed; }
    int Units() const { return m_nUnitsOk + m_nUnitsFailed; }
    // The last counted unit's outcome (empty result before the first).
    const UnitOutcome& Last() const { return m_last; }
    // The first failed unit's outcome, kept for the summary.
    const UnitOutcome& FirstFailure() const { return m_firstFailure; }

    // The warning a run gave when it opened the port (a slow adapter), the
    // first time one is given on this port; "" after that, so that the
    // operator is told once per port, not once per unit.
    std::string TakeWarning();

    // The columns of the port's display line.
    std::string PhaseText() const;
    std::string PercentText() const;
    std::string RateText() const;
    std::string TimeLeftText() const;
    std::string ResultText() const;

private:
    enum class Phase { Idle, Starting, Opened, Waiting, Connected, Loading, Ended };

    std::string m_strPort;
    bool m_bRunning = false;
    Phase m_phase = Phase::Idle;
    UnitOutcome m_current;
    std::size_t m_nFilesSent = 0; // "file_sent" seen for the current run
    bool m_bEnded = false;        // "end" seen for the current run
    std::string m_strFile;        // file in progress
    int m_nPercent = -1;
    double m_dRate = 0;
    double m_dSecondsLeft = -1;
    int m_nPlainTenth = -1;       // last tenth of the file reported on a plain display
    std::uint64_t m_nSentBytes = 0;  // bytes of the data files reported sent
    std::uint64_t m_nFileBytes = 0;  // bytes of the file in progress, as last reported
    std::string m_strWarning;     // given by the run, not yet taken
    bool m_bWarned = false;       // a warning has been taken
    int m_nUnitsOk = 0;
    int m_nUnitsFailed = 0;
    UnitOutcome m_last;
    UnitOutcome m_firstFailure;
};

// "12.3 kB/s"; "" for 0.
std::string FormatRate(double bytesPerSecond);
// "1:05", "1:02:03"; "" when unknown (negative).
std::string FormatDuration(double seconds);
