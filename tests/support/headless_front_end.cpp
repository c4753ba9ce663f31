#include "support/headless_front_end.h"

#include <algorithm>

#include "link/shared_state.h"
#include "platform/serial_port.h"
#include "platform/window.h"

namespace {
using SteadyClock = std::chrono::steady_clock;
}

class HeadlessFrontEnd::Host : public DialogHost {
public:
    explicit Host(HeadlessFrontEnd& owner) : m_owner(owner) {}

    void SetItemText(int controlId, const std::string& text) override { m_owner.m_texts[controlId].push_back(text); }
    void SetProgressPos(int, int position) override { m_owner.m_positions.push_back(position); }
    int GetRadioIndex(int firstButtonId) override {
        if (auto it = m_owner.m_radioOverrides.find(firstButtonId); it != m_owner.m_radioOverrides.end())
            return it->second;
        auto it = m_radio.find(firstButtonId);
        return it == m_radio.end() ? -1 : it->second;
    }
    void SetRadioIndex(int firstButtonId, int index) override { m_radio[firstButtonId] = index; }
    void SetTimer(UINT id, UINT periodMs) override {
        m_owner.m_timers.emplace_back(id, periodMs);
        m_timerId = id;
        m_period = std::chrono::milliseconds(periodMs);
        m_due = SteadyClock::now() + m_period;
        m_bTimer = true;
    }
    void DialogEnded(int) override {}

    // Ticks the timer when due; returns when the next tick is due.
    SteadyClock::time_point Tick(Dialog& dialog) {
        if (!m_bTimer || !m_owner.m_bTimersRun)
            return SteadyClock::time_point::max();
        if (SteadyClock::now() >= m_due) {
            m_due = SteadyClock::now() + m_period;
            dialog.OnTimer(m_timerId);
        }
        return m_due;
    }

private:
    HeadlessFrontEnd& m_owner;
    std::map<int, int> m_radio;
    bool m_bTimer = false;
    UINT m_timerId = 0;
    std::chrono::milliseconds m_period{0};
    SteadyClock::time_point m_due{};
};

HeadlessFrontEnd::HeadlessFrontEnd() : m_pPreviousPresenter(SetMessageBoxPresenter(this)) {}

HeadlessFrontEnd::~HeadlessFrontEnd() { SetMessageBoxPresenter(m_pPreviousPresenter); }

void HeadlessFrontEnd::QueueAction(int templateId, Action action) {
    m_actions[templateId].push_back(std::move(action));
}

void HeadlessFrontEnd::QueueScriptChoice(std::optional<std::string> path) {
    m_scriptChoices.push_back(std::move(path));
}

void HeadlessFrontEnd::SetWhileMessageShown(std::function<void(const std::string&)> hook) {
    m_whileMessageShown = std::move(hook);
}

void HeadlessFrontEnd::OverrideRadio(int firstButtonId, int index) { m_radioOverrides[firstButtonId] = index; }

int HeadlessFrontEnd::DoModal(Dialog& dialog) {
    Action action;
    if (auto it = m_actions.find(dialog.TemplateId()); it != m_actions.end() && !it->second.empty()) {
        action = it->second.front();
        if (it->second.size() > 1)
            it->second.pop_front();
    }
    m_opened.push_back(dialog.TemplateId());
    Host host(*this);
    dialog.Attach(&host);
    dialog.OnInitDialog();
    const auto giveUpAt = SteadyClock::now() + m_safetyTimeout;
    for (int round = 0; !dialog.IsEnded(); ++round) {
        if (action)
            action(dialog, round);
        if (dialog.IsEnded())
            break;
        if (SteadyClock::now() >= giveUpAt) {
            m_bTimedOut = true;
            dialog.OnCancel();
            break;
        }
        DispatchPostedMessages();
        if (dialog.IsEnded())
            break;
        const auto nextTick = host.Tick(dialog);
        if (dialog.IsEnded())
            break;
        // Short sleeps keep scripted actions that look at the clock or at
        // shared flags responsive; messages wake the wait at once.
        const auto now = SteadyClock::now();
        const auto wakeAt = std::min({nextTick, giveUpAt, now + std::chrono::milliseconds(20)});
        WaitForPostedMessage(std::chrono::ceil<std::chrono::milliseconds>(std::max(wakeAt - now, SteadyClock::duration::zero())));
    }
    const int result = dialog.Result();
    dialog.Detach();
    m_results.emplace_back(dialog.TemplateId(), result);
    return result;
}

bool HeadlessFrontEnd::ChooseScriptFile(std::string* path) {
    ++m_nScriptChoices;
    if (m_scriptChoices.empty())
        return false;
    std::optional<std::string> choice = m_scriptChoices.front();
    m_scriptChoices.pop_front();
    if (!choice)
        return false;
    *path = *choice;
    return true;
}

void HeadlessFrontEnd::ShowDetail(const std::string& text) { m_details.push_back(text); }

bool HeadlessFrontEnd::WaitForWorkerThreads(std::chrono::milliseconds timeout) {
    const SerialPort* port = g_hComm.load();
    const bool portClosed = port == nullptr || port->IsClosed();
    const bool stopped = FrontEnd::WaitForWorkerThreads(timeout);
    m_workerWaits.push_back({portClosed, stopped});
    return stopped;
}

void HeadlessFrontEnd::Show(const OperatorMessage& message) {
    const std::string& text = message.m_strText;
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({text, g_bAbort.IsSet()});
    }
    if (m_whileMessageShown)
        m_whileMessageShown(text);
}

std::vector<std::string> HeadlessFrontEnd::Messages() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> texts;
    for (const ShownMessage& message : m_messages)
        texts.push_back(message.text);
    return texts;
}

std::vector<HeadlessFrontEnd::ShownMessage> HeadlessFrontEnd::ShownMessages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<std::string> HeadlessFrontEnd::TextsOf(int controlId) const {
    auto it = m_texts.find(controlId);
    return it == m_texts.end() ? std::vector<std::string>{} : it->second;
}
