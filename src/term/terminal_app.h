// The whole application run in the terminal.
#pragma once

#include "events/run_events.h"
#include "link/port_setup.h"
#include "term/terminal_front_end.h"
#include "ui/run_outcome.h"

// Runs DownloaderApp with a TerminalFrontEnd on the operator stream and
// stderr (with options.m_pEvents, after the "started" event), Ctrl-C,
// SIGTERM and SIGHUP handled as Cancel, and returns what the run came to.
// If a worker thread is still running when the application has ended (it
// did not stop within the bounded wait), the process ends here with the
// result's exit status (after the "end" event) rather than returning under
// it. Otherwise the caller writes the end.
RunResult RunTerminal(const PortSettings& settings, const TerminalOptions& options);

// The "end" event that reports result.
RunEndReport EndReportOf(const RunResult& result);
