// One line of a download's event stream (`--events`), as the station reads
// it from each of its child processes.
//
// Every line is one JSON object with "event", "t" (seconds since that run
// started) and "port"; the fields below are those the station uses (their
// names: events/event_names.h). A name that is not UTF-8 is read as the
// bytes its "_hex" field gives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct StationEventFile {
    std::string m_strPath;
    std::uint64_t m_nSize = 0;
    std::string m_strSha256;
};

struct StationEvent {
    std::string m_strEvent;   // "started", "port_opened", "waiting", "connected", "command",
                              // "progress", "file_sent", "end"
    double m_dTime = 0;       // "t"
    std::string m_strPort;
    // started
    std::string m_strScript;
    std::vector<StationEventFile> m_files;
    long long m_nPid = 0;         // the run's process
    std::string m_strWarning;     // port_opened: a slow adapter, told to the operator
    // command ("text"), end ("message")
    std::string m_strText;
    std::string m_strCommand;     // command: the script command itself
    // progress, file_sent
    std::string m_strFile;
    std::string m_strSha256;      // file_sent
    std::uint64_t m_nBytes = 0;   // also end: data bytes sent in the run
    std::uint64_t m_nTotal = 0;
    int m_nPercent = 0;
    double m_dRate = 0;           // bytes per second
    double m_dSecondsLeft = -1;   // -1 when not given
    // end
    std::string m_strResult;      // "success", "error", "cancelled"
    std::string m_strOutcome;     // what ended the run ("completed", "wait_timed_out", ...)
    int m_nExitStatus = -1;
    double m_dSeconds = 0;
};

// Parses one line (without its newline). nullopt when it is not a JSON
// object with a string "event": such lines are skipped, never fatal. Fields
// of the wrong type are taken as absent.
std::optional<StationEvent> ParseStationEvent(const std::string& line);

// Splits a stream of bytes into whole lines as they arrive in pieces.
class EventLineSplitter {
public:
    // Appends data and moves every complete line (without "\n") to *lines.
    // A line longer than kMaxLine is dropped up to its end (and counted), so
    // that a child writing garbage cannot make the station grow without
    // bound. No real run comes near it: the "started" event of a script
    // naming ten thousand data files is about 2 MiB.
    void Feed(const char* data, std::size_t size, std::vector<std::string>* lines);
    // The lines dropped so far for being too long.
    std::size_t Dropped() const { return m_nDropped; }

    static constexpr std::size_t kMaxLine = std::size_t{64} << 20;

private:
    std::string m_strPending;
    bool m_bDiscarding = false;
    std::size_t m_nDropped = 0;
};
