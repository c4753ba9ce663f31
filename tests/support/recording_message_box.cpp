#include "support/recording_message_box.h"

void RecordingMessageBox::Show(const OperatorMessage& message) {
    {
        std::lock_guard lock(m_mutex);
        m_texts.push_back(message.m_strText);
    }
    m_shown.notify_all();
}

std::vector<std::string> RecordingMessageBox::Texts() const {
    std::lock_guard lock(m_mutex);
    return m_texts;
}

std::size_t RecordingMessageBox::Count() const {
    std::lock_guard lock(m_mutex);
    return m_texts.size();
}

void RecordingMessageBox::Clear() {
    std::lock_guard lock(m_mutex);
    m_texts.clear();
}

bool RecordingMessageBox::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_shown.wait_for(lock, timeout, [&] { return m_texts.size() >= count; });
}

void GatedMessageBox::Show(const OperatorMessage& message) {
    std::unique_lock lock(m_mutex);
    m_texts.push_back(message.m_strText);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_bDismissed; });
}

bool GatedMessageBox::WaitShown(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return !m_texts.empty(); });
}

void GatedMessageBox::Dismiss() {
    std::lock_guard lock(m_mutex);
    m_bDismissed = true;
    m_changed.notify_all();
}

std::vector<std::string> GatedMessageBox::Texts() {
    std::lock_guard lock(m_mutex);
    return m_texts;
}

ScopedMessageBoxPresenter::ScopedMessageBoxPresenter(MessageBoxPresenter* presenter)
    : m_pPrevious(SetMessageBoxPresenter(presenter)) {}

ScopedMessageBoxPresenter::~ScopedMessageBoxPresenter() {
    SetMessageBoxPresenter(m_pPrevious);
}
