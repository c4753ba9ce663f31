// HeadlessFrontEnd: runs the dialogs without a display, for tests.
//
// An operator is scripted per dialog template: an action called right after
// OnInitDialog (round 0) and again after every round of posted messages and
// timer ticks (round 1, 2, ...) until the dialog ends. Each DoModal of a
// template takes the next action queued for it (the last one is reused).
// Without an action the dialog just waits for its messages.
//
// Everything seen is recorded: message box texts (from any thread, with
// whether g_bAbort was set when each was shown), control texts, progress
// positions, timers and modal results. A dialog still open after the safety
// time-out is cancelled and the fact recorded, so that a broken sequence
// fails its test instead of hanging it.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/message_box.h"
#include "ui/dialog.h"
#include "ui/front_end.h"

class HeadlessFrontEnd : public FrontEnd, public MessageBoxPresenter {
public:
    using Action = std::function<void(Dialog& dialog, int round)>;

    struct ShownMessage {
        std::string text;
        bool abortSet;  // g_bAbort when the box was shown
    };

    // Installs itself as the message box presenter while it lives.
    HeadlessFrontEnd();
    ~HeadlessFrontEnd() override;

    // Queues the operator's action for the next DoModal of templateId.
    void QueueAction(int templateId, Action action);
    // Queues the answer to the next script file dialog (nullopt: cancelled).
    void QueueScriptChoice(std::optional<std::string> path);
    // Called inside Show() for each message box, as a GUI would go on
    // dispatching posted messages while a box is open (text is the box's).
    void SetWhileMessageShown(std::function<void(const std::string& text)> hook);
    // Radio group selections the host reports, by first button id, instead
    // of what the dialog set.
    void OverrideRadio(int firstButtonId, int index);
    std::chrono::milliseconds m_safetyTimeout{std::chrono::seconds(30)};
    // Real timer ticks at their period; false: no ticks at all.
    bool m_bTimersRun = true;

    // --- FrontEnd --------------------------------------------------------
    int DoModal(Dialog& dialog) override;
    bool ChooseScriptFile(std::string* path) override;
    void ShowDetail(const std::string& text) override;
    // Waits as the default does and records the wait (WorkerWaits).
    bool WaitForWorkerThreads(std::chrono::milliseconds timeout) override;

    // --- MessageBoxPresenter -------------------------------------------
    void Show(const OperatorMessage& message) override;

    // --- What was seen ---------------------------------------------------
    std::vector<std::string> Messages() const;
    std::vector<ShownMessage> ShownMessages() const;
    // (template id, modal result) for each DoModal, in the order they ended.
    std::vector<std::pair<int, int>> Results() const { return m_results; }
    std::vector<int> Opened() const { return m_opened; }
    std::vector<std::string> Details() const { return m_details; }
    std::vector<std::string> TextsOf(int controlId) const;
    std::vector<int> Positions() const { return m_positions; }
    std::vector<std::pair<UINT, UINT>> Timers() const { return m_timers; }
    int ScriptChoicesMade() const { return m_nScriptChoices; }
    struct WorkerWait {
        bool portClosedBefore;  // g_hComm closed (or none) when the wait began
        bool stopped;           // every worker had returned when it ended
    };
    std::vector<WorkerWait> WorkerWaits() const { return m_workerWaits; }
    bool TimedOut() const { return m_bTimedOut; }

private:
    class Host;

    std::map<int, std::deque<Action>> m_actions;
    std::deque<std::optional<std::string>> m_scriptChoices;
    std::map<int, int> m_radioOverrides;
    std::function<void(const std::string&)> m_whileMessageShown;

    mutable std::mutex m_mutex;  // guards m_messages (worker threads show boxes)
    std::vector<ShownMessage> m_messages;
    std::vector<std::pair<int, int>> m_results;
    std::vector<int> m_opened;
    std::vector<std::string> m_details;
    std::map<int, std::vector<std::string>> m_texts;
    std::vector<int> m_positions;
    std::vector<std::pair<UINT, UINT>> m_timers;
    int m_nScriptChoices = 0;
    std::vector<WorkerWait> m_workerWaits;
    bool m_bTimedOut = false;
    MessageBoxPresenter* m_pPreviousPresenter;
};
