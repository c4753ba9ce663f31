#include "station/station_port.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "events/event_names.h"

StationPort::StationPort(std::string port) : m_strPort(std::move(port)) {}

void StationPort::BeginUnit() {
    m_bRunning = true;
    m_phase = Phase::Starting;
    m_current = UnitOutcome{};
    m_nFilesSent = 0;
    m_bEnded = false;
    m_strFile.clear();
    m_nPercent = -1;
    m_dRate = 0;
    m_dSecondsLeft = -1;
    m_nPlainTenth = -1;
    m_nSentBytes = 0;
    m_nFileBytes = 0;
}

std::string StationPort::TakeWarning() {
    if (m_strWarning.empty())
        return {};
    m_bWarned = true;
    return std::exchange(m_strWarning, {});
}

bool StationPort::Apply(const StationEvent& event) {
    const Phase before = m_phase;
    const std::string& name = event.m_strEvent;
    if (name == event::kStarted) {
        m_current.m_strScript = event.m_strScript;
        m_current.m_files = event.m_files;
    } else if (name == event::kPortOpened) {
        m_phase = Phase::Opened;
        if (!m_bWarned)
            m_strWarning = event.m_strWarning;
    } else if (name == event::kWaiting) {
        m_phase = Phase::Waiting;
        m_current.m_bWaited = true;
    } else if (name == event::kConnected) {
        m_phase = Phase::Connected;
        m_current.m_bConnected = true;
    } else if (name == event::kProgress) {
        m_phase = Phase::Loading;
        const bool newFile = event.m_strFile != m_strFile;
        m_strFile = event.m_strFile;
        m_nPercent = event.m_nPercent;
        m_dRate = event.m_dRate;
        m_dSecondsLeft = event.m_dSecondsLeft;
        m_nFileBytes = event.m_nBytes;
        const int tenth = m_nPercent / 10;
        if (newFile || tenth != m_nPlainTenth) {
            m_nPlainTenth = tenth;
            return true;
        }
    } else if (name == event::kFileSent) {
        m_nSentBytes += event.m_nBytes;
        m_nFileBytes = 0;
        // The record names the bytes that went out, which need not be those
        // the run checked at its start: the data files go out in the order
        // the started event lists them.
        std::vector<StationEventFile>& files = m_current.m_files;
        const StationEventFile sent{event.m_strFile, event.m_nBytes, event.m_strSha256};
        if (m_nFilesSent < files.size() && files[m_nFilesSent].m_strPath == sent.m_strPath)
            files[m_nFilesSent] = sent;
        else
            files.insert(files.begin() + static_cast<std::ptrdiff_t>(std::min(m_nFilesSent, files.size())), sent);
        ++m_nFilesSent;
    } else if (name == event::kEnd) {
        m_phase = Phase::Ended;
        m_bEnded = true;
        m_current.m_strResult = event.m_strResult;
        m_current.m_strOutcome = event.m_strOutcome;
        m_current.m_strMessage = event.m_strText;
        m_current.m_nBytes = event.m_nBytes;
        m_current.m_dSeconds = event.m_dSeconds;
        return false;  // the unit's end is reported with its outcome
    }
    return m_phase != before;
}

UnitOutcome StationPort::EndUnit(const ChildExit& exit, const std::string& endedBy, double seconds) {
    m_bRunning = false;
    m_phase = Phase::Idle;
    UnitOutcome outcome = m_current;
    outcome.m_bReported = m_bEnded;
    if (!m_bEnded) {
        outcome.m_strResult = event::result::kError;
        outcome.m_strOutcome = endedBy.empty() ? event::outcome::kNoResult : event::outcome::kEndedByStation;
        outcome.m_strMessage = !endedBy.empty() ? endedBy + " (" + exit.m_strHow + ")"
                                                : "the download process " + exit.m_strHow +
                                                      " without reporting its result";
        outcome.m_nBytes = m_nSentBytes + m_nFileBytes;
        outcome.m_dSeconds = seconds;
    } else if (outcome.m_strResult == event::result::kSuccess && exit.m_nStatus != 0) {
        outcome.m_strResult = event::result::kError;
        outcome.m_strOutcome = event::outcome::kExitedAfterSuccess;
        outcome.m_strMessage = "the download reported success but " + exit.m_strHow;
    }
    outcome.m_bSuccess = outcome.m_strResult == event::result::kSuccess;
    return outcome;
}

UnitOutcome StationPort::FailToStart(const std::string& reason) {
    m_bRunning = false;
    m_phase = Phase::Idle;
    UnitOutcome outcome;
    outcome.m_strResult = event::result::kError;
    outcome.m_strOutcome = event::outcome::kNotStarted;
    outcome.m_strMessage = reason;
    return outcome;
}

void StationPort::Count(const UnitOutcome& outcome) {
    (outcome.m_bSuccess ? m_nUnitsOk : m_nUnitsFailed)++;
    if (!outcome.m_bSuccess && m_firstFailure.m_strResult.empty())
        m_firstFailure = outcome;
    m_last = outcome;
}

std::string StationPort::PhaseText() const {
    switch (m_phase) {
    case Phase::Idle:
        return Units() == 0 ? "not started" : "done";
    case Phase::Starting:
        return "starting";
    case Phase::Opened:
        return "port open";
    case Phase::Waiting:
        return "waiting for the receiver";
    case Phase::Connected:
        return "connected";
    case Phase::Loading:
        return "loading " + std::filesystem::path(m_strFile).filename().string();
    case Phase::Ended:
        return "ending";
    }
    return {};
}

std::string StationPort::PercentText() const {
    return m_phase == Phase::Loading && m_nPercent >= 0 ? std::to_string(m_nPercent) + " %" : "";
}

std::string StationPort::RateText() const { return m_phase == Phase::Loading ? FormatRate(m_dRate) : ""; }

std::string StationPort::TimeLeftText() const {
    return m_phase == Phase::Loading ? FormatDuration(m_dSecondsLeft) : "";
}

std::string StationPort::ResultText() const {
    if (m_last.m_strResult.empty())
        return "";
    const std::string last = m_last.m_bSuccess ? "ok" : m_last.m_strResult == event::result::kCancelled ? "cancelled" : "FAILED";
    if (Units() <= 1)
        return last;
    return last + " (" + std::to_string(m_nUnitsOk) + " ok, " + std::to_string(m_nUnitsFailed) + " failed)";
}

std::string FormatRate(double bytesPerSecond) {
    if (!(bytesPerSecond > 0))
        return "";
    char text[32];
    if (bytesPerSecond >= 1000)
        std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0))
        return "";
    const long total = std::lround(seconds);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}
