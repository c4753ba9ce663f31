#include "ui/downloader_app.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "link/shared_state.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "ui/front_end.h"
#include "ui/port_setup_dialog.h"

DownloaderApp::DownloaderApp(PortSettings initialSettings) : m_initialSettings(std::move(initialSettings)) {}

BOOL DownloaderApp::InitInstance(FrontEnd& frontEnd) {
    ResetSharedState();
    {
        PortSetupDialog dialog(frontEnd, m_initialSettings);
        frontEnd.DoModal(dialog);
    }
    m_bWorkersStopped = ShutDown();
    return FALSE;
}

bool DownloaderApp::ShutDown() {
    // Nothing may reach the receiver from here on.
    if (!g_bUploadFinished)
        g_bAbort.Set();
    // The dialogs have ended: a box a worker is waiting for would never be
    // answered.
    ReleaseMessageBoxWaiters();
    const bool stopped = JoinWorkerThreads(std::chrono::milliseconds(kExitJoinTimeoutMs));
    CloseCommPort();
    return stopped;
}

void EndProcessNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    RestoreOpenPortsNow();
    std::_Exit(status);
}
