#include "ui/wx/wx_message_box.h"

#include "res/strings.h"
#include "ui/run_outcome.h"
#include "ui/wx/wx_posted_messages.h"

#include <cstdio>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>

void ShowWxMessageBox(const std::string& text) {
    wxMessageBox(wxString::FromUTF8(text.c_str()), wxString::FromUTF8(kApplicationName), wxOK | wxCENTRE);
}

WxMessageBoxPresenter::WxMessageBoxPresenter(RunOutcome* outcome, ShowFunction show)
    : m_pOutcome(outcome), m_show(show ? std::move(show) : ShowFunction(ShowWxMessageBox)) {}

// A box a worker thread waits for. Shared with the UI thread's queued call,
// which may run after the worker has been released (and has returned).
struct WxMessageBoxPresenter::Request {
    std::string text;
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;     // dismissed by the operator, or released
    bool started = false;  // the UI thread has taken it
};

void WxMessageBoxPresenter::Show(const OperatorMessage& message) {
    const std::string& text = message.m_strText;
    if (m_pOutcome)
        m_pOutcome->NoteMessage(message);
    if (wxThread::IsMain()) {
        ScheduleDispatchOfPostedMessages();  // the box's own loop delivers them
        m_show(text);
        return;
    }
    auto request = std::make_shared<Request>();
    request->text = text;
    wxAppConsole* app = wxTheApp;
    {
        std::lock_guard lock(m_mutex);
        if (app == nullptr || m_bReleased) {  // no UI thread to show it on any more
            std::fprintf(stderr, "%s\n", text.c_str());
            return;
        }
        m_waiting.push_back(request);
    }
    // Widgets belong to the UI thread: it shows the box; this thread waits
    // until the operator has dismissed it, as a modal box makes it wait.
    app->CallAfter([this, request] {
        {
            std::lock_guard lock(request->mutex);
            if (request->done)
                return;  // released before the UI thread came to it
            request->started = true;
        }
        ScheduleDispatchOfPostedMessages();
        m_show(request->text);
        std::lock_guard lock(request->mutex);
        request->done = true;
        request->answered.notify_all();
    });
    std::unique_lock lock(request->mutex);
    request->answered.wait(lock, [&] { return request->done; });
    lock.unlock();
    std::lock_guard listLock(m_mutex);
    std::erase(m_waiting, request);
}

void WxMessageBoxPresenter::ReleaseWaiters() {
    std::lock_guard listLock(m_mutex);
    m_bReleased = true;
    for (const std::shared_ptr<Request>& request : m_waiting) {
        std::lock_guard lock(request->mutex);
        if (!request->done && !request->started)
            std::fprintf(stderr, "%s\n", request->text.c_str());
        request->done = true;
        request->answered.notify_all();
    }
}
