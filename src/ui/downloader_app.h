// DownloaderApp: one start of the application.
#pragma once

#include "link/port_setup.h"
#include "platform/win_types.h"

class FrontEnd;

class DownloaderApp {
public:
    // initialSettings seeds the Port Setup dialog (a device chosen on the
    // command line, say).
    explicit DownloaderApp(PortSettings initialSettings = {});

    // Resets the shared state, runs the Port Setup dialog modally through
    // frontEnd (start-up notice, Connect sequence), then waits a bounded
    // time for worker threads still running so that the process does not
    // end under them. Returns FALSE: the application ends afterwards.
    BOOL InitInstance(FrontEnd& frontEnd);

    // Bound of the final wait for the worker threads.
    static constexpr int kExitJoinTimeoutMs = 5000;

private:
    PortSettings m_initialSettings;
};
