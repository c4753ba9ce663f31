#include "platform/message_box.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<MessageBoxPresenter*> g_presenter{nullptr};
}

MessageBoxPresenter* SetMessageBoxPresenter(MessageBoxPresenter* presenter) {
    return g_presenter.exchange(presenter, std::memory_order_acq_rel);
}

void ShowMessageBox(const OperatorMessage& message) {
    if (MessageBoxPresenter* presenter = g_presenter.load(std::memory_order_acquire)) {
        presenter->Show(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.m_strText.c_str());
}

void ReleaseMessageBoxWaiters() {
    if (MessageBoxPresenter* presenter = g_presenter.load(std::memory_order_acquire))
        presenter->ReleaseWaiters();
}
