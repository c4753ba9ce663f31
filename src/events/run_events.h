// RunEvents: the steps of one run as machine-readable events, one JSON
// object per line, for a program that drives this one (a station loading
// many receivers at once) rather than an operator.
//
// Every object has "event", "t" (seconds since the run started, to the
// millisecond) and "port" (the port name as given). In the order a run
// takes them:
//   started      "script", "files" [{"path","size","sha256"}...], "pid"
//   port_opened  "device" (the device the name resolved to)
//   waiting      (for the receiver's first request)
//   connected    (handshake done, the line at 38400 baud)
//   command      "text" (the line the operator sees, "Command: E123456"),
//                "command" (the script command itself, "E123456")
//   progress     "file", "bytes", "total", "percent", "rate" (bytes/s),
//                "seconds_left": at most once a second per data file, and
//                once at 100 % when the file is done. Only once bytes have
//                gone out, so that rate and seconds_left are numbers.
//   file_sent    "file", "bytes", "sha256"
//   end          "result" ("success", "error", "cancelled"), "message" (the
//                operator text of the outcome, never ""), "exit_status",
//                "seconds", "bytes" (data file bytes handed to the link)
// "end" is written once and is the last line; nothing follows it.
//
// Every call comes from the front end's (UI) thread, from what it already
// handles, so that writing events never slows the worker threads; except
// NoteShown, NoteDetail and TryEnd (see there). Each line is
// flushed as it is written, so that a process killed mid-run leaves whole
// lines. A failed write (a reader that went away) is ignored.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_types.h"

struct ScriptDataFile;

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

    // The script and the data files it names, each with its SHA-256 over the
    // bytes that will be sent (its length when checked).
    void Started(const std::string& script, const std::vector<ScriptDataFile>& files);
    void PortOpened();
    void Waiting();
    void Connected();
    // A command the upload dialog shows ("Command: ..."). A data file that
    // was being sent is done by then: it is reported sent.
    void Command(const std::string& shownText);
    // The upload counters of the data file being sent: a progress event when
    // the last one is a second old or more. Counters that do not fit that
    // file (the next file's, not announced yet) are ignored.
    void Progress(DWORD bytesSent, DWORD fileLength);
    // The upload ended with the whole script sent: the last data file, if
    // one was open, is reported sent.
    void UploadFinished();

    // Texts the operator was shown, from which End picks its message: the
    // first that is not a notice of a normal run, with the detail lines
    // shown after it. These two may be called from any thread (a worker
    // shows its own message boxes); they only take note.
    void NoteShown(const std::string& text);
    void NoteDetail(const std::string& text);

    // The last event. message "" picks one from the texts noted (or, when
    // none fits, a plain statement of the result). Later calls do nothing.
    void End(int exitStatus, const std::string& message = "");
    // End for a process about to be ended from another thread (a second
    // Ctrl-C): never waits for the UI thread. False, writing nothing, when
    // that thread is writing an event at the moment (a reader that does not
    // read could hold it there for good).
    bool TryEnd(int exitStatus, const std::string& message);
    bool HasEnded() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
