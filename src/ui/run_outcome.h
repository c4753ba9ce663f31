// RunOutcome: what one run of the application came to, judged from the
// operator messages it showed, and the process exit status that follows.
//
// Front ends feed it every text their message box presenter shows (from any
// thread) and tell it when the operator cancelled; main() returns
// ExitStatus().
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/exit_status.h"

class RunOutcome {
public:
    // Records a text shown to the operator.
    void NoteMessage(const std::string& text);
    // The operator cancelled a dialog (Cancel button, Esc: signal 0), or a
    // signal did (SIGINT, SIGTERM, SIGHUP). The first cancel sets the status.
    void NoteCancelled(int signal = 0);
    // The run failed in a way that showed no operator message of the
    // system's own (the connection wait timed out, say).
    void NoteFailure();

    // After a cancel kExitCancelled, or 128 + the signal that cancelled;
    // otherwise kExitSuccess when the success
    // message was shown and no other text but the notices of a normal run;
    // otherwise kExitFailure.
    int ExitStatus() const;

    std::vector<std::string> Messages() const;

    // True for the texts of a normal run that report no trouble: the
    // start-up notice, "Connection established", "Select .CMD script file
    // provided." and the success message.
    static bool IsInformational(const std::string& text);

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
    bool m_bCancelled = false;
    int m_nCancelStatus = kExitCancelled;
    bool m_bFailed = false;
};
