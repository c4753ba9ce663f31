#include "ui/run_outcome.h"

#include "res/strings.h"

void RunOutcome::NoteMessage(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back(text);
}

void RunOutcome::NoteCancelled(int signal) {
    std::lock_guard lock(m_mutex);
    if (m_bCancelled)
        return;
    m_bCancelled = true;
    m_nCancelStatus = signal > 0 ? kExitSignalBase + signal : kExitCancelled;
}

void RunOutcome::NoteFailure() {
    std::lock_guard lock(m_mutex);
    m_bFailed = true;
}

bool RunOutcome::IsInformational(const std::string& text) {
    for (UINT id : {IDS_STARTUP_NOTICE, IDS_CONNECTION_ESTABLISHED, IDS_SELECT_SCRIPT, IDS_DOWNLOAD_COMPLETED})
        if (text == LoadResString(id))
            return true;
    return false;
}

int RunOutcome::ExitStatus() const {
    std::lock_guard lock(m_mutex);
    if (m_bCancelled)
        return m_nCancelStatus;
    if (m_bFailed)
        return kExitFailure;
    const std::string success = LoadResString(IDS_DOWNLOAD_COMPLETED);
    bool succeeded = false;
    for (const std::string& text : m_messages) {
        if (text == success)
            succeeded = true;
        else if (!IsInformational(text))
            return kExitFailure;
    }
    return succeeded ? kExitSuccess : kExitFailure;
}

std::vector<std::string> RunOutcome::Messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}
