#include "ui/run_outcome.h"

#include "res/strings.h"

namespace {

// The end a message box reports, by the id of its text.
RunEnd EndOfMessage(std::uint32_t id) {
    switch (id) {
    case IDS_UNABLE_TO_OPEN_PORT: return RunEnd::PortFailed;
    case IDS_COMMUNICATION_ERROR: return RunEnd::CommunicationError;
    case IDS_UPDATE_FAILED: return RunEnd::SettingsRefused;
    case IDT_FILE_DOES_NOT_EXIST: return RunEnd::ScriptMissing;
    case IDS_UNKNOWN_COMMAND:
    case IDS_LZSS_FILE_NOT_FOUND:
    case IDS_SCRIPT_UNOPENABLE:
    case IDS_SCRIPT_NOT_REGULAR:
    case IDS_SCRIPT_UNREADABLE:
    case IDS_SCRIPT_UTF16:
    case IDS_SCRIPT_NO_COMMAND:
    case IDS_LZSS_NAME_TOO_LONG:
    case IDS_LZSS_NOT_REGULAR:
    case IDS_LZSS_IS_FOLDER:
    case IDS_LZSS_UNOPENABLE:
    case IDS_LZSS_UNREADABLE:
    case IDS_LZSS_TOO_SHORT:
    case IDS_LZSS_TOO_LARGE:
    case IDS_LZSS_ENDED_EARLY:
        return RunEnd::ScriptFault;
    case IDS_LZSS_CHANGED:
        return RunEnd::DataFileChanged;
    default:
        // "Connection Cancelled" among them: the cancel itself is noted by
        // the front end that took it.
        return RunEnd::Failed;
    }
}

}  // namespace

int RunResult::ExitStatus() const {
    switch (m_end) {
    case RunEnd::Completed:
        return kExitSuccess;
    case RunEnd::Cancelled:
        return m_nSignal > 0 ? kExitSignalBase + m_nSignal : kExitCancelled;
    default:
        return kExitFailure;
    }
}

std::string RunResult::Text() const {
    if (m_end == RunEnd::Completed)
        return LoadResString(IDS_DOWNLOAD_COMPLETED);
    if (!m_message.m_strText.empty())
        return m_message.m_strText + m_strDetails;
    if (m_end == RunEnd::Cancelled && m_nSignal > 0)
        return "Cancelled by signal " + std::to_string(m_nSignal) + ".";
    return "The download did not complete.";
}

bool RunOutcome::IsInformational(std::uint32_t messageId) {
    return messageId == IDS_STARTUP_NOTICE || messageId == IDS_CONNECTION_ESTABLISHED ||
           messageId == IDS_SELECT_SCRIPT || messageId == IDS_DOWNLOAD_COMPLETED;
}

void RunOutcome::NoteMessage(const OperatorMessage& message) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back(message.m_strText);
    if (message.m_nId == IDS_DOWNLOAD_COMPLETED)
        m_bCompleted = true;
    if (IsInformational(message.m_nId) || m_end)
        return;
    m_end.emplace();
    m_end->m_end = EndOfMessage(message.m_nId);
    m_end->m_message = message;
}

void RunOutcome::NoteDetail(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_end && !m_end->m_message.m_strText.empty())
        m_end->m_strDetails += "\n" + text;
}

void RunOutcome::NoteEnd(RunEnd end, const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_end)
        return;
    m_end.emplace();
    m_end->m_end = end;
    m_end->m_message = {0, text};
}

void RunOutcome::NoteCancelled(int signal) {
    std::lock_guard lock(m_mutex);
    if (!m_cancelSignal)
        m_cancelSignal = signal;
}

void RunOutcome::NoteFailure() {
    std::lock_guard lock(m_mutex);
    m_bFailed = true;
}

RunResult RunOutcome::Result() const {
    std::lock_guard lock(m_mutex);
    RunResult result = m_end.value_or(RunResult{});
    if (m_cancelSignal) {
        result.m_end = RunEnd::Cancelled;
        result.m_nSignal = *m_cancelSignal;
    } else if (!m_end) {
        result.m_end = m_bFailed ? RunEnd::Failed : m_bCompleted ? RunEnd::Completed : RunEnd::Incomplete;
    }
    return result;
}

std::vector<std::string> RunOutcome::Messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}
