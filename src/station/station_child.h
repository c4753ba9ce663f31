// StationChild: one download run by the station, as a child process: the
// program itself with --no-gui, its port, the script and its events written
// into a pipe the station reads. Its operator text goes to the null device.
// It never outlives the station: once the station has ended, however (even
// when killed), the child cancels or is ended. On Linux the child gets
// SIGHUP, which it answers as a cancel (PR_SET_PDEATHSIG, set between fork
// and exec); on Windows every child is in the station's job object, which
// the system ends with the station, and its standard input is its lifeline
// (see WatchStationLifeline in platform/interrupt_watcher.h).
//
// This is the station's only contact with processes and pipes: each system
// has its own file (station_child.cpp on POSIX systems, station_child_win32.cpp)
// behind this one interface.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// How a child process ended.
struct ChildExit {
    int m_nStatus = -1;      // exit status, or 128 + the signal that ended it
    bool m_bSignalled = false;  // ended from outside, or crashed: not by its own exit
    std::string m_strHow;    // "exited with status 2", "killed by signal 11 (Segmentation fault)"
};

class StationChild {
public:
    // Starts program with args (argv[0] is program) and its events into a
    // pipe (POSIX: "--events /dev/fd/3"; Windows: "--events-handle N", an
    // inherited handle), so that a Ctrl-C at the terminal reaches only the
    // station, which forwards it: on POSIX in a process group of its own,
    // with SIGINT, SIGTERM and SIGHUP as a shell would give them (default,
    // unblocked); on Windows without a console, its standard input the
    // lifeline the station passes its signals on by. nullptr with *reason
    // when the child cannot be started.
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
    // Ends the child at once (SIGKILL; Windows: TerminateProcess).
    void Kill();

    // Reaps the child if it has ended (never blocks); true once it has, with
    // *exit set.
    bool TryReap(ChildExit* exit);

    // Blocks until one of children has events to read or has ended,
    // WakeWaiter() is called, or deadline passes; returns at once when one
    // of them is ready already, or a wake-up came since the last wait.
    static void WaitForAny(const std::vector<StationChild*>& children,
                           std::chrono::steady_clock::time_point deadline);
    // Ends the WaitForAny in progress, or else the next one, at once. Any
    // thread (the interrupt watcher's, as a signal comes); never blocks.
    static void WakeWaiter();

    // Passes signal on to every running child as a second one, which makes
    // it put its port back and end at once, for the interrupt watcher's
    // thread as a second signal ends the station. Never waits for the
    // station's thread. On POSIX it returns at once (the children end by
    // themselves); on Windows, where the station's end ends its children (the
    // job object), once they have ended or a few seconds have passed.
    static void EndAllAtOnce(int signal);

    // This program's own path, for running itself again.
    static std::string OwnProgramPath(const char* argv0);

private:
    StationChild();

    // The system's process and pipe handles (each system's file has its own).
    struct System;
    std::unique_ptr<System> m_system;
};
