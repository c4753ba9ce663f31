// StationModel: the station's window as data, without a toolkit. One tile
// per port (its friendly name, phase, progress, rate and time left, unit
// counts, the colour of its last result and why), each port's messages, the
// station's own notes and the summary at the end.
//
// It is fed, on the window's UI thread, with what the station engine told
// its view (station_view.h): each run's start, each event of a port's run,
// each unit's end, the notes; and it keeps which tiles changed since the
// window last drew them, so that the window redraws only those, and only
// when something changed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "events/event_reader.h"

// The colour of a tile: its last unit's result.
enum class TileColour { Neutral, Ok, Failed };

enum class TilePhase { NotStarted, Starting, PortOpen, Waiting, Connected, Loading, Ending, Stopping, Done };

struct StationTile {
    std::string m_strPort;       // as the station was given it
    std::string m_strName;       // the adapter's description, or the port when it has none
    std::string m_strUsbSerial;  // "" when unknown
    TilePhase m_phase = TilePhase::NotStarted;
    std::size_t m_nFile = 0;     // Loading: the data file being sent, from 1
    std::size_t m_nFiles = 0;    // the unit's data files (0 when not known yet)
    int m_nPercent = -1;         // of the unit's data bytes; -1 when none are on their way
    double m_dRate = 0;          // bytes per second of the file being sent
    double m_dSecondsLeft = -1;  // for the unit's data, -1 when unknown
    int m_nUnitsOk = 0;
    int m_nUnitsFailed = 0;
    TileColour m_colour = TileColour::Neutral;
    std::string m_strReason;     // the last unit's message: for a failure, why
    bool m_bStopRequested = false;  // the operator stopped this port (or every port)

    // "waiting for power-on", "loading file 2 of 3", "done", ...
    std::string PhaseText() const;
    // "2.7 kB/s", "0:05 left": "" when nothing is loading.
    std::string RateText() const;
    std::string TimeLeftText() const;
    // "3 ok, 1 failed"
    std::string CountText() const;
    bool Running() const { return m_phase != TilePhase::NotStarted && m_phase != TilePhase::Done; }
};

// One line of the message log: kStationLine for the station's own.
struct StationLogLine {
    static constexpr std::size_t kStationLine = static_cast<std::size_t>(-1);
    std::size_t m_nPort = kStationLine;
    std::chrono::system_clock::time_point m_time;
    std::string m_strText;
    bool m_bTrouble = false;  // a failure, or a trouble of the station's
};

// One port's line of the summary.
struct StationSummaryRow {
    std::string m_strPort;
    int m_nUnitsOk = 0;
    int m_nUnitsFailed = 0;
    std::string m_strResult;   // "ok", "FAILED", "cancelled", "no unit"
    std::string m_strMessage;  // the first failure's message, or the last unit's
};

// A port as the window lists it: the name given and what the system says
// of its adapter.
struct StationPortName {
    std::string m_strPort;
    std::string m_strDescription;  // "" when unknown
    std::string m_strUsbSerial;    // "" when unknown
};

class StationModel {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    explicit StationModel(const std::vector<StationPortName>& ports, Clock clock = &std::chrono::system_clock::now);

    std::size_t Size() const { return m_tiles.size(); }
    const StationTile& Tile(std::size_t index) const { return m_tiles[index]; }

    // What the engine told its view, in order.
    void RunStarted(std::size_t index);
    void TakeEvent(std::size_t index, const StationEvent& event);
    // success/message: the unit's outcome; counted: it is a unit of the
    // port; goesOn: the port starts another run next.
    void UnitEnded(std::size_t index, bool success, const std::string& message, bool counted, bool goesOn);
    void Note(const std::string& text, bool trouble = false);
    void Finished(std::vector<StationSummaryRow> summary, int exitStatus);

    // The operator asked to stop one port, or all of them.
    void StopRequested(std::size_t index);
    void StopAllRequested();

    bool IsFinished() const { return m_bFinished; }
    // The last trouble the station reported ("" for none).
    const std::string& LastTrouble() const { return m_strLastTrouble; }
    int ExitStatus() const { return m_nExitStatus; }
    const std::vector<StationSummaryRow>& Summary() const { return m_summary; }
    // "4 ports, 3 succeeded, 1 failed; 7 units, 6 ok, 1 failed"
    std::string SummaryHeading() const;
    // The whole run's counts, across ports.
    int UnitsOk() const;
    int UnitsFailed() const;

    // The message log, oldest first, at most kMaxLogLines (the oldest go).
    const std::deque<StationLogLine>& Log() const { return m_log; }
    // Lines added since the last call (the window appends only those), and
    // the tiles changed since the last call (each once, in port order).
    std::vector<StationLogLine> TakeNewLog();
    std::vector<std::size_t> TakeChangedTiles();
    bool HasChanges() const { return m_nNewLog > 0 || !m_changed.empty(); }

    static constexpr std::size_t kMaxLogLines = 5000;

    // The number of columns of a grid of tiles in an area width x height
    // (pixels) that makes the tiles as large as it can keep them in the
    // ratio tileWidth : tileHeight; the grid scrolls down when even then the
    // tiles would come out smaller than that.
    static int GridColumns(std::size_t tiles, int width, int height, int tileWidth, int tileHeight);

private:
    // The unit in progress, as a port's events tell it.
    struct Unit {
        std::vector<std::uint64_t> m_sizes;  // of the data files, from "started"
        std::uint64_t m_nBytesDone = 0;      // of the files sent whole
        std::size_t m_nFilesSent = 0;
    };

    void Changed(std::size_t index);
    void AddLog(std::size_t index, const std::string& text, bool trouble = false);
    void ShowProgress(std::size_t index, const StationEvent& event);

    Clock m_clock;
    std::vector<StationTile> m_tiles;
    std::vector<Unit> m_units;
    std::vector<bool> m_changedFlags;
    std::vector<std::size_t> m_changed;
    std::deque<StationLogLine> m_log;
    std::size_t m_nNewLog = 0;
    bool m_bFinished = false;
    int m_nExitStatus = -1;
    std::vector<StationSummaryRow> m_summary;
    std::string m_strLastTrouble;
};

class StationPort;

// The summary's line of each port: its units, its result ("ok" when every
// unit succeeded and there was one) and the message that explains it (the
// first failure's, else the last unit's).
std::vector<StationSummaryRow> SummaryRows(const std::vector<StationPort>& ports);
