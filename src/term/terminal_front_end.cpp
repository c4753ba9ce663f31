#include "term/terminal_front_end.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "link/shared_state.h"
#include "platform/window.h"
#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/run_outcome.h"
#include "platform/interrupt_watcher.h"
#include "term/progress_display.h"
#include "events/run_events.h"
#include "term/script_precheck.h"
#include "platform/utf8_path.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// The link thread of this attempt has stopped by itself: it set g_bAbort
// (the receiver sent "ERROR") and is no longer running. The operator's Back
// and Cancel set g_bAbort too, but they end the dialog at once.
bool LinkEndedOnItsOwn() { return g_bAbort.IsSet() && !g_bLinkRunning.IsSet(); }

// The event loop sleeps in WaitForPostedMessage: the link flags it looks at
// must wake it as a posted message does.
void WakeOnLinkFlags(const SharedFlag* flag) {
    if (flag == nullptr || flag == &g_bAbort || flag == &g_bLinkRunning)
        WakeMessageLoop();
}

// Wakes the event loop on link flag changes while it lives.
class LinkFlagWakeUp {
public:
    LinkFlagWakeUp() { SetStateChangeHook(&WakeOnLinkFlags); }
    ~LinkFlagWakeUp() { SetStateChangeHook(nullptr); }
    LinkFlagWakeUp(const LinkFlagWakeUp&) = delete;
    LinkFlagWakeUp& operator=(const LinkFlagWakeUp&) = delete;
};

// When the receiver counts as silent during the upload: limit after the
// last frame heard from it, or after the upload began if that is later.
class SilenceDeadline {
public:
    SilenceDeadline(int seconds, SteadyClock::time_point start)
        : m_limit(seconds), m_start(start), m_bArmed(seconds > 0) {}

    // The time at which to look again; time_point::max() without a limit.
    SteadyClock::time_point Due() const {
        return m_bArmed ? std::max(g_tLastHeard.Load(), m_start) + m_limit : SteadyClock::time_point::max();
    }
    bool Expired(SteadyClock::time_point now) const { return now >= Due(); }

private:
    std::chrono::seconds m_limit;
    SteadyClock::time_point m_start;
    bool m_bArmed;
};

}  // namespace

// The DialogHost of one running dialog: controls become lines on the
// display, timers are deadlines of the modal loop.
class TerminalFrontEnd::Host : public DialogHost {
public:
    Host(ProgressDisplay& display, RunEvents* events) : m_display(display), m_pEvents(events) {}

    void CommandQueued(const std::string& command) override { m_strCommand = command; }
    void FileSent(const std::string& path, std::uint64_t bytes, const std::string& sha256) override {
        if (m_pEvents)
            m_pEvents->FileSent(path, bytes, sha256);
    }
    void SetItemText(int controlId, const std::string& text) override {
        if (controlId == IDC_COMMAND_TEXT) {
            m_display.Command(text);
            if (m_pEvents)
                m_pEvents->Command(m_strCommand, text);
        } else if (controlId == IDC_PERCENT_TEXT) {
            m_display.Percent(text);
            // The dialog's once-a-second refresh, from the counters it
            // showed.
            if (m_pEvents)
                m_pEvents->Progress(g_dwBytesSent.Load(), g_dwFileLength.Load());
        }
    }
    void SetProgressPos(int, int position) override { m_display.Position(position); }
    int GetRadioIndex(int firstButtonId) override {
        auto it = m_radio.find(firstButtonId);
        return it == m_radio.end() ? -1 : it->second;
    }
    void SetRadioIndex(int firstButtonId, int index) override { m_radio[firstButtonId] = index; }
    void SetTimer(UINT id, UINT periodMs) override {
        const auto period = std::chrono::milliseconds(periodMs);
        std::erase_if(m_timers, [id](const Timer& t) { return t.id == id; });
        m_timers.push_back({id, period, SteadyClock::now() + period});
    }
    void DialogEnded(int) override { m_display.Finish(); }

    // Ticks every timer that is due; returns the next deadline (or
    // time_point::max() without timers).
    SteadyClock::time_point TickDueTimers(Dialog& dialog) {
        const auto now = SteadyClock::now();
        for (std::size_t i = 0; i < m_timers.size() && !dialog.IsEnded(); ++i) {
            Timer& timer = m_timers[i];
            if (timer.due > now)
                continue;
            // A late tick is not repeated: the next one is a period from now.
            timer.due = std::max(timer.due + timer.period, now + std::chrono::milliseconds(1));
            dialog.OnTimer(timer.id);
        }
        auto next = SteadyClock::time_point::max();
        for (const Timer& timer : m_timers)
            next = std::min(next, timer.due);
        return next;
    }

private:
    struct Timer {
        UINT id;
        std::chrono::milliseconds period;
        SteadyClock::time_point due;
    };
    ProgressDisplay& m_display;
    RunEvents* m_pEvents;
    std::string m_strCommand;  // the command whose line is shown next
    std::map<int, int> m_radio;
    std::vector<Timer> m_timers;
};

TerminalFrontEnd::TerminalFrontEnd(TerminalOptions options, ProgressDisplay& display, RunOutcome& outcome,
                                   InterruptWatcher* interrupts, std::FILE* details)
    : m_options(std::move(options)),
      m_display(display),
      m_outcome(outcome),
      m_pInterrupts(interrupts),
      m_pDetails(details) {}

std::string TerminalFrontEnd::TimeoutText(int seconds) {
    return "No connection with the receiver within " + std::to_string(seconds) + " seconds: gave up waiting.";
}

std::string TerminalFrontEnd::SilenceText(int seconds) {
    return "The receiver has sent nothing for " + std::to_string(seconds) +
           " seconds: download stopped.\nThe receiver holds an incomplete image: run the download again.";
}

std::string TerminalFrontEnd::DownloadCancelledText() {
    return "Download cancelled.\nThe receiver holds an incomplete image: run the download again.";
}

std::string TerminalFrontEnd::NothingSentText() {
    return "Download cancelled before anything was sent to the receiver.";
}

int TerminalFrontEnd::DoModal(Dialog& dialog) {
    RunEvents* events = m_options.m_pEvents;
    Host host(m_display, events);
    dialog.Attach(&host);
    if (events && dialog.TemplateId() == IDD_PORT_INIT) {
        // The connection wait opens only on a port that has opened.
        events->PortOpened(m_strNotice);
        events->Waiting();
    }
    dialog.OnInitDialog();
    if (dialog.TemplateId() == IDD_PORT_SETUP)
        RunPortSetup(dialog);
    else
        RunEventLoop(dialog, host);
    const int result = dialog.Result();
    dialog.Detach();
    m_display.Finish();
    if (events)
        ReportDialogEnd(dialog.TemplateId(), result, *events);
    return result;
}

void TerminalFrontEnd::ReportDialogEnd(int templateId, int result, RunEvents& events) {
    if (templateId == IDD_PORT_INIT && result == IDOK) {
        events.Connected();
    } else if (templateId == IDD_UPLOAD) {
        // Where the upload stopped within a data file not sent whole, for
        // the bytes the end reports.
        events.Progress(g_dwBytesSent.Load(), g_dwFileLength.Load());
    }
}

void TerminalFrontEnd::ShowEnd(RunEnd end, const std::string& text) {
    m_outcome.NoteEnd(end, text);
    m_display.Line(text);
}

void TerminalFrontEnd::RunPortSetup(Dialog& dialog) {
    // A script given on the command line is known now: its faults are told
    // before the port is opened and the receiver powered on for nothing.
    const bool scriptPasses =
        m_options.m_strScript.empty() || ScriptPassesPrecheck(AbsoluteUtf8Path(m_options.m_strScript), *this, *this);
    if (!dialog.IsEnded() && !TakeCancel(dialog) && scriptPasses)
        dialog.OnCommand(IDC_CONNECT);
    // Still open: the port could not be opened or the wait gave up. With no
    // operator to choose again, close it.
    if (!dialog.IsEnded())
        dialog.OnCancel();
}

bool TerminalFrontEnd::TakeCancel(Dialog& dialog) {
    const int signal = m_pInterrupts ? m_pInterrupts->TakeInterrupt() : 0;
    if (signal == 0)
        return false;
    m_display.Finish();
    m_outcome.NoteCancelled(signal);
    // Stops the worker threads: nothing more goes out.
    dialog.OnCancel();
    if (dialog.TemplateId() == IDD_UPLOAD)
        ShowEnd(RunEnd::Cancelled, DownloadCancelledText());
    return true;
}

void TerminalFrontEnd::RunEventLoop(Dialog& dialog, Host& host) {
    const LinkFlagWakeUp wakeUp;
    const auto opened = SteadyClock::now();
    auto giveUpAt = SteadyClock::time_point::max();
    SilenceDeadline silence(0, opened);
    if (dialog.TemplateId() == IDD_PORT_INIT) {
        m_display.Line("Power on the receiver.\n\nWaiting for Connection...");
        if (m_options.m_nTimeoutSeconds > 0)
            giveUpAt = opened + std::chrono::seconds(m_options.m_nTimeoutSeconds);
    } else if (dialog.TemplateId() == IDD_UPLOAD) {
        silence = SilenceDeadline(m_options.m_nTimeoutSeconds, opened);
    }
    while (!dialog.IsEnded()) {
        if (TakeCancel(dialog))
            break;
        DispatchPostedMessages();
        if (dialog.IsEnded())
            break;
        const auto nextTick = host.TickDueTimers(dialog);
        if (dialog.IsEnded())
            break;
        const auto now = SteadyClock::now();
        if (dialog.TemplateId() == IDD_PORT_INIT && LinkEndedOnItsOwn()) {
            // The receiver reported an error and the link has stopped: no
            // link can come up in this attempt, and nobody is here to press
            // Back or Cancel.
            m_outcome.NoteFailure();
            dialog.OnCommand(IDC_BACK);
            break;
        }
        if (now >= giveUpAt) {
            ShowEnd(RunEnd::WaitTimedOut, TimeoutText(m_options.m_nTimeoutSeconds));
            // As Back: the attempt is abandoned and its link thread stopped.
            dialog.OnCommand(IDC_BACK);
            break;
        }
        if (silence.Expired(now)) {
            m_outcome.NoteEnd(RunEnd::ReceiverSilent, SilenceText(m_options.m_nTimeoutSeconds));
            // As Cancel: both worker threads stop, nothing more goes out.
            dialog.OnCancel();
            m_display.Line(SilenceText(m_options.m_nTimeoutSeconds));
            break;
        }
        // Every event the loop acts on wakes it: posted messages, link flag
        // changes, cancel requests; the rest are deadlines.
        const auto wakeAt = std::min({nextTick, giveUpAt, silence.Due()});
        if (wakeAt == SteadyClock::time_point::max())
            WaitForPostedMessage();
        else
            WaitForPostedMessage(std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now));
    }
}

bool TerminalFrontEnd::ChooseScriptFile(std::string* path) {
    std::string chosen = m_options.m_strScript;
    if (chosen.empty()) {
        if (!m_options.m_bPromptForScript)
            return false;
        m_display.Line("Cmd Scripts (*.cmd) - enter the script's path (empty to cancel):");
        // Wait for the line, or for a cancel request.
        for (;;) {
            if (const int signal = m_pInterrupts ? m_pInterrupts->TakeInterrupt() : 0) {
                m_outcome.NoteCancelled(signal);
                ShowEnd(RunEnd::Cancelled, NothingSentText());
                return false;
            }
            if (!m_pInterrupts || m_pInterrupts->WaitForInput())
                break;
        }
        char buffer[4096];
        if (std::fgets(buffer, sizeof buffer, stdin) == nullptr)
            return false;
        chosen = buffer;
        while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r'))
            chosen.pop_back();
        if (chosen.empty())
            return false;
        // As the file dialog does: a typed name without extension gets ".cmd".
        if (!PathFromUtf8(chosen).has_extension())
            chosen += ".cmd";
    }
    *path = AbsoluteUtf8Path(chosen);  // as the file dialog would give it
    return true;
}

void TerminalFrontEnd::ShowDetail(const std::string& text) {
    m_display.Finish();
    std::fprintf(m_pDetails, "receiver-downloader: %s\n", text.c_str());
    std::fflush(m_pDetails);
    m_outcome.NoteDetail(text);
}

void TerminalFrontEnd::ShowNotice(const std::string& text) {
    m_display.Finish();
    std::fprintf(m_pDetails, "receiver-downloader: %s\n", text.c_str());
    std::fflush(m_pDetails);
    m_strNotice = text;
}

void TerminalFrontEnd::Show(const OperatorMessage& message) {
    m_outcome.NoteMessage(message);
    m_display.Message(message.m_strText);
}
