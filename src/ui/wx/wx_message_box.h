// The GUI's message boxes: modal, one OK button, the application's name as
// caption.
//
// Show() may be called from any thread. On the UI thread it shows the box
// at once; from a worker thread (the link thread's own failure messages) it
// hands the box to the UI thread and blocks the worker until the operator
// has dismissed it. While a box is open the UI thread's nested event loop
// goes on dispatching posted messages and timer ticks.
#pragma once

#include "platform/message_box.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RunOutcome;

class WxMessageBoxPresenter : public MessageBoxPresenter {
public:
    // How a box is put on screen; always called on the UI thread and
    // returns once it is dismissed.
    using ShowFunction = std::function<void(const std::string& text)>;

    // show defaults to ShowWxMessageBox. outcome (optional, not owned)
    // records every message shown.
    explicit WxMessageBoxPresenter(RunOutcome* outcome = nullptr, ShowFunction show = {});

    void Show(const OperatorMessage& message) override;
    // Releases the worker threads waiting for their box (its text goes to
    // stderr); boxes asked for later from worker threads go there at once.
    void ReleaseWaiters() override;

private:
    struct Request;

    RunOutcome* m_pOutcome;
    ShowFunction m_show;
    std::mutex m_mutex;  // guards the two below
    std::vector<std::shared_ptr<Request>> m_waiting;
    bool m_bReleased = false;
};

// wxMessageBox(text, application name, OK) over the active window.
void ShowWxMessageBox(const std::string& text);
