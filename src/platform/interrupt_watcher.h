// InterruptWatcher: turns Ctrl-C (SIGINT), SIGTERM and SIGHUP into a cancel
// request for the terminal's modal loop. (On Windows: Ctrl-C and Ctrl-Break,
// through the console control handler, count as SIGINT; closing the console
// as SIGHUP; and a station's child run gets its station's signals over its
// lifeline, see WatchStationLifeline. See interrupt_watcher_win32.cpp.)
//
// On POSIX systems the signals are blocked from Start() to Stop() and a
// helper thread takes them from a signalfd; it keeps the request and wakes
// the modal loop (WakeMessageLoop), which then cancels the dialog that is
// open. A second signal while the first is still being acted on ends the
// process at once
// with 128 + that signal, after every open port has been put back to the
// settings it was found with (RestoreOpenPortsNow), so that the operator
// always has a way out and the device is never left raw.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

// Threads started while one of these exists leave the watched signals to
// the watcher (on POSIX systems a thread inherits the mask it was started
// with). For threads that must exist before the watcher starts, such as the
// demo's simulated receiver. Nothing on Windows, where no thread takes them.
class WatchedSignalsBlocked {
public:
    WatchedSignalsBlocked();
    ~WatchedSignalsBlocked();
    WatchedSignalsBlocked(const WatchedSignalsBlocked&) = delete;
    WatchedSignalsBlocked& operator=(const WatchedSignalsBlocked&) = delete;

#ifndef _WIN32
private:
    sigset_t m_previousMask{};
#endif
};

class InterruptWatcher {
public:
    InterruptWatcher() = default;
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Blocks the signals in the calling thread (threads it starts afterwards
    // inherit that) and starts the helper thread. Call it before starting
    // the run's threads, and Stop() from the same thread.
    // Only one watcher may run at a time. False when the descriptors or the
    // thread cannot be made (the signals then keep their previous effect).
    // A signal that came while they were blocked before (the program holds
    // them from its start while it sets up) is the first request, pending
    // as Start() returns.
    bool Start();
    // Set before Start(): a signal that is ignored then is not watched and
    // stays ignored (a shell starts a background job with SIGINT ignored,
    // nohup a command with SIGHUP ignored).
    void KeepIgnoredSignalsIgnored() { m_bKeepIgnored = true; }
    // Called on the helper thread just before a second signal ends the
    // process, with the exit status. It must not wait for the UI thread.
    // Set before Start().
    void SetForcedExitHook(std::function<void(int status)> hook) { m_forcedExitHook = std::move(hook); }
    // Called on the watcher's thread (the console handler's on Windows) each
    // time a cancel request has become pending, so that a caller asleep in a
    // wait of its own can be woken (the station's wait for its children).
    // It must not block. Set before Start().
    void SetRequestHook(std::function<void()> hook) { m_requestHook = std::move(hook); }
    // Stops the helper thread, drops signals that are still pending, and
    // restores the calling thread's mask.
    void Stop();

    // Consumes the pending cancel request: returns the signal that made it,
    // or 0 when none is pending.
    int TakeInterrupt();

    // Sleeps until standard input has something to read (true) or a cancel
    // request is pending (false). Before Start(), waits for input alone.
    bool WaitForInput();

#ifdef _WIN32
    // Takes a request from the console control handler's thread.
    void Deliver(int signal);
#else
    // Readable while a cancel request is pending, for a caller that waits in
    // poll() on descriptors of its own as well (the station). -1 before Start().
    int WakeFd() const { return m_nWakeFd; }
#endif

private:
    void Watch();
#ifndef _WIN32
    int NextSignal();
    void TakeRequest(int signal);
    void CloseAll();
#endif

#ifdef _WIN32
    void* m_hWakeEvent = nullptr;  // set while a request is pending
#else
    std::optional<WatchedSignalsBlocked> m_blocked;  // from Start() to Stop()
    int m_nSignalFd = -1;
    int m_nStopFd = -1;  // readable once Stop() asks the helper to end
    int m_nWakeFd = -1;  // readable while a request is pending
    std::thread m_thread;
#endif
    std::atomic<int> m_nPendingSignal{0};
    std::atomic<int> m_nReceived{0};
    bool m_bStarted = false;
    bool m_bKeepIgnored = false;
    std::function<void(int)> m_forcedExitHook;
    std::function<void()> m_requestHook;
};

#ifdef _WIN32
// For a station's child run on Windows, whose standard input is its
// lifeline: a pipe that only its station writes. Each byte is a signal
// number the station passes on (2 SIGINT, 15 SIGTERM, 1 SIGHUP), taken as a
// Ctrl-C is: the first cancels the run, a second ends it at once after the
// port has been put back. The pipe's end means the station is gone, and
// counts as SIGHUP. A signal that comes while no watcher runs is kept for the
// next Start() (a second one then ends the process at once, as above).
// Does nothing when standard input is no pipe. False when the thread that
// reads it cannot be started.
bool WatchStationLifeline();
#endif
