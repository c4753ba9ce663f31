#include "platform/message_box.h"

#include <atomic>
#include <cstdio>


namespace {
std::atomic<MessageBoxPresenter*> g_presenter{nullptr};
}

MessageBoxPresenter* SetMessageBoxPresenter(MessageBoxPresenter* presenter) {
    return g_presenter.exchange(presenter, std::memory_order_acq_rel);
}

void ShowMessageBox(const std::string& text) {
    if (MessageBoxPresenter* presenter = g_presenter.load(std::memory_order_acquire)) {
        presenter->Show(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void ReleaseMessageBoxWaiters() {
    if (MessageBoxPresenter* presenter = g_presenter.load(std::memory_order_acquire))
        presenter->ReleaseWaiters();
}
