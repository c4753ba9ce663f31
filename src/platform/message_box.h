// Modal message boxes with one OK button.
//
// ShowMessageBox() may be called from any thread and returns only once the
// operator has dismissed the box (the GUI marshals it to its UI thread and
// waits; the terminal prints it; tests record it). The front end installs
// the presenter; without one the text goes to stderr.
#pragma once

#include <cstdint>
#include <string>

// One message box: what it reports, as the id of its text, and the text as
// shown. The id is what a run's outcome is decided by (never the text):
// a string-table id, or one of the ids the program gives its other texts.
struct OperatorMessage {
    std::uint32_t m_nId = 0;  // 0: a text that reports nothing of the run
    std::string m_strText;
};

class MessageBoxPresenter {
public:
    virtual ~MessageBoxPresenter() = default;
    // Shows the message and blocks the calling thread until it is dismissed.
    virtual void Show(const OperatorMessage& message) = 0;
    // The application is ending: a thread blocked in Show() waiting for a
    // box that another thread (the UI thread) was to show returns now, and
    // later calls of that kind return at once; their texts go to stderr. A
    // presenter whose boxes never wait for another thread keeps the default,
    // which does nothing.
    virtual void ReleaseWaiters() {}
};

// Installs presenter (not owned; nullptr restores the stderr default) and
// returns the one it replaces.
MessageBoxPresenter* SetMessageBoxPresenter(MessageBoxPresenter* presenter);

void ShowMessageBox(const OperatorMessage& message);

// Calls ReleaseWaiters() on the installed presenter, if any.
void ReleaseMessageBoxWaiters();
