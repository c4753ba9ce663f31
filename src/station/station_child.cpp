#include "station/station_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/exit_status.h"

struct StationChild::System {
    pid_t m_nPid = -1;
    int m_nEventsFd = -1;   // read end of the events pipe, -1 once at its end
    int m_nExitFd = -1;     // readable once the child has ended (-1 where the system has none)
    bool m_bReaped = false;
};

namespace {

// The children running, for EndAllAtOnce on the interrupt watcher's thread.
std::mutex g_runningMutex;
std::vector<pid_t> g_running;

void Forget(pid_t pid) {
    std::lock_guard lock(g_runningMutex);
    std::erase(g_running, pid);
}

// Readable from a WakeWaiter() until the next wait has returned; made once,
// by the first that needs it.
int WakeFd() {
    static std::once_flag made;
    static int fd = -1;
    std::call_once(made, [] { fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); });
    return fd;
}

// The child's descriptor for its events: the first after stdin, stdout and
// stderr.
constexpr int kChildEventsFd = 3;

// What the child does between fork() and exec(). The station has threads
// (its interrupt watcher), so only async-signal-safe calls may run here, on
// what was made before the fork.
struct ChildSetup {
    pid_t m_nStation;
    int m_nEventsFd;     // the events pipe's write end
    int m_nFailureFd;    // where an exec failure's errno goes
    const char* m_pProgram;
    char* const* m_argv;
    char* const* m_envp;
};

[[noreturn]] void BecomeDownload(const ChildSetup& setup) {
    // A process group of its own, so that a Ctrl-C at the terminal reaches
    // only the station, which forwards it.
    setpgid(0, 0);
    // The run ends with its station, which cannot be waited for once it has
    // been killed (SIGKILL, the terminal closed): SIGHUP then reaches the
    // download, which cancels, gives its port back and ends. Checked after
    // setting it, as the station may have ended before.
    prctl(PR_SET_PDEATHSIG, SIGHUP);
    if (getppid() != setup.m_nStation)
        _exit(kExitSignalBase + SIGHUP);
    // The failure descriptor out of the way of the numbers set below.
    const int failureFd = fcntl(setup.m_nFailureFd, F_DUPFD_CLOEXEC, kChildEventsFd + 1);
    // The signals as a program run from a shell has them (the station
    // blocks them, and may ignore some), nothing blocked.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The events pipe as kChildEventsFd, stdin, stdout and stderr on the
    // null device.
    if (setup.m_nEventsFd == kChildEventsFd)
        fcntl(kChildEventsFd, F_SETFD, 0);
    else
        dup2(setup.m_nEventsFd, kChildEventsFd);
    const int null = open("/dev/null", O_RDWR);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        dup2(null, fd);
    if (null > kChildEventsFd)
        close(null);
    execve(setup.m_pProgram, setup.m_argv, setup.m_envp);
    const int error = errno;
    [[maybe_unused]] ssize_t written = write(failureFd, &error, sizeof error);
    _exit(127);
}

ChildExit DescribeStatus(int status) {
    ChildExit exit;
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        exit.m_nStatus = 128 + signal;
        exit.m_bSignalled = true;
        exit.m_strHow = "killed by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
    } else {
        exit.m_nStatus = WEXITSTATUS(status);
        exit.m_strHow = "exited with status " + std::to_string(exit.m_nStatus);
    }
    return exit;
}

// A descriptor that becomes readable when the process ends; -1 where the
// kernel has none (before Linux 5.3).
int OpenProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    (void)pid;
    return -1;
}

void CloseIfOpen(int* fd) {
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

}  // namespace

std::unique_ptr<StationChild> StationChild::Start(const std::string& program, const std::vector<std::string>& args,
                                                  std::string* reason) {
    int pipeFds[2], failureFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        *reason = std::string("cannot make a pipe: ") + std::strerror(errno);
        return nullptr;
    }
    if (pipe2(failureFds, O_CLOEXEC) != 0) {
        *reason = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return nullptr;
    }
    std::vector<std::string> all = args;
    all.insert(all.begin(), program);
    all.push_back("--events");
    all.push_back("/dev/fd/" + std::to_string(kChildEventsFd));
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const ChildSetup setup{getpid(), pipeFds[1], failureFds[1], program.c_str(), argv.data(), environ};
    const pid_t pid = fork();
    if (pid == 0)
        BecomeDownload(setup);
    const int forkError = errno;
    close(pipeFds[1]);
    close(failureFds[1]);
    // The failure pipe is at its end once exec has closed it: read nothing
    // then, or the errno of a failed exec.
    int error = pid < 0 ? forkError : 0;
    ssize_t n;
    while (pid > 0 && (n = read(failureFds[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(failureFds[0]);
    if (error != 0) {
        if (pid > 0)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        close(pipeFds[0]);
        *reason = "cannot start " + program + ": " + std::strerror(error);
        return nullptr;
    }
    std::unique_ptr<StationChild> child(new StationChild);
    System& system = *child->m_system;
    system.m_nPid = pid;
    system.m_nEventsFd = pipeFds[0];
    fcntl(system.m_nEventsFd, F_SETFL, O_NONBLOCK);
    // Where the system has no process descriptors, the end of the events
    // pipe stands for the child's end (see TryReap).
    system.m_nExitFd = OpenProcessDescriptor(pid);
    std::lock_guard lock(g_runningMutex);
    g_running.push_back(pid);
    return child;
}

StationChild::StationChild() : m_system(std::make_unique<System>()) {}

StationChild::~StationChild() {
    System& system = *m_system;
    Forget(system.m_nPid);
    if (!system.m_bReaped && system.m_nPid > 0) {
        kill(system.m_nPid, SIGKILL);
        int status = 0;
        while (waitpid(system.m_nPid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    CloseIfOpen(&system.m_nEventsFd);
    CloseIfOpen(&system.m_nExitFd);
}

bool StationChild::ReadEvents(std::string* data) {
    char buffer[8192];
    int& eventsFd = m_system->m_nEventsFd;
    while (eventsFd >= 0) {
        const ssize_t n = read(eventsFd, buffer, sizeof buffer);
        if (n > 0) {
            data->append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return true;
        } else {
            CloseIfOpen(&eventsFd);
        }
    }
    return false;
}

void StationChild::Cancel(int signal) {
    if (m_system->m_bReaped)
        return;
    kill(m_system->m_nPid, signal);
    kill(m_system->m_nPid, SIGCONT);
}

void StationChild::Kill() {
    if (!m_system->m_bReaped)
        kill(m_system->m_nPid, SIGKILL);
}

void StationChild::EndAllAtOnce(int signal) {
    std::lock_guard lock(g_runningMutex);
    for (const pid_t pid : g_running)
        kill(pid, signal);
}

bool StationChild::TryReap(ChildExit* exit) {
    System& system = *m_system;
    if (system.m_bReaped)
        return false;
    // Without a process descriptor the station waits for the pipe's end
    // only: the child is ending then, and waiting for it is short.
    const int flags = system.m_nExitFd >= 0 || system.m_nEventsFd >= 0 ? WNOHANG : 0;
    int status = 0;
    pid_t reaped;
    while ((reaped = waitpid(system.m_nPid, &status, flags)) < 0 && errno == EINTR) {
    }
    if (reaped != system.m_nPid)
        return false;
    // Its process id may now be given to another process.
    Forget(system.m_nPid);
    system.m_bReaped = true;
    CloseIfOpen(&system.m_nExitFd);
    *exit = DescribeStatus(status);
    return true;
}

void StationChild::WaitForAny(const std::vector<StationChild*>& children,
                              std::chrono::steady_clock::time_point deadline) {
    std::vector<pollfd> fds;
    for (const StationChild* child : children) {
        const System& system = *child->m_system;
        if (system.m_bReaped)
            continue;
        if (system.m_nEventsFd >= 0)
            fds.push_back({system.m_nEventsFd, POLLIN, 0});
        if (system.m_nExitFd >= 0)
            fds.push_back({system.m_nExitFd, POLLIN, 0});
        else if (system.m_nEventsFd < 0)
            return;  // ended, to be reaped at once
    }
    const int wakeFd = WakeFd();
    if (wakeFd >= 0)
        fds.push_back({wakeFd, POLLIN, 0});
    int timeoutMs = -1;
    if (deadline != std::chrono::steady_clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        timeoutMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
    }
    poll(fds.data(), fds.size(), timeoutMs);
    // Taken after the wait, so that a wake-up that comes later is kept for
    // the next one.
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t ignored = read(wakeFd, &count, sizeof count);
}

void StationChild::WakeWaiter() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(WakeFd(), &one, sizeof one);
}

std::string StationChild::OwnProgramPath(const char* argv0) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(argv0) : self.string();
}
