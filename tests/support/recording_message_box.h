// A message-box presenter for tests: records every text instead of showing
// it, from any thread, and returns at once (as if OK were pressed).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_box.h"

class RecordingMessageBox : public MessageBoxPresenter {
public:
    void Show(const OperatorMessage& message) override;

    // The texts shown so far, oldest first.
    std::vector<std::string> Texts() const;
    std::size_t Count() const;
    void Clear();

    // Blocks until at least count texts have been shown or timeout has
    // passed (a guard against hangs for texts shown by worker threads).
    // Returns whether count was reached.
    bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_shown;
    std::vector<std::string> m_texts;
};

// A message box that stays up (its Show() blocks the thread that shows it)
// until the test dismisses it; every later one returns at once.
class GatedMessageBox : public MessageBoxPresenter {
public:
    void Show(const OperatorMessage& message) override;
    // Blocks until a text has been shown or timeout has passed.
    bool WaitShown(std::chrono::milliseconds timeout);
    void Dismiss();
    std::vector<std::string> Texts();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_texts;
    bool m_bDismissed = false;
};

// Installs presenter for its lifetime and then puts back the one it
// replaced.
class ScopedMessageBoxPresenter {
public:
    explicit ScopedMessageBoxPresenter(MessageBoxPresenter* presenter);
    ~ScopedMessageBoxPresenter();
    ScopedMessageBoxPresenter(const ScopedMessageBoxPresenter&) = delete;
    ScopedMessageBoxPresenter& operator=(const ScopedMessageBoxPresenter&) = delete;

private:
    MessageBoxPresenter* m_pPrevious;
};

// A RecordingMessageBox that is installed while it lives.
class InstalledRecordingMessageBox : public RecordingMessageBox {
public:
    InstalledRecordingMessageBox() : m_install(this) {}

private:
    ScopedMessageBoxPresenter m_install;
};
