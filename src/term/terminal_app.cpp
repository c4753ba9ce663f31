#include "term/terminal_app.h"

#include <unistd.h>

#include <vector>

#include "events/event_names.h"
#include "platform/interrupt_watcher.h"
#include "platform/message_box.h"
#include "platform/utf8_path.h"
#include "term/progress_display.h"
#include "ui/downloader_app.h"
#include "upload/script_check.h"

namespace {

// The first event: the port, the script given on the command line (none
// when it is asked for later) and its data files.
void ReportStart(const PortSettings& settings, const std::string& script, RunEvents& events) {
    events.SetPort(PortNameFor(settings));
    std::string fullPath;
    std::vector<RunEventsFile> files;
    if (!script.empty()) {
        fullPath = AbsoluteUtf8Path(script);
        for (const ScriptDataFile& file : CheckScript(fullPath).m_dataFiles)
            files.push_back({file.m_strPath, file.m_qwLength});
    }
    events.Started(fullPath, files);
}

const char* OutcomeName(RunEnd end) {
    switch (end) {
    case RunEnd::Incomplete: return event::outcome::kIncomplete;
    case RunEnd::Completed: return event::outcome::kCompleted;
    case RunEnd::PortFailed: return event::outcome::kPortFailed;
    case RunEnd::CommunicationError: return event::outcome::kCommunicationError;
    case RunEnd::SettingsRefused: return event::outcome::kSettingsRefused;
    case RunEnd::ScriptMissing: return event::outcome::kScriptMissing;
    case RunEnd::ScriptFault: return event::outcome::kScriptFault;
    case RunEnd::WaitTimedOut: return event::outcome::kWaitTimedOut;
    case RunEnd::ReceiverSilent: return event::outcome::kReceiverSilent;
    case RunEnd::Cancelled: return event::outcome::kCancelled;
    case RunEnd::Failed: return event::outcome::kFailed;
    }
    return event::outcome::kFailed;
}

const char* ResultName(RunEnd end) {
    switch (end) {
    case RunEnd::Completed: return event::result::kSuccess;
    case RunEnd::Cancelled: return event::result::kCancelled;
    default: return event::result::kError;
    }
}

}  // namespace

RunEndReport EndReportOf(const RunResult& result) {
    return {result.ExitStatus(), ResultName(result.m_end), OutcomeName(result.m_end), result.Text()};
}

RunResult RunTerminal(const PortSettings& settings, const TerminalOptions& options) {
    if (options.m_pEvents)
        ReportStart(settings, options.m_strScript, *options.m_pEvents);
    std::FILE* out = options.m_pOperatorOut;
    ProgressDisplay display(out, isatty(fileno(out)) == 1);
    RunOutcome outcome;
    InterruptWatcher interrupts;
    if (RunEvents* events = options.m_pEvents) {
        interrupts.SetForcedExitHook([events](int status) {
            events->TryEnd({status, event::result::kCancelled, event::outcome::kCancelled,
                            "Cancelled again before the cancel was through: ended at once."});
        });
    }
    interrupts.Start();
    TerminalFrontEnd frontEnd(options, display, outcome, &interrupts, stderr);
    MessageBoxPresenter* previous = SetMessageBoxPresenter(&frontEnd);

    DownloaderApp app(settings);
    app.InitInstance(frontEnd);

    const RunResult result = outcome.Result();
    // A worker still uses the shared state and this front end: end the
    // process without unwinding under it (the port is closed already).
    if (!app.WorkersStopped()) {
        if (options.m_pEvents)
            options.m_pEvents->End(EndReportOf(result));
        EndProcessNow(result.ExitStatus());
    }
    SetMessageBoxPresenter(previous);
    interrupts.Stop();
    return result;
}
