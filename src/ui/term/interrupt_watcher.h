// InterruptWatcher: turns Ctrl-C (SIGINT), SIGTERM and SIGHUP into a cancel
// request for the terminal's modal loop. (On Windows: Ctrl-C and Ctrl-Break,
// through the console control handler, count as SIGINT; closing the console
// as SIGHUP. See interrupt_watcher_win32.cpp.)
//
// The signal handler only writes the signal's number to a pipe; a helper
// thread reads it, keeps the request and wakes the modal loop
// (WakeMessageLoop), which then cancels the dialog that is open. A second
// signal while the first is still being acted on ends the process at once
// with 128 + that signal, after every open port has been put back to the
// settings it was found with (RestoreOpenPortsNow), so that the operator
// always has a way out and the device is never left raw.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

class InterruptWatcher {
public:
    InterruptWatcher() = default;
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Installs the handlers and starts the helper thread. Only one watcher
    // may run at a time. False when the pipe or thread cannot be made (the
    // signals then keep their previous effect).
    bool Start();
    // Called on the helper thread just before a second signal ends the
    // process, with the exit status. It must not wait for the UI thread.
    // Set before Start().
    void SetForcedExitHook(std::function<void(int status)> hook) { m_forcedExitHook = std::move(hook); }
    // Restores the previous dispositions and stops the helper thread.
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

#ifdef _WIN32
    void* m_hWakeEvent = nullptr;  // set while a request is pending
#else
    int m_anPipe[2] = {-1, -1};
    int m_nWakeFd = -1;  // readable while a request is pending
    std::thread m_thread;
#endif
    std::atomic<int> m_nPendingSignal{0};
    std::atomic<int> m_nReceived{0};
    bool m_bStarted = false;
    std::function<void(int)> m_forcedExitHook;
};
