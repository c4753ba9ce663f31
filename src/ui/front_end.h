// FrontEnd: what the Connect sequence needs from a toolkit, beyond
// DialogHost: running a dialog modally and asking for the script file.
// Message boxes go through platform/message_box.h.
#pragma once

#include <chrono>
#include <string>

class Dialog;

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Runs dialog modally on the UI thread: attaches a host, calls
    // OnInitDialog, delivers posted messages, timer ticks and operator input
    // until the dialog ends, detaches it and returns its result.
    virtual int DoModal(Dialog& dialog) = 0;

    // The script file dialog: an Open dialog filtered on "Cmd Scripts
    // (*.cmd)", default extension "cmd", initial name "*.cmd". Returns false
    // when the operator cancelled; otherwise *path is the full path of the
    // chosen (or typed) file, which need not exist.
    virtual bool ChooseScriptFile(std::string* path) = 0;

    // Waits, at most timeout, until the worker threads started with
    // AfxBeginThread have returned; true when none is left. Called on the UI
    // thread by the Connect sequence before it closes the port. A toolkit
    // whose worker threads may be waiting for the UI thread (a message box
    // marshalled to it) overrides this to keep serving its events meanwhile.
    // The default blocks in JoinWorkerThreads.
    virtual bool WaitForWorkerThreads(std::chrono::milliseconds timeout);

    // A line of detail that follows an operator message, for the front ends
    // that have room for it (the terminal prints it on stderr): the device
    // path and the system's reason after "Unable to open port". The default
    // shows nothing.
    virtual void ShowDetail(const std::string& text);

    // Something the operator should know that does not stop the run (a
    // slow USB adapter), shown once. The default shows it as a detail.
    virtual void ShowNotice(const std::string& text);
};
