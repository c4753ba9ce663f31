// InterruptWatcher: turns Ctrl-C (SIGINT), SIGTERM and SIGHUP into a cancel
// request for the terminal's modal loop.
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

    // Readable while a request is pending (until TakeInterrupt), for a wait
    // in poll() that must also end on a cancel request. -1 before Start().
    int WakeFd() const { return m_nWakeFd; }

private:
    void Watch();

    int m_anPipe[2] = {-1, -1};
    int m_nWakeFd = -1;
    std::thread m_thread;
    std::atomic<int> m_nPendingSignal{0};
    std::atomic<int> m_nReceived{0};
    bool m_bStarted = false;
    std::function<void(int)> m_forcedExitHook;
};
