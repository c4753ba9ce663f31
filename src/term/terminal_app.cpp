#include "term/terminal_app.h"

#include <unistd.h>

#include <vector>

#include "platform/message_box.h"
#include "ui/downloader_app.h"
#include "ui/run_outcome.h"
#include "platform/interrupt_watcher.h"
#include "term/progress_display.h"
#include "events/run_events.h"
#include "upload/script_check.h"
#include "platform/utf8_path.h"

namespace {

// The first event: the port, the script given on the command line (none
// when it is asked for later) and its data files.
void ReportStart(const PortSettings& settings, const std::string& script, RunEvents& events) {
    events.SetPort(PortNameFor(settings));
    std::string fullPath;
    std::vector<ScriptDataFile> files;
    if (!script.empty()) {
        fullPath = AbsoluteUtf8Path(script);
        files = CheckScript(fullPath).m_dataFiles;
    }
    events.Started(fullPath, files);
}

}  // namespace

int RunTerminal(const PortSettings& settings, const TerminalOptions& options) {
    if (options.m_pEvents)
        ReportStart(settings, options.m_strScript, *options.m_pEvents);
    std::FILE* out = options.m_pOperatorOut;
    ProgressDisplay display(out, isatty(fileno(out)) == 1);
    RunOutcome outcome;
    InterruptWatcher interrupts;
    if (RunEvents* events = options.m_pEvents) {
        interrupts.SetForcedExitHook([events](int status) {
            events->TryEnd(status, "Cancelled again before the cancel was through: ended at once.");
        });
    }
    interrupts.Start();
    TerminalFrontEnd frontEnd(options, display, outcome, &interrupts, stderr);
    MessageBoxPresenter* previous = SetMessageBoxPresenter(&frontEnd);

    DownloaderApp app(settings);
    app.InitInstance(frontEnd);

    const int status = outcome.ExitStatus();
    // A worker still uses the shared state and this front end: end the
    // process without unwinding under it (the port is closed already).
    if (!app.WorkersStopped()) {
        if (options.m_pEvents)
            options.m_pEvents->End(status);
        EndProcessNow(status);
    }
    SetMessageBoxPresenter(previous);
    interrupts.Stop();
    return status;
}
