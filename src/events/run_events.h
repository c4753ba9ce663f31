// RunEvents: the steps of one run as machine-readable events, one JSON
// object per line, for a program that drives this one (a station loading
// many receivers at once) rather than an operator. The events and their
// fields are listed in events/event_names.h.
//
// Every object has "event", "t" (seconds since the run started, to the
// millisecond) and "port" (the port name as given). Progress events come at
// most once a second per data file, and once at 100 % when the file is done,
// and only once bytes have gone out, so that rate and seconds_left are
// numbers. "end" is written once and is the last line; nothing follows it.
//
// Every call comes from the front end's (UI) thread, from what it already
// handles, so that writing events never slows the worker threads; except
// TryEnd (see there). Each line goes out whole in one write as it is made,
// so that a process killed mid-run leaves whole lines. A write that fails
// (a full disk) is cut back to the last whole line where the file allows it,
// and nothing more is written; WriteError() then says why, for the caller
// to report and fail the run on.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A data file of the script, as the run checked it at its start.
struct RunEventsFile {
    std::string m_strPath;
    std::uint64_t m_nSize = 0;
    std::string m_strSha256;  // of those bytes
};

// How the run ended, for the "end" event.
struct RunEndReport {
    int m_nExitStatus = 0;
    std::string m_strResult;   // an event::result name
    std::string m_strOutcome;  // an event::outcome name
    std::string m_strMessage;  // the operator text of the outcome, never ""
};

// The "end" event's line (without its newline) for a run that ended without
// writing one, written in its place by `by` (the station): port, seconds
// since the run started, the end and the data bytes that went out.
std::string EndEventLine(const std::string& port, double seconds, const RunEndReport& end, std::uint64_t bytes,
                         const std::string& by);

class RunEvents {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    // The clock events are timed and paced by; tests give their own.
    using TimeSource = std::function<TimePoint()>;

    // Writes to out (not owned, not closed). The run starts now.
    explicit RunEvents(std::FILE* out, TimeSource now = &std::chrono::steady_clock::now);
    ~RunEvents();
    RunEvents(const RunEvents&) = delete;
    RunEvents& operator=(const RunEvents&) = delete;

    // Opens path ("-": stdout) for the events. nullptr, with *reason set,
    // when the file cannot be created.
    static std::unique_ptr<RunEvents> Open(const std::string& path, std::string* reason);

    // The port name as given, and the device it resolves to (found out here
    // when "" is given). Set before the first event.
    void SetPort(const std::string& name, const std::string& device = "");

    // The script and the data files it names, as the run checked them.
    void Started(const std::string& script, const std::vector<RunEventsFile>& files);
    // The port is open; warning: what the operator was told of it ("" for
    // nothing).
    void PortOpened(const std::string& warning = "");
    void Waiting();
    void Connected();
    // The upload queued a script command (a data file's: 'S' and its path),
    // shown to the operator as shownText.
    void Command(const std::string& command, const std::string& shownText);
    // The upload counters of the data file being sent: a progress event when
    // the last one is a second old or more. Counters that do not fit that
    // file (the next file's, not announced yet) are ignored.
    void Progress(std::uint32_t bytesSent, std::uint32_t fileLength);
    // The upload has sent the data file at path whole: these bytes, with
    // this SHA-256 (what went out, whatever was checked at the start). Its
    // 100 % progress comes first if it has not been written yet.
    void FileSent(const std::string& path, std::uint64_t bytes, const std::string& sha256);

    // The last event. Later calls do nothing.
    void End(const RunEndReport& end);
    // End for a process about to be ended from another thread (a second
    // Ctrl-C): never waits for the UI thread. False, writing nothing, when
    // that thread is writing an event at the moment (a reader that does not
    // read could hold it there for good).
    bool TryEnd(const RunEndReport& end);
    bool HasEnded() const;

    // Why a line could not be written ("" while every line was): events
    // after it are lost, and the end among them.
    std::string WriteError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
