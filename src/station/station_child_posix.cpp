#include "station/station_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

// The child's descriptor for its events: the first after stdin, stdout and
// stderr.
constexpr int kChildEventsFd = 3;

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // stdin, stdout and stderr on the null device, the events pipe's write
    // end as kChildEventsFd; an own process group, default signal handling
    // and nothing blocked.
    bool Prepare(int eventsWriteFd) {
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&defaults, signal);
        return posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
               posix_spawn_file_actions_addopen(&m_actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
               posix_spawn_file_actions_addopen(&m_actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
               posix_spawn_file_actions_adddup2(&m_actions, eventsWriteFd, kChildEventsFd) == 0 &&
               posix_spawnattr_setpgroup(&m_attributes, 0) == 0 &&
               posix_spawnattr_setsigmask(&m_attributes, &none) == 0 &&
               posix_spawnattr_setsigdefault(&m_attributes, &defaults) == 0 &&
               posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                           POSIX_SPAWN_SETSIGDEF) == 0;
    }

    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

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
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        *reason = std::string("cannot make a pipe: ") + std::strerror(errno);
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

    SpawnSetup setup;
    pid_t pid = -1;
    int error = setup.Prepare(pipeFds[1]) ? 0 : EINVAL;
    if (error == 0)
        error = posix_spawn(&pid, program.c_str(), &setup.m_actions, &setup.m_attributes, argv.data(), environ);
    close(pipeFds[1]);
    if (error != 0) {
        close(pipeFds[0]);
        *reason = "cannot start " + program + ": " + std::strerror(error);
        return nullptr;
    }
    std::unique_ptr<StationChild> child(new StationChild);
    child->m_nPid = pid;
    child->m_nEventsFd = pipeFds[0];
    fcntl(child->m_nEventsFd, F_SETFL, O_NONBLOCK);
    // Where the system has no process descriptors, the end of the events
    // pipe stands for the child's end (see TryReap).
    child->m_nExitFd = OpenProcessDescriptor(pid);
    return child;
}

StationChild::~StationChild() {
    if (!m_bReaped && m_nPid > 0) {
        kill(m_nPid, SIGKILL);
        int status = 0;
        while (waitpid(m_nPid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    CloseIfOpen(&m_nEventsFd);
    CloseIfOpen(&m_nExitFd);
}

bool StationChild::ReadEvents(std::string* data) {
    char buffer[8192];
    while (m_nEventsFd >= 0) {
        const ssize_t n = read(m_nEventsFd, buffer, sizeof buffer);
        if (n > 0) {
            data->append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return true;
        } else {
            CloseIfOpen(&m_nEventsFd);
        }
    }
    return false;
}

void StationChild::Cancel(int signal) {
    if (!m_bReaped)
        kill(m_nPid, signal);
}

void StationChild::Kill() { Cancel(SIGKILL); }

void StationChild::SignalProcess(int id, int signal) {
    if (id > 0)
        kill(id, signal);
}

bool StationChild::TryReap(ChildExit* exit) {
    if (m_bReaped)
        return false;
    // Without a process descriptor the station waits for the pipe's end
    // only: the child is ending then, and waiting for it is short.
    const int flags = m_nExitFd >= 0 || m_nEventsFd >= 0 ? WNOHANG : 0;
    int status = 0;
    pid_t reaped;
    while ((reaped = waitpid(m_nPid, &status, flags)) < 0 && errno == EINTR) {
    }
    if (reaped != m_nPid)
        return false;
    m_bReaped = true;
    CloseIfOpen(&m_nExitFd);
    *exit = DescribeStatus(status);
    return true;
}

void StationChild::WaitForAny(const std::vector<StationChild*>& children, int wakeFd,
                              std::chrono::steady_clock::time_point deadline) {
    std::vector<pollfd> fds;
    for (const StationChild* child : children) {
        if (child->m_bReaped)
            continue;
        if (child->m_nEventsFd >= 0)
            fds.push_back({child->m_nEventsFd, POLLIN, 0});
        if (child->m_nExitFd >= 0)
            fds.push_back({child->m_nExitFd, POLLIN, 0});
        else if (child->m_nEventsFd < 0)
            return;  // ended, to be reaped at once
    }
    if (wakeFd >= 0)
        fds.push_back({wakeFd, POLLIN, 0});
    int timeoutMs = -1;
    if (deadline != std::chrono::steady_clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        timeoutMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
    }
    poll(fds.data(), fds.size(), timeoutMs);
}

std::string StationChild::OwnProgramPath(const char* argv0) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(argv0) : self.string();
}
