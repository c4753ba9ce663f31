// FrontEnd: what the Connect sequence needs from a toolkit, beyond
// DialogHost: running a dialog modally and asking for the script file.
// Message boxes go through platform/message_box.h.
#pragma once

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
};
