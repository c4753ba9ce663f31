// DownloaderApp: one start of the application.
#pragma once

#include "link/port_setup.h"
#include "platform/win_types.h"

class FrontEnd;

class DownloaderApp {
public:
    // initialSettings seeds the Port Setup dialog (a COM port or a device
    // chosen on the command line, say).
    explicit DownloaderApp(PortSettings initialSettings = {});

    // Resets the shared state, runs the Port Setup dialog modally through
    // frontEnd (start-up notice, Connect sequence), then shuts the workers
    // down (ShutDown). Returns FALSE: the application ends afterwards.
    BOOL InitInstance(FrontEnd& frontEnd);

    // The one orderly end of a run, for every front end: stops the worker
    // threads (g_bAbort unless the upload has finished; message boxes they
    // wait for are released), waits for them at most kExitJoinTimeoutMs, and
    // closes the port, which puts its original settings back. True when no
    // worker is left; false when one is still running (the port is closed
    // regardless): the caller must then end the process with EndProcessNow,
    // not by returning through static destructors the worker may still use.
    static bool ShutDown();

    // What the last InitInstance's ShutDown returned.
    bool WorkersStopped() const { return m_bWorkersStopped; }

    // Bound of the final wait for the worker threads.
    static constexpr int kExitJoinTimeoutMs = 5000;

private:
    PortSettings m_initialSettings;
    bool m_bWorkersStopped = true;
};

// Flushes stdout and stderr, puts any port still open back to its original
// settings and ends the process with status, running no destructors.
[[noreturn]] void EndProcessNow(int status);
