// The wxWidgets application object. The application's work is done by
// RunGui (ui/gui_entry.h) between wx's start-up and clean-up, outside wx's
// main loop: each dialog runs its own modal loop and the application ends
// when the Port Setup dialog has.
#pragma once

// The project's own headers come before wx's everywhere in this directory:
// wx defines TRUE and FALSE as macros, which would clash with win_types.h.
#include "platform/win_types.h"

#include <string>
#include <vector>

#include <wx/app.h>

struct GuiOptions;
class RunOutcome;
class WxFrontEnd;
class WxMessageBoxPresenter;

// The application in a started toolkit session: DownloaderApp seeded with
// options.m_settings and run by frontEnd, presenter showing the message
// boxes, posted messages delivered through wx's event queue. Returns the
// exit status outcome gives; if a worker thread did not stop when the
// application ended, ends the process with it (EndProcessNow) instead.
int RunDownloaderApp(const GuiOptions& options, WxFrontEnd& frontEnd, WxMessageBoxPresenter& presenter,
                     const RunOutcome& outcome);

class WxDownloaderApp : public wxApp {
public:
    bool OnInit() override;
};

// wx's start-up and clean-up for one run of the GUI (or one test process):
// Start() opens the display with a WxDownloaderApp; the destructor cleans up
// what Start() set up.
class WxToolkitSession {
public:
    WxToolkitSession() = default;
    ~WxToolkitSession();
    WxToolkitSession(const WxToolkitSession&) = delete;
    WxToolkitSession& operator=(const WxToolkitSession&) = delete;

    // programName is argv[0] for the toolkit. False (with nothing left set
    // up) when the display cannot be opened.
    bool Start(const std::string& programName);

private:
    bool m_bStarted = false;
    std::vector<std::string> m_args;
    std::vector<char*> m_argv;
};
