// The whole application run in the terminal.
#pragma once

#include "link/port_setup.h"
#include "term/terminal_front_end.h"

// Runs DownloaderApp with a TerminalFrontEnd on the operator stream and
// stderr (with options.m_pEvents, after the "started" event), Ctrl-C,
// SIGTERM and SIGHUP handled as Cancel, and returns the exit status (ui/run_outcome.h). If a
// worker thread is still running when the application has ended (it did
// not stop within the bounded wait), the process ends here with that status
// (after the "end" event) rather than returning under it. Otherwise the
// caller writes the end.
int RunTerminal(const PortSettings& settings, const TerminalOptions& options);
