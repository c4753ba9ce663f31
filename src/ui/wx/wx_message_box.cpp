#include "ui/wx/wx_message_box.h"

#include "res/strings.h"
#include "ui/run_outcome.h"
#include "ui/wx/wx_posted_messages.h"

#include <cstdio>
#include <future>

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>

void ShowWxMessageBox(const std::string& text) {
    wxMessageBox(wxString::FromUTF8(text.c_str()), wxString::FromUTF8(kApplicationName), wxOK | wxCENTRE);
}

WxMessageBoxPresenter::WxMessageBoxPresenter(RunOutcome* outcome, ShowFunction show)
    : m_pOutcome(outcome), m_show(show ? std::move(show) : ShowFunction(ShowWxMessageBox)) {}

void WxMessageBoxPresenter::Show(const std::string& text) {
    if (m_pOutcome)
        m_pOutcome->NoteMessage(text);
    if (wxThread::IsMain()) {
        ScheduleDispatchOfPostedMessages();  // the box's own loop delivers them
        m_show(text);
        return;
    }
    wxAppConsole* app = wxTheApp;
    if (app == nullptr) {  // no UI thread to show it on any more
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    // Widgets belong to the UI thread: it shows the box; this thread waits
    // until the operator has dismissed it, as a modal box makes it wait.
    std::promise<void> dismissed;
    std::future<void> done = dismissed.get_future();
    app->CallAfter([this, &text, &dismissed] {
        ScheduleDispatchOfPostedMessages();
        m_show(text);
        dismissed.set_value();
    });
    done.wait();
}
