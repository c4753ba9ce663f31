#include "station/station_model.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>

#include "events/event_names.h"
#include "station/station_display.h"
#include "station/station_port.h"

namespace {

std::string Plural(std::size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

std::string StationTile::PhaseText() const {
    switch (m_phase) {
    case TilePhase::NotStarted:
        return "not started";
    case TilePhase::Starting:
        return "starting";
    case TilePhase::PortOpen:
        return "port open";
    case TilePhase::Waiting:
        return "waiting for power-on";
    case TilePhase::Connected:
        return "connected";
    case TilePhase::Loading:
        return "loading file " + std::to_string(m_nFile) + (m_nFiles > 0 ? " of " + std::to_string(m_nFiles) : "");
    case TilePhase::Ending:
        return "finishing";
    case TilePhase::Stopping:
        return "stopping";
    case TilePhase::Done:
        return m_bStopRequested ? "stopped" : "done";
    }
    return {};
}

std::string StationTile::RateText() const { return m_phase == TilePhase::Loading ? FormatRate(m_dRate) : ""; }

std::string StationTile::TimeLeftText() const {
    const std::string left = m_phase == TilePhase::Loading ? FormatDuration(m_dSecondsLeft) : "";
    return left.empty() ? left : left + " left";
}

std::string StationTile::CountText() const {
    return std::to_string(m_nUnitsOk) + " ok, " + std::to_string(m_nUnitsFailed) + " failed";
}

StationModel::StationModel(const std::vector<StationPortName>& ports, Clock clock)
    : m_clock(std::move(clock)), m_units(ports.size()), m_changedFlags(ports.size(), false) {
    for (const StationPortName& port : ports) {
        StationTile tile;
        tile.m_strPort = port.m_strPort;
        tile.m_strName = port.m_strDescription.empty() ? port.m_strPort : port.m_strDescription;
        tile.m_strUsbSerial = port.m_strUsbSerial;
        m_tiles.push_back(std::move(tile));
    }
}

void StationModel::Changed(std::size_t index) {
    if (!m_changedFlags[index]) {
        m_changedFlags[index] = true;
        m_changed.push_back(index);
    }
}

void StationModel::AddLog(std::size_t index, const std::string& text, bool trouble) {
    m_log.push_back({index, m_clock(), text, trouble});
    if (m_log.size() > kMaxLogLines)
        m_log.pop_front();
    m_nNewLog = std::min(m_nNewLog + 1, m_log.size());
}

void StationModel::RunStarted(std::size_t index) {
    StationTile& tile = m_tiles[index];
    tile.m_phase = tile.m_bStopRequested ? TilePhase::Stopping : TilePhase::Starting;
    tile.m_nFile = tile.m_nFiles = 0;
    tile.m_nPercent = -1;
    tile.m_dRate = 0;
    tile.m_dSecondsLeft = -1;
    m_units[index] = Unit{};
    Changed(index);
}

void StationModel::ShowProgress(std::size_t index, const StationEvent& event) {
    StationTile& tile = m_tiles[index];
    const Unit& unit = m_units[index];
    const std::uint64_t total = std::accumulate(unit.m_sizes.begin(), unit.m_sizes.end(), std::uint64_t{0});
    tile.m_dRate = event.m_dRate;
    if (total == 0) {
        // The sizes were not announced: the file's own figures.
        tile.m_nPercent = event.m_nPercent;
        tile.m_dSecondsLeft = event.m_dSecondsLeft;
        return;
    }
    const std::uint64_t done = std::min(total, unit.m_nBytesDone + event.m_nBytes);
    tile.m_nPercent = static_cast<int>(done * 100 / total);
    tile.m_dSecondsLeft = event.m_dRate > 0 ? static_cast<double>(total - done) / event.m_dRate : -1;
}

void StationModel::TakeEvent(std::size_t index, const StationEvent& event) {
    StationTile& tile = m_tiles[index];
    Unit& unit = m_units[index];
    const std::string& name = event.m_strEvent;
    const bool stopping = tile.m_bStopRequested;
    auto phase = [&](TilePhase next) { tile.m_phase = stopping ? TilePhase::Stopping : next; };
    if (name == event::kStarted) {
        unit.m_sizes.clear();
        for (const StationEventFile& file : event.m_files)
            unit.m_sizes.push_back(file.m_nSize);
        tile.m_nFiles = event.m_files.size();
        AddLog(index, "started (process " + std::to_string(event.m_nPid) + "): " + FileName(event.m_strScript) +
                          ", " + Plural(event.m_files.size(), "data file"));
    } else if (name == event::kPortOpened) {
        phase(TilePhase::PortOpen);
        AddLog(index, "port open");
    } else if (name == event::kWaiting) {
        phase(TilePhase::Waiting);
        AddLog(index, "waiting for the receiver's power-on");
    } else if (name == event::kConnected) {
        phase(TilePhase::Connected);
        AddLog(index, "connected");
    } else if (name == event::kCommand) {
        AddLog(index, event.m_strText);
        if (!event.m_strCommand.empty() && event.m_strCommand[0] == 'S') {
            phase(TilePhase::Loading);
            tile.m_nFile = unit.m_nFilesSent + 1;
            tile.m_nFiles = std::max(tile.m_nFiles, tile.m_nFile);
            tile.m_nPercent = std::max(tile.m_nPercent, 0);
        }
    } else if (name == event::kProgress) {
        phase(TilePhase::Loading);
        tile.m_nFile = std::max<std::size_t>(tile.m_nFile, unit.m_nFilesSent + 1);
        ShowProgress(index, event);
    } else if (name == event::kFileSent) {
        unit.m_nBytesDone += event.m_nBytes;
        ++unit.m_nFilesSent;
        AddLog(index, "sent " + FileName(event.m_strFile) + ": " + Plural(event.m_nBytes, "byte") + ", SHA-256 " +
                          event.m_strSha256);
    } else if (name == event::kEnd) {
        phase(TilePhase::Ending);
        tile.m_dRate = 0;
        const bool success = event.m_strResult == event::result::kSuccess;
        AddLog(index, event.m_strResult + ": " + event.m_strText, !success);
    } else {
        return;
    }
    Changed(index);
}

void StationModel::UnitEnded(std::size_t index, bool success, const std::string& message, bool counted,
                             bool goesOn) {
    StationTile& tile = m_tiles[index];
    const std::string oneLine = [&] {
        std::string line;
        for (char c : message)
            line += c == '\n' || c == '\r' ? ' ' : c;
        return line;
    }();
    if (counted) {
        (success ? tile.m_nUnitsOk : tile.m_nUnitsFailed)++;
        tile.m_colour = success ? TileColour::Ok : TileColour::Failed;
        tile.m_strReason = oneLine;
        AddLog(index, "unit " + std::to_string(tile.m_nUnitsOk + tile.m_nUnitsFailed) + (success ? " ok" : " FAILED") +
                          ": " + oneLine, !success);
    } else {
        AddLog(index, "no unit: " + oneLine);
    }
    if (!goesOn) {
        tile.m_phase = TilePhase::Done;
        tile.m_nPercent = -1;
        tile.m_dRate = 0;
    }
    Changed(index);
}

void StationModel::Note(const std::string& text, bool trouble) {
    if (trouble)
        m_strLastTrouble = text;
    AddLog(StationLogLine::kStationLine, text, trouble);
}

void StationModel::Finished(std::vector<StationSummaryRow> summary, int exitStatus) {
    m_summary = std::move(summary);
    m_nExitStatus = exitStatus;
    m_bFinished = true;
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        if (m_tiles[i].m_phase != TilePhase::NotStarted && m_tiles[i].m_phase != TilePhase::Done) {
            m_tiles[i].m_phase = TilePhase::Done;
            Changed(i);
        }
    }
    AddLog(StationLogLine::kStationLine, "Summary: " + SummaryHeading(), exitStatus != 0);
}

void StationModel::StopRequested(std::size_t index) {
    StationTile& tile = m_tiles[index];
    if (tile.m_bStopRequested)
        return;
    tile.m_bStopRequested = true;
    if (tile.Running())
        tile.m_phase = TilePhase::Stopping;
    AddLog(index, "stop asked by the operator");
    Changed(index);
}

void StationModel::StopAllRequested() {
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        // A port that has ended its units stays done.
        if (m_tiles[i].m_bStopRequested || m_tiles[i].m_phase == TilePhase::Done)
            continue;
        m_tiles[i].m_bStopRequested = true;
        if (m_tiles[i].Running())
            m_tiles[i].m_phase = TilePhase::Stopping;
        Changed(i);
    }
    AddLog(StationLogLine::kStationLine, "Stop all asked by the operator");
}

int StationModel::UnitsOk() const {
    int units = 0;
    for (const StationTile& tile : m_tiles)
        units += tile.m_nUnitsOk;
    return units;
}

int StationModel::UnitsFailed() const {
    int units = 0;
    for (const StationTile& tile : m_tiles)
        units += tile.m_nUnitsFailed;
    return units;
}

std::string StationModel::SummaryHeading() const {
    std::size_t succeeded = 0;
    for (const StationTile& tile : m_tiles)
        succeeded += tile.m_nUnitsFailed == 0 && tile.m_nUnitsOk > 0;
    const int units = UnitsOk() + UnitsFailed();
    return Plural(m_tiles.size(), "port") + ", " + std::to_string(succeeded) + " succeeded, " +
           std::to_string(m_tiles.size() - succeeded) + " failed; " + Plural(static_cast<std::size_t>(units), "unit") +
           ", " + std::to_string(UnitsOk()) + " ok, " + std::to_string(UnitsFailed()) + " failed";
}

std::vector<StationLogLine> StationModel::TakeNewLog() {
    std::vector<StationLogLine> lines(m_log.end() - static_cast<std::ptrdiff_t>(m_nNewLog), m_log.end());
    m_nNewLog = 0;
    return lines;
}

std::vector<std::size_t> StationModel::TakeChangedTiles() {
    std::vector<std::size_t> changed = std::move(m_changed);
    m_changed.clear();
    std::sort(changed.begin(), changed.end());
    for (std::size_t index : changed)
        m_changedFlags[index] = false;
    return changed;
}

int StationModel::GridColumns(std::size_t tiles, int width, int height, int tileWidth, int tileHeight) {
    if (tiles == 0 || width <= 0 || height <= 0 || tileWidth <= 0 || tileHeight <= 0)
        return 1;
    int best = 1;
    double bestScale = 0;
    for (int columns = 1; columns <= static_cast<int>(tiles); ++columns) {
        const int rows = static_cast<int>((tiles + columns - 1) / columns);
        const double scale = std::min(static_cast<double>(width) / columns / tileWidth,
                                      static_cast<double>(height) / rows / tileHeight);
        if (scale > bestScale + 1e-9) {
            bestScale = scale;
            best = columns;
        }
    }
    if (bestScale >= 1)
        return best;
    // Too many to fit at their size: as many columns as the width takes,
    // and the rows scroll.
    return std::clamp(width / tileWidth, 1, static_cast<int>(tiles));
}

std::vector<StationSummaryRow> SummaryRows(const std::vector<StationPort>& ports) {
    std::vector<StationSummaryRow> rows;
    for (const StationPort& port : ports) {
        const bool ok = port.UnitsFailed() == 0 && port.UnitsOk() > 0;
        const UnitOutcome& shown = port.UnitsFailed() > 0 ? port.FirstFailure() : port.Last();
        const std::string result = ok                                                   ? "ok"
                                   : port.Units() == 0                                  ? "no unit"
                                   : shown.m_strResult == event::result::kCancelled ? "cancelled"
                                                                                        : "FAILED";
        rows.push_back({port.Port(), port.UnitsOk(), port.UnitsFailed(), result,
                        StationDisplay::OneLine(shown.m_strMessage)});
    }
    return rows;
}
