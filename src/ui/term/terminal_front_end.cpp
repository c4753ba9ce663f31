#include "ui/term/terminal_front_end.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <utility>
#include <vector>

#include "link/shared_state.h"
#include "platform/window.h"
#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/run_outcome.h"
#include "ui/term/interrupt_watcher.h"
#include "ui/term/progress_display.h"
#include "ui/term/stdin_wait.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long the loop sleeps at most when nothing is due: a safety net only,
// every event it waits for wakes it.
constexpr auto kMaxSleep = std::chrono::seconds(1);

// The link thread of this attempt has stopped by itself: it set g_bAbort
// (the receiver sent "ERROR") and is no longer running. The operator's Back
// and Cancel set g_bAbort too, but they end the dialog at once.
bool LinkEndedOnItsOwn() { return g_bAbort.IsSet() && !g_bLinkRunning.IsSet(); }

}  // namespace

// The DialogHost of one running dialog: controls become lines on the
// display, timers are deadlines of the modal loop.
class TerminalFrontEnd::Host : public DialogHost {
public:
    explicit Host(ProgressDisplay& display) : m_display(display) {}

    void SetItemText(int controlId, const std::string& text) override {
        if (controlId == IDC_COMMAND_TEXT)
            m_display.Command(text);
        else if (controlId == IDC_PERCENT_TEXT)
            m_display.Percent(text);
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

int TerminalFrontEnd::DoModal(Dialog& dialog) {
    Host host(m_display);
    dialog.Attach(&host);
    dialog.OnInitDialog();
    if (dialog.TemplateId() == IDD_PORT_SETUP)
        RunPortSetup(dialog);
    else
        RunEventLoop(dialog, host);
    const int result = dialog.Result();
    dialog.Detach();
    m_display.Finish();
    return result;
}

void TerminalFrontEnd::RunPortSetup(Dialog& dialog) {
    if (!dialog.IsEnded() && !TakeCancel(dialog))
        dialog.OnCommand(IDC_CONNECT);
    // Still open: the port could not be opened or the wait gave up. With no
    // operator to choose again, close it.
    if (!dialog.IsEnded())
        dialog.OnCancel();
}

bool TerminalFrontEnd::TakeCancel(Dialog& dialog) {
    if (m_pInterrupts == nullptr || !m_pInterrupts->TakeInterrupt())
        return false;
    m_display.Finish();
    m_outcome.NoteCancelled();
    dialog.OnCancel();
    return true;
}

void TerminalFrontEnd::RunEventLoop(Dialog& dialog, Host& host) {
    auto giveUpAt = SteadyClock::time_point::max();
    if (dialog.TemplateId() == IDD_PORT_INIT) {
        m_display.Line("Power on the receiver.\n\nWaiting for Connection...");
        if (m_options.m_nTimeoutSeconds > 0)
            giveUpAt = SteadyClock::now() + std::chrono::seconds(m_options.m_nTimeoutSeconds);
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
            m_display.Line(TimeoutText(m_options.m_nTimeoutSeconds));
            m_outcome.NoteFailure();
            // As Back: the attempt is abandoned and its link thread stopped.
            dialog.OnCommand(IDC_BACK);
            break;
        }
        const auto wakeAt = std::min({nextTick, giveUpAt, now + kMaxSleep});
        WaitForPostedMessage(std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now));
    }
}

bool TerminalFrontEnd::ChooseScriptFile(std::string* path) {
    std::string chosen = m_options.m_strScript;
    if (chosen.empty()) {
        if (!m_options.m_bPromptForScript)
            return false;
        m_display.Line("Cmd Scripts (*.cmd) - enter the script's path (empty to cancel):");
        // Wait for the line without blocking Ctrl-C: poll stdin in short
        // steps and look at the interrupt requests in between.
        for (;;) {
            if (m_pInterrupts && m_pInterrupts->TakeInterrupt()) {
                m_outcome.NoteCancelled();
                return false;
            }
            if (WaitForStandardInput(std::chrono::milliseconds(200)))
                break;
        }
        char buffer[4096];
        if (std::fgets(buffer, sizeof buffer, stdin) == nullptr) {
            if (m_pInterrupts && m_pInterrupts->TakeInterrupt())
                m_outcome.NoteCancelled();
            return false;
        }
        chosen = buffer;
        while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r'))
            chosen.pop_back();
        if (chosen.empty())
            return false;
        // As the file dialog does: a typed name without extension gets ".cmd".
        if (!std::filesystem::path(chosen).has_extension())
            chosen += ".cmd";
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(chosen, error);
    *path = error ? chosen : absolute.lexically_normal().string();
    return true;
}

void TerminalFrontEnd::ShowDetail(const std::string& text) {
    m_display.Finish();
    std::fprintf(m_pDetails, "receiver-downloader: %s\n", text.c_str());
    std::fflush(m_pDetails);
}

void TerminalFrontEnd::Show(const std::string& text) {
    m_outcome.NoteMessage(text);
    m_display.Message(text);
}
