#include "term/terminal_app.h"

#include <unistd.h>

#include <optional>
#include <vector>

#include "events/event_names.h"
#include "platform/interrupt_watcher.h"
#include "platform/message_box.h"
#include "platform/utf8_path.h"
#include "term/progress_display.h"
#include "ui/downloader_app.h"
#include "upload/expected_data_files.h"

namespace {

// The first event: the port, the script given on the command line (none
// when it is asked for later) and its data files as the run checked them.
void ReportStart(const PortSettings& settings, const std::string& script,
                 const std::vector<ExpectedDataFile>& checked, RunEvents& events) {
    events.SetPort(PortNameFor(settings));
    std::vector<RunEventsFile> files;
    for (const ExpectedDataFile& file : checked)
        files.push_back({file.m_strPath, file.m_qwSize, file.m_strSha256});
    events.Started(script.empty() ? std::string() : AbsoluteUtf8Path(script), files);
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
    case RunEnd::DataFileChanged: return event::outcome::kDataFileChanged;
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
    // The data files of the script given on the command line, checked once
    // at the start: what the started event reports is what the upload holds
    // each file against as it sends it.
    std::vector<ExpectedDataFile> checked;
    std::optional<ScopedExpectedDataFiles> expected;
    if (!options.m_strScript.empty()) {
        checked = MeasureDataFiles(AbsoluteUtf8Path(options.m_strScript));
        expected.emplace(checked);
    }
    if (options.m_pEvents)
        ReportStart(settings, options.m_strScript, checked, *options.m_pEvents);
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
