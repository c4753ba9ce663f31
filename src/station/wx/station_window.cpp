#include "station/wx/station_window.h"

#include "platform/exit_status.h"
#include "station/wx/station_frame.h"
#include "ui/wx/wx_app.h"

#include <cstdio>

#include <wx/app.h>
#include <wx/event.h>
#include <wx/stdpaths.h>

int RunStationWindow(const StationWindowOptions& options) {
    WxToolkitSession session;
    if (!session.Start(options.m_strProgramName)) {
        std::fprintf(stderr, "Cannot open the display; run with --no-gui for the terminal station.\n");
        return kExitFailure;
    }
#ifndef _WIN32
    // The remembered choices in ~/.config/receiver-downloader/.
    wxStandardPaths::Get().SetFileLayout(wxStandardPaths::FileLayout_XDG);
#endif
    // Idle and update-UI events only for windows that ask for them: the
    // window has many, none of which needs them, and the loop wakes on every
    // event the ports send.
    wxIdleEvent::SetMode(wxIDLE_PROCESS_SPECIFIED);
    wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);
    int status = kExitCancelled;
    auto* frame = new StationFrame(options);
    frame->ReportExitStatusTo(&status);
    frame->Show();
    wxTheApp->SetTopWindow(frame);
    // Until the window has closed (and with it the last top-level window).
    wxTheApp->OnRun();
    return status;
}
