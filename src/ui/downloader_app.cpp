#include "ui/downloader_app.h"

#include <chrono>
#include <utility>

#include "link/shared_state.h"
#include "ui/front_end.h"
#include "ui/port_setup_dialog.h"

DownloaderApp::DownloaderApp(PortSettings initialSettings) : m_initialSettings(std::move(initialSettings)) {}

BOOL DownloaderApp::InitInstance(FrontEnd& frontEnd) {
    ResetSharedState();
    {
        PortSetupDialog dialog(frontEnd, m_initialSettings);
        frontEnd.DoModal(dialog);
    }
    // Worker threads use the shared state and the frame buffers, which are
    // torn down when the process ends: let them finish first.
    frontEnd.WaitForWorkerThreads(std::chrono::milliseconds(kExitJoinTimeoutMs));
    return FALSE;
}
