#include "ui/wx/wx_app.h"

#include "link/port_setup.h"
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

bool WxDownloaderApp::OnInit() {
    // No command line of wx's own: main() has parsed the program's options.
    SetAppName(wxString::FromUTF8(kApplicationName));
    SetAppDisplayName(wxString::FromUTF8(kApplicationName));
    return true;
}

namespace {

int RunDownloader(const GuiOptions& options) {
    RunOutcome outcome;
    WxFrontEnd frontEnd(options, &outcome);
    WxMessageBoxPresenter presenter(&outcome);
    MessageBoxPresenter* previous = SetMessageBoxPresenter(&presenter);
    {
        WxPostedMessagePump pump;
        PortSettings settings;
        settings.m_strDevice = options.m_strDevice;
        DownloaderApp app(settings);
        app.InitInstance(frontEnd);
    }
    SetMessageBoxPresenter(previous);
    return outcome.ExitStatus();
}

}  // namespace

int RunGui(const GuiOptions& options) {
    // wx may rewrite the argument list it is given; hand it a copy.
    std::vector<std::string> args;
    for (int i = 0; i < options.m_argc && options.m_argv != nullptr; ++i)
        args.emplace_back(options.m_argv[i]);
    if (args.empty())
        args.emplace_back("receiver-downloader");
    args.resize(1);  // the options were main()'s to read
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());

    wxApp::SetInstance(new WxDownloaderApp);
    if (!wxEntryStart(argc, argv.data())) {
        std::fprintf(stderr, "Cannot open the display; run with --no-gui for the terminal mode.\n");
        return kExitFailure;
    }
    int status = kExitFailure;
    if (wxTheApp->CallOnInit())
        status = RunDownloader(options);
    wxTheApp->OnExit();
    wxEntryCleanup();
    return status;
}
