// The entry into the wxWidgets front end, for the program's main() and the
// demo. Defined in ui/wx/ only when the program is built with the GUI
// (RD_WITH_GUI); callers test that macro before calling it.
#pragma once

#include <string>

#include "link/port_setup.h"
#include "ui/run_outcome.h"

struct GuiOptions {
    // The Port Setup dialog's initial settings: the Com button selected
    // (--com N) and, in m_strDevice, a device that Connect opens instead of
    // COM1..COM4 (--port; "" keeps the Com buttons' own devices), which the
    // dialog shows.
    PortSettings m_settings;
    // Folder the script file dialog starts in ("" for the current folder).
    std::string m_strScriptFolder;
    // True when the demo runs: the receiver is simulated inside the process.
    bool m_bDemo = false;
    // The program's arguments, for the toolkit's own start-up.
    int m_argc = 0;
    char** m_argv = nullptr;
};

// Runs the whole application in the GUI: DownloaderApp::InitInstance with a
// wx front end. Returns what the run came to (ui/run_outcome.h); a failure
// also when the display cannot be opened.
RunResult RunGui(const GuiOptions& options);
