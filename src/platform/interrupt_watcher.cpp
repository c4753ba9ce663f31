#include "platform/interrupt_watcher.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/serial_port.h"
#include "platform/window.h"
#include "platform/exit_status.h"

namespace {

constexpr int kWatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// withoutIgnored: leaving out the signals that are ignored now.
sigset_t WatchedSignalSet(bool withoutIgnored = false) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kWatchedSignals) {
        struct sigaction current {};
        if (withoutIgnored && sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaddset(&set, signal);
    }
    return set;
}

void CloseIfOpen(int* fd) {
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

// "\nSIGTERM again: exiting.\n", built without allocation.
void SayExitingAgain(int signal) {
    const char* name = signal == SIGTERM ? "Terminated" : signal == SIGHUP ? "Hung up" : "Interrupted";
    char text[64];
    std::size_t length = 0;
    auto append = [&](const char* part) {
        for (; *part != '\0' && length < sizeof text; ++part)
            text[length++] = *part;
    };
    append("\n");
    append(name);
    append(" again: exiting.\n");
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, text, length);
}

}  // namespace

WatchedSignalsBlocked::WatchedSignalsBlocked() {
    const sigset_t watched = WatchedSignalSet();
    pthread_sigmask(SIG_BLOCK, &watched, &m_previousMask);
}

WatchedSignalsBlocked::~WatchedSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr); }

InterruptWatcher::~InterruptWatcher() { Stop(); }

bool InterruptWatcher::Start() {
    if (m_bStarted)
        return true;
    // Blocked in the starting thread before the run's workers exist, so that
    // every thread started from here on inherits the mask and the signals
    // wait for the helper thread's signalfd: no handler has to run on a
    // thread that may be asleep in a wait it would not leave for it. (A
    // thread started earlier that does not block them takes them with the
    // handlers set before, which put the ports back and end the process.)
    m_blocked.emplace();
    const sigset_t watched = WatchedSignalSet(m_bKeepIgnored);
    m_nSignalFd = signalfd(-1, &watched, SFD_CLOEXEC | SFD_NONBLOCK);
    m_nStopFd = eventfd(0, EFD_CLOEXEC);
    m_nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    bool ready = m_nSignalFd >= 0 && m_nStopFd >= 0 && m_nWakeFd >= 0;
    signalfd_siginfo held{};
    if (ready && read(m_nSignalFd, &held, sizeof held) == static_cast<ssize_t>(sizeof held))
        TakeRequest(static_cast<int>(held.ssi_signo));
    if (ready) {
        try {
            m_thread = std::thread([this] { Watch(); });
        } catch (...) {
            ready = false;
        }
    }
    if (!ready) {
        CloseAll();
        m_blocked.reset();
        return false;
    }
    m_bStarted = true;
    return true;
}

void InterruptWatcher::Stop() {
    if (!m_bStarted)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(m_nStopFd, &one, sizeof one);
    m_thread.join();
    // A signal that came after the helper's last read is dropped here rather
    // than taking its old effect once unblocked: the run it was meant for is
    // over.
    const sigset_t watched = WatchedSignalSet();
    const timespec now{};
    while (sigtimedwait(&watched, nullptr, &now) > 0) {
    }
    m_blocked.reset();
    CloseAll();
    m_bStarted = false;
}

void InterruptWatcher::CloseAll() {
    CloseIfOpen(&m_nSignalFd);
    CloseIfOpen(&m_nStopFd);
    CloseIfOpen(&m_nWakeFd);
}

int InterruptWatcher::TakeInterrupt() {
    const int signal = m_nPendingSignal.exchange(0);
    if (signal != 0 && m_nWakeFd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t ignored = read(m_nWakeFd, &count, sizeof count);
    }
    return signal;
}

bool InterruptWatcher::WaitForInput() {
    for (;;) {
        if (m_nPendingSignal.load() != 0)
            return false;
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_nWakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR)
            return true;  // let the read itself report the problem
        if (ready > 0 && fds[0].revents != 0)
            return true;
    }
}

// The next watched signal; 0 once Stop() asks the thread to end.
int InterruptWatcher::NextSignal() {
    for (;;) {
        pollfd fds[2] = {{m_nSignalFd, POLLIN, 0}, {m_nStopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        if (fds[1].revents != 0)
            return 0;
        signalfd_siginfo info{};
        if (read(m_nSignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            return static_cast<int>(info.ssi_signo);
    }
}

void InterruptWatcher::Watch() {
    for (int signal = NextSignal(); signal != 0; signal = NextSignal())
        TakeRequest(signal);
}

void InterruptWatcher::TakeRequest(int signal) {
    if (m_nReceived.fetch_add(1) >= 1) {
        // The first request has not ended the run: stop now, but never
        // leave a port raw.
        RestoreOpenPortsNow();
        SayExitingAgain(signal);
        if (m_forcedExitHook)
            m_forcedExitHook(kExitSignalBase + signal);
        _exit(kExitSignalBase + signal);
    }
    m_nPendingSignal.store(signal);
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(m_nWakeFd, &one, sizeof one);
    if (m_requestHook)
        m_requestHook();
    WakeMessageLoop();
}
