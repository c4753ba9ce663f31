// Ctrl-C and Ctrl-Break on Windows: the console control handler, which the
// system runs on a thread of its own, counts the request and wakes the
// modal loop; no helper thread is needed.
#include "platform/win32_api.h"

#include <atomic>
#include <cstdlib>

#include "platform/window.h"
#include "ui/run_outcome.h"
#include "ui/term/interrupt_watcher.h"

namespace {

std::atomic<InterruptWatcher*> g_pWatcher{nullptr};
std::atomic<int> g_nReceived{0};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;  // closing the console or logging off: the default ends the process
    InterruptWatcher* watcher = g_pWatcher.load(std::memory_order_acquire);
    if (!watcher)
        return FALSE;
    if (g_nReceived.fetch_add(1) >= 1) {
        // The first request has not ended the run: stop now.
        static const char kText[] = "\nInterrupted again: exiting.\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
        std::_Exit(kExitCancelled);
    }
    watcher->RequestCancel();
    return TRUE;
}

}  // namespace

InterruptWatcher::~InterruptWatcher() { Stop(); }

bool InterruptWatcher::Start() {
    if (m_bStarted)
        return true;
    g_nReceived = 0;
    g_pWatcher.store(this, std::memory_order_release);
    if (!SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
        g_pWatcher.store(nullptr, std::memory_order_release);
        return false;
    }
    m_bStarted = true;
    return true;
}

void InterruptWatcher::Stop() {
    if (!m_bStarted)
        return;
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_pWatcher.store(nullptr, std::memory_order_release);
    m_bStarted = false;
}

void InterruptWatcher::RequestCancel() {
    m_nPending.fetch_add(1);
    WakeMessageLoop();
}

bool InterruptWatcher::TakeInterrupt() {
    int pending = m_nPending.load();
    while (pending > 0)
        if (m_nPending.compare_exchange_weak(pending, pending - 1))
            return true;
    return false;
}

bool InterruptWatcher::InterruptPending() const { return m_nPending.load() > 0; }
