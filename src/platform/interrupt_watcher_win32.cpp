// Ctrl-C on Windows: the console control handler, which the system runs on
// a thread of its own, keeps the request, sets the wake event and wakes the
// modal loop. A second request while the first is still being acted on ends
// the process at once, after every open port has been put back.
// This file calls the system and also wakes the tool's message loop
// (window.h), whose HWND is a small window id where the system's is a
// pointer: the system's is read here under another name.
#define HWND Win32Hwnd
#include "platform/system_win32.h"
#undef HWND

#include <csignal>
#include <cstdlib>

#include "platform/serial_port.h"
#include "platform/window.h"
#include "platform/exit_status.h"
#include "platform/interrupt_watcher.h"

namespace {

// The running watcher, for the handler.
std::atomic<InterruptWatcher*> g_pWatcher{nullptr};

// The POSIX signal number with the same meaning, for the exit status.
int SignalFor(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return SIGINT;
    case CTRL_CLOSE_EVENT:
        return 1;  // SIGHUP: the console went away
    default:
        return 0;  // logoff and shutdown go to the next handler
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int signal = SignalFor(event);
    InterruptWatcher* watcher = g_pWatcher.load(std::memory_order_acquire);
    if (signal == 0 || watcher == nullptr)
        return FALSE;
    watcher->Deliver(signal);
    return TRUE;
}

}  // namespace

WatchedSignalsBlocked::WatchedSignalsBlocked() = default;
WatchedSignalsBlocked::~WatchedSignalsBlocked() = default;

InterruptWatcher::~InterruptWatcher() { Stop(); }

bool InterruptWatcher::Start() {
    if (m_bStarted)
        return true;
    m_hWakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_hWakeEvent == nullptr)
        return false;
    g_pWatcher.store(this, std::memory_order_release);
    if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        g_pWatcher.store(nullptr, std::memory_order_release);
        CloseHandle(m_hWakeEvent);
        m_hWakeEvent = nullptr;
        return false;
    }
    m_bStarted = true;
    return true;
}

void InterruptWatcher::Stop() {
    if (!m_bStarted)
        return;
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_pWatcher.store(nullptr, std::memory_order_release);
    CloseHandle(m_hWakeEvent);
    m_hWakeEvent = nullptr;
    m_bStarted = false;
}

int InterruptWatcher::TakeInterrupt() {
    const int signal = m_nPendingSignal.exchange(0, std::memory_order_acq_rel);
    if (signal != 0 && m_hWakeEvent != nullptr)
        ResetEvent(m_hWakeEvent);
    return signal;
}

void InterruptWatcher::Deliver(int signal) {
    if (m_nReceived.fetch_add(1, std::memory_order_acq_rel) >= 1) {
        // The first request has not ended the run: stop now, but never
        // leave a port changed.
        RestoreOpenPortsNow();
        static const char kText[] = "\nInterrupted again: exiting.\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
        std::_Exit(kExitSignalBase + signal);
    }
    m_nPendingSignal.store(signal, std::memory_order_release);
    SetEvent(m_hWakeEvent);
    WakeMessageLoop();
}

bool InterruptWatcher::WaitForInput() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // A console's input handle is signalled when input events are queued; a
    // pipe or file cannot be waited on this way, and the read itself waits.
    if (m_hWakeEvent == nullptr || GetFileType(input) != FILE_TYPE_CHAR)
        return m_nPendingSignal.load(std::memory_order_acquire) == 0;
    const HANDLE waits[2] = {m_hWakeEvent, input};
    return WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}
