// Ctrl-C on Windows: the console control handler, which the system runs on
// a thread of its own, keeps the request, sets the wake event and wakes the
// modal loop. A second request while the first is still being acted on ends
// the process at once, after every open port has been put back. A station's
// child run has no console: its station's signals come over its lifeline,
// read by a thread of its own, and are taken the same way.
// This file calls the system and also wakes the tool's message loop
// (window.h), whose HWND is a small window id where the system's is a
// pointer: the system's is read here under another name.
#define HWND Win32Hwnd
#include "platform/system_win32.h"
#undef HWND

#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/serial_port.h"
#include "platform/window.h"
#include "platform/exit_status.h"
#include "platform/interrupt_watcher.h"

namespace {

// The POSIX numbers of the signals Windows has no name for.
constexpr int kSignalHangUp = 1;

// Guards the running watcher's registration, so that a request from the
// console handler's or the lifeline's thread never reaches a watcher that
// is being stopped, and the request the lifeline keeps while none runs.
std::mutex g_mutex;
// The running watcher, for the handler.
std::atomic<InterruptWatcher*> g_pWatcher{nullptr};
// A lifeline's signal that came while no watcher ran (0: none).
int g_nHeldSignal = 0;

// The POSIX signal number with the same meaning, for the exit status.
int SignalFor(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return SIGINT;
    case CTRL_CLOSE_EVENT:
        return kSignalHangUp;  // the console went away
    default:
        return 0;  // logoff and shutdown go to the next handler
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int signal = SignalFor(event);
    {
        std::lock_guard lock(g_mutex);
        InterruptWatcher* watcher = g_pWatcher.load(std::memory_order_acquire);
        if (signal == 0 || watcher == nullptr)
            return FALSE;
        watcher->Deliver(signal);
    }
    // The system ends the process as soon as the handler of a closed console
    // returns: waiting here gives the run the few seconds the system allows
    // to cancel and put its ports back (the process ends under this wait).
    if (event == CTRL_CLOSE_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

// A signal from the station over the lifeline: to the running watcher, or
// kept for the next one. A second one with no watcher to take it ends the
// process at once, as a second Ctrl-C does.
void TakeFromLifeline(int signal) {
    std::lock_guard lock(g_mutex);
    if (InterruptWatcher* watcher = g_pWatcher.load(std::memory_order_acquire)) {
        watcher->Deliver(signal);
    } else if (g_nHeldSignal == 0) {
        g_nHeldSignal = signal;
    } else {
        RestoreOpenPortsNow();
        std::_Exit(kExitSignalBase + signal);
    }
}

// Reads the lifeline until its end; every byte that names a signal the
// station passes on is taken as that signal.
void ReadLifeline(HANDLE lifeline) {
    unsigned char bytes[16];
    DWORD count = 0;
    while (ReadFile(lifeline, bytes, sizeof bytes, &count, nullptr) && count > 0)
        for (DWORD i = 0; i < count; ++i)
            if (bytes[i] == SIGINT || bytes[i] == SIGTERM || bytes[i] == kSignalHangUp)
                TakeFromLifeline(bytes[i]);
    TakeFromLifeline(kSignalHangUp);
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
    std::lock_guard lock(g_mutex);
    g_pWatcher.store(this, std::memory_order_release);
    if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        g_pWatcher.store(nullptr, std::memory_order_release);
        CloseHandle(m_hWakeEvent);
        m_hWakeEvent = nullptr;
        return false;
    }
    m_bStarted = true;
    // The lifeline's signal that came while the run was setting up is the
    // first request.
    if (const int held = std::exchange(g_nHeldSignal, 0))
        Deliver(held);
    return true;
}

void InterruptWatcher::Stop() {
    if (!m_bStarted)
        return;
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    {
        std::lock_guard lock(g_mutex);
        g_pWatcher.store(nullptr, std::memory_order_release);
    }
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
        if (m_forcedExitHook)
            m_forcedExitHook(kExitSignalBase + signal);
        std::_Exit(kExitSignalBase + signal);
    }
    m_nPendingSignal.store(signal, std::memory_order_release);
    SetEvent(m_hWakeEvent);
    if (m_requestHook)
        m_requestHook();
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

bool WatchStationLifeline() {
    const HANDLE lifeline = GetStdHandle(STD_INPUT_HANDLE);
    if (lifeline == nullptr || lifeline == INVALID_HANDLE_VALUE || GetFileType(lifeline) != FILE_TYPE_PIPE)
        return true;
    try {
        std::thread(ReadLifeline, lifeline).detach();
    } catch (...) {
        return false;
    }
    return true;
}
