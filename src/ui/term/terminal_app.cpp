#include "ui/term/terminal_app.h"

#include <unistd.h>

#include "platform/message_box.h"
#include "ui/downloader_app.h"
#include "ui/run_outcome.h"
#include "ui/term/interrupt_watcher.h"
#include "ui/term/progress_display.h"

int RunTerminal(const PortSettings& settings, const TerminalOptions& options) {
    ProgressDisplay display(stdout, isatty(STDOUT_FILENO) == 1);
    RunOutcome outcome;
    InterruptWatcher interrupts;
    interrupts.Start();
    TerminalFrontEnd frontEnd(options, display, outcome, &interrupts, stderr);
    MessageBoxPresenter* previous = SetMessageBoxPresenter(&frontEnd);

    DownloaderApp app(settings);
    app.InitInstance(frontEnd);

    const int status = outcome.ExitStatus();
    // A worker still uses the shared state and this front end: end the
    // process without unwinding under it (the port is closed already).
    if (!app.WorkersStopped())
        EndProcessNow(status);
    SetMessageBoxPresenter(previous);
    interrupts.Stop();
    return status;
}
