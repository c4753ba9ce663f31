// The benchmark's view of the programs it runs: child processes with their
// output in memory files, and what /proc tells about a running one.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using BenchClock = std::chrono::steady_clock;

// A program started with stdin from /dev/null and stdout and stderr in a
// memory file (so that it never blocks on a full pipe). The destructor kills
// a child that is still running and reaps it.
class ChildProcess {
public:
    // nullptr with *reason when the program cannot be started.
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv, std::string* reason);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    BenchClock::time_point Started() const { return m_started; }

    // Everything the program has written so far.
    std::string Output() const;
    // Waits until the output holds text; false when the program ended first
    // or timeout passed.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);

    void Signal(int signal) const;

    struct Exit {
        int status = -1;            // exit status, or 128 + signal
        double cpuSeconds = 0;      // user + system, all threads
        double maxRssMiB = 0;       // peak resident set
        BenchClock::time_point at;  // when it was reaped
    };
    // Waits up to timeout for the program to end; nullopt if it still runs.
    std::optional<Exit> WaitFor(std::chrono::milliseconds timeout);
    // Waits for the program to end; after timeout it is killed (and the
    // result says so: status 128 + SIGKILL).
    Exit Wait(std::chrono::milliseconds timeout);
    bool Running();

private:
    ChildProcess() = default;
    bool TryReap(int options);

    pid_t m_pid = -1;
    int m_outputFd = -1;
    BenchClock::time_point m_started;
    std::optional<Exit> m_exit;
};

// Figures of a running process from /proc; nullopt once it has gone.
namespace proc {
// CPU time of all its threads, in seconds (scheduler accounting, ns resolution).
std::optional<double> CpuSeconds(pid_t pid);
// CPU time of its children that it has waited for (cutime + cstime of
// /proc/PID/stat), in seconds, at clock-tick resolution.
std::optional<double> WaitedChildrenCpuSeconds(pid_t pid);
// Context switches of all its threads, voluntary and involuntary.
std::optional<std::uint64_t> ContextSwitches(pid_t pid);
// A "Name:  N kB" line of /proc/PID/status, in MiB (VmRSS, VmHWM).
std::optional<double> StatusMiB(pid_t pid, const std::string& field);
// Private_Clean + Private_Dirty from /proc/PID/smaps_rollup, in MiB.
std::optional<double> PrivateMiB(pid_t pid);
// Pss from /proc/PID/smaps_rollup, in MiB: its own pages and its share of
// the pages it shares, so that the figures of several processes add up.
std::optional<double> PssMiB(pid_t pid);
// The process ids of its living children (/proc/PID/task/*/children).
std::vector<pid_t> Children(pid_t pid);
// File names of the shared libraries mapped.
std::vector<std::string> SharedLibraries(pid_t pid);
}  // namespace proc

// The libraries among names that belong to a graphical toolkit or display
// system (GTK, GDK, wxWidgets, X11, Wayland, cairo, pango ...).
std::vector<std::string> GuiLibraries(const std::vector<std::string>& names);
