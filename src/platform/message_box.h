// Modal message boxes with one OK button.
//
// ShowMessageBox() may be called from any thread and returns only once the
// operator has dismissed the box (the GUI marshals it to its UI thread and
// waits; the terminal prints it; tests record it). The front end installs
// the presenter; without one the text goes to stderr.
#pragma once

#include <string>


class MessageBoxPresenter {
public:
    virtual ~MessageBoxPresenter() = default;
    // Shows text and blocks the calling thread until it is dismissed.
    virtual void Show(const std::string& text) = 0;
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

void ShowMessageBox(const std::string& text);

// Calls ReleaseWaiters() on the installed presenter, if any.
void ReleaseMessageBoxWaiters();
