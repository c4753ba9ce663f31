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
