#include "ui/wx/wx_app.h"

#include "platform/message_box.h"
#include "res/strings.h"
#include "ui/downloader_app.h"
#include "ui/gui_entry.h"
#include "ui/run_outcome.h"
#include "ui/wx/wx_front_end.h"
#include "ui/wx/wx_message_box.h"
#include "ui/wx/wx_posted_messages.h"

#include <cstdio>
#include <string>
#include <vector>

#include <wx/log.h>
#ifdef _WIN32
#include "platform/system_win32.h"
#endif

bool WxDownloaderApp::OnInit() {
    // No command line of wx's own: main() has parsed the program's options.
    SetAppName(wxString::FromUTF8(kApplicationName));
    SetAppDisplayName(wxString::FromUTF8(kApplicationName));
    // The toolkit's own diagnostics go to stderr, never into a box of their own.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    return true;
}

int RunDownloaderApp(const GuiOptions& options, WxFrontEnd& frontEnd, WxMessageBoxPresenter& presenter,
                     const RunOutcome& outcome) {
    MessageBoxPresenter* previous = SetMessageBoxPresenter(&presenter);
    bool workersStopped = true;
    {
        WxPostedMessagePump pump;
        DownloaderApp app(options.m_settings);
        app.InitInstance(frontEnd);
        workersStopped = app.WorkersStopped();
    }
    if (!workersStopped)
        EndProcessNow(outcome.ExitStatus());
    SetMessageBoxPresenter(previous);
    return outcome.ExitStatus();
}

WxToolkitSession::~WxToolkitSession() {
    if (!m_bStarted)
        return;
    wxTheApp->OnExit();
    wxEntryCleanup();
}

bool WxToolkitSession::Start(const std::string& programName) {
    // The options were main()'s to read: wx sees the program name only.
    m_args = {programName.empty() ? std::string("receiver-downloader") : programName};
    m_argv = {m_args[0].data(), nullptr};
    int argc = 1;
    wxApp::SetInstance(new WxDownloaderApp);
    if (!wxEntryStart(argc, m_argv.data()))
        return false;
    m_bStarted = true;
    return wxTheApp->CallOnInit();
}

#ifdef _WIN32
namespace {

// The program is a console program, so that the terminal mode writes to the
// console it was started from and that console waits for it. Started from
// Explorer, the system gives it a console window of its own, which the GUI
// does not want: a console shared with no other process is given back.
void ReleaseOwnConsole() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1)
        FreeConsole();
}

}  // namespace
#endif

RunResult RunGui(const GuiOptions& options) {
#ifdef _WIN32
    ReleaseOwnConsole();
#endif
    WxToolkitSession session;
    const std::string programName = options.m_argc > 0 && options.m_argv ? options.m_argv[0] : "";
    if (!session.Start(programName)) {
        const std::string text = "Cannot open the display; run with --no-gui for the terminal mode.";
        std::fprintf(stderr, "%s\n", text.c_str());
        return {RunEnd::Failed, {0, text}};
    }
    RunOutcome outcome;
    WxFrontEnd frontEnd(options, &outcome);
    WxMessageBoxPresenter presenter(&outcome);
    RunDownloaderApp(options, frontEnd, presenter, outcome);
    return outcome.Result();
}
