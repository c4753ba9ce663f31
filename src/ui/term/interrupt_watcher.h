// InterruptWatcher: turns Ctrl-C (SIGINT; on Windows the console's Ctrl-C
// and Ctrl-Break) into a cancel request for the terminal's modal loop.
//
// The signal handler only writes a byte to a pipe; a helper thread reads it,
// counts the request and wakes the modal loop (WakeMessageLoop), which then
// cancels the dialog that is open. A second Ctrl-C while the first is still
// being acted on ends the process at once with status 130, so that the
// operator always has a way out.
#pragma once

#include <atomic>
#include <thread>

class InterruptWatcher {
public:
    InterruptWatcher() = default;
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Installs the SIGINT handler and starts the helper thread. Only one
    // watcher may run at a time. False when the pipe or thread cannot be
    // made (Ctrl-C then keeps its default effect).
    bool Start();
    // Restores the previous SIGINT disposition and stops the helper thread.
    void Stop();

    // Consumes one pending cancel request; true if there was one.
    bool TakeInterrupt();
    bool InterruptPending() const;

    // Counts one cancel request and wakes the modal loop (the handler's
    // side; any thread).
    void RequestCancel();

private:
    void Watch();

    int m_anPipe[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<int> m_nPending{0};
    std::atomic<int> m_nReceived{0};
    bool m_bStarted = false;
};
