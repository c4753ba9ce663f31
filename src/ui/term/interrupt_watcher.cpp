#include "ui/term/interrupt_watcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/window.h"
#include "ui/run_outcome.h"

namespace {

constexpr char kInterruptByte = 'i';
constexpr char kStopByte = 'q';

// The write end of the running watcher's pipe, for the signal handler.
volatile sig_atomic_t g_nInterruptFd = -1;
struct sigaction g_previousAction;

void OnSigint(int) {
    const int savedErrno = errno;
    const int fd = g_nInterruptFd;
    if (fd >= 0) {
        const char byte = kInterruptByte;
        [[maybe_unused]] ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

InterruptWatcher::~InterruptWatcher() { Stop(); }

bool InterruptWatcher::Start() {
    if (m_bStarted)
        return true;
    if (pipe2(m_anPipe, O_CLOEXEC) != 0)
        return false;
    try {
        m_thread = std::thread([this] { Watch(); });
    } catch (...) {
        close(m_anPipe[0]);
        close(m_anPipe[1]);
        m_anPipe[0] = m_anPipe[1] = -1;
        return false;
    }
    g_nInterruptFd = m_anPipe[1];
    struct sigaction action {};
    action.sa_handler = OnSigint;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previousAction);
    m_bStarted = true;
    return true;
}

void InterruptWatcher::Stop() {
    if (!m_bStarted)
        return;
    sigaction(SIGINT, &g_previousAction, nullptr);
    g_nInterruptFd = -1;
    const char byte = kStopByte;
    [[maybe_unused]] ssize_t written = write(m_anPipe[1], &byte, 1);
    m_thread.join();
    close(m_anPipe[0]);
    close(m_anPipe[1]);
    m_anPipe[0] = m_anPipe[1] = -1;
    m_bStarted = false;
}

bool InterruptWatcher::TakeInterrupt() {
    int pending = m_nPending.load();
    while (pending > 0)
        if (m_nPending.compare_exchange_weak(pending, pending - 1))
            return true;
    return false;
}

bool InterruptWatcher::InterruptPending() const { return m_nPending.load() > 0; }

void InterruptWatcher::Watch() {
    for (;;) {
        char byte = 0;
        const ssize_t n = read(m_anPipe[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || byte == kStopByte)
            return;
        if (m_nReceived.fetch_add(1) >= 1) {
            // The first request has not ended the run: stop now.
            static const char kText[] = "\nInterrupted again: exiting.\n";
            [[maybe_unused]] ssize_t written = write(STDERR_FILENO, kText, sizeof kText - 1);
            _exit(kExitCancelled);
        }
        RequestCancel();
    }
}

void InterruptWatcher::RequestCancel() {
    m_nPending.fetch_add(1);
    WakeMessageLoop();
}
