// StationChild: one download run by the station, as a child process: the
// program itself with --no-gui, its port, the script and --events writing
// into a pipe the station reads. Its operator text goes to the null device.
// It never outlives the station: once the station has ended, however (even
// by SIGKILL), the child gets SIGHUP, which it answers as a cancel
// (PR_SET_PDEATHSIG on Linux, set between fork and exec).
//
// This is the station's only contact with processes and pipes, so that
// another system can supply its own version of this file's implementation
// (station_child_posix.cpp on POSIX systems).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// How a child process ended.
struct ChildExit {
    int m_nStatus = -1;      // exit status, or 128 + the signal that ended it
    bool m_bSignalled = false;
    std::string m_strHow;    // "exited with status 2", "killed by signal 11 (Segmentation fault)"
};

class StationChild {
public:
    // Starts program with args (argv[0] is program) and "--events" naming a
    // pipe; the child gets its own process group, so that a Ctrl-C at the
    // terminal reaches only the station, which forwards it, and SIGINT,
    // SIGTERM and SIGHUP as a shell would give them (default, unblocked).
    // nullptr with *reason when the child cannot be started.
    static std::unique_ptr<StationChild> Start(const std::string& program, const std::vector<std::string>& args,
                                               std::string* reason);
    // Kills and reaps a child that is still running.
    ~StationChild();
    StationChild(const StationChild&) = delete;
    StationChild& operator=(const StationChild&) = delete;

    // Moves what the child has written to its events pipe so far into *data
    // without blocking. False once the pipe is at its end (the child has
    // closed it, normally by ending).
    bool ReadEvents(std::string* data);

    // Asks the child to cancel, as Ctrl-C (SIGINT) or SIGTERM would; a
    // stopped child is continued, so that it can.
    void Cancel(int signal);
    // Ends the child at once (SIGKILL).
    void Kill();
    // The child's process id, for SignalProcess.
    int Id() const { return m_nPid; }
    // Sends signal to process id; async-signal-safe, for any thread.
    static void SignalProcess(int id, int signal);

    // Reaps the child if it has ended (never blocks); true once it has, with
    // *exit set.
    bool TryReap(ChildExit* exit);

    // Blocks until one of children has events to read or has ended, wakeFd
    // or controlWake (-1 for none; a StationWake's handle) is readable, or
    // deadline passes; returns at once when one of them is ready already.
    // Interrupted waits return early.
    static void WaitForAny(const std::vector<StationChild*>& children, int wakeFd,
                           std::chrono::steady_clock::time_point deadline, long long controlWake = -1);

    // This program's own path, for running itself again.
    static std::string OwnProgramPath(const char* argv0);

private:
    StationChild() = default;

    int m_nPid = -1;
    int m_nEventsFd = -1;   // read end of the events pipe, -1 once at its end
    int m_nExitFd = -1;     // readable once the child has ended (-1 where the system has none)
    bool m_bReaped = false;
};
