// RunOutcome: what one run of the application came to, as a value.
//
// Each way a run can end is decided where it happens: a message box reports
// it by the id of its text (OperatorMessage), a front end reports its own
// ends (a time-out, a cancel) as a RunEnd. RunOutcome collects them from any
// thread; the exit status, the run's "end" event and the station's counts
// all read the RunResult it gives, never a displayed text.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/exit_status.h"
#include "platform/message_box.h"

// How a run ended.
enum class RunEnd : std::uint8_t {
    Incomplete,          // nothing said it ended: no download took place
    Completed,           // the whole script was carried out
    PortFailed,          // the port could not be opened or set up
    CommunicationError,  // the receiver answered ERROR, or the line failed
    SettingsRefused,     // the Port Setup dialog's settings could not be taken
    ScriptMissing,       // the chosen script does not exist
    ScriptFault,         // the script or one of its data files cannot be carried out
    DataFileChanged,     // a data file's bytes as sent differ from those checked at the start
    WaitTimedOut,        // no receiver connected within the time limit
    ReceiverSilent,      // the receiver fell silent during the upload
    Cancelled,           // the operator or a signal cancelled
    Failed,              // any other failure the operator was told of
};

struct RunResult {
    RunEnd m_end = RunEnd::Incomplete;
    // The message that reported it (id 0 when none did), and the detail
    // lines shown after it, each on a line of its own.
    OperatorMessage m_message;
    std::string m_strDetails;
    // Cancelled by a signal: its number (0: by the operator).
    int m_nSignal = 0;

    // kExitSuccess for Completed; kExitCancelled, or 128 + the signal, for
    // Cancelled; kExitFailure for the rest.
    int ExitStatus() const;
    // The operator text of the outcome with its details; never "": a plain
    // statement of the result when no message reported it.
    std::string Text() const;
};

class RunOutcome {
public:
    // A message box the operator was shown (from any thread). A message of
    // a normal run (see IsInformational) changes nothing, but the success
    // message, which completes the run unless something else ended it.
    void NoteMessage(const OperatorMessage& message);
    // A detail line shown after the last message (the device and the
    // system's reason after "Unable to open port").
    void NoteDetail(const std::string& text);
    // An end the front end itself decided (a time-out), with the text it
    // showed for it. The first end noted stands.
    void NoteEnd(RunEnd end, const std::string& text);
    // The operator cancelled a dialog (Cancel button, Esc: signal 0), or a
    // signal did (SIGINT, SIGTERM, SIGHUP). The first cancel stands, and
    // stands above any other end.
    void NoteCancelled(int signal = 0);
    // The run failed in a way that showed no message of its own.
    void NoteFailure();

    RunResult Result() const;
    int ExitStatus() const { return Result().ExitStatus(); }

    // The texts shown, oldest first.
    std::vector<std::string> Messages() const;

    // True for the messages of a normal run that report no trouble: the
    // start-up notice, "Connection established", "Select .CMD script file
    // provided." and the success message.
    static bool IsInformational(std::uint32_t messageId);

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
    std::optional<RunResult> m_end;  // the first end noted, cancels aside
    std::optional<int> m_cancelSignal;
    bool m_bCompleted = false;
    bool m_bFailed = false;
};
