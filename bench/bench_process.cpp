#include "bench_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> TaskDirs(pid_t pid) {
    std::vector<std::string> dirs;
    const std::string base = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(base.c_str());
    if (!dir)
        return dirs;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            dirs.push_back(base + "/" + entry->d_name);
    closedir(dir);
    return dirs;
}

// The number after field at the start of a line of text (a /proc
// "Name: value" line), if there is one.
std::optional<std::uint64_t> FieldValue(const std::string& text, const std::string& field) {
    std::size_t at = 0;
    if (text.compare(0, field.size(), field) != 0) {
        at = text.find("\n" + field);
        if (at == std::string::npos)
            return std::nullopt;
        ++at;
    }
    return std::strtoull(text.c_str() + at + field.size(), nullptr, 10);
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv, std::string* reason) {
    const int outputFd = memfd_create("bench-child-output", MFD_CLOEXEC);
    if (outputFd < 0) {
        *reason = std::string("memfd_create: ") + std::strerror(errno);
        return nullptr;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const auto started = BenchClock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        *reason = std::string("fork: ") + std::strerror(errno);
        close(outputFd);
        return nullptr;
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(outputFd, STDOUT_FILENO);
        dup2(outputFd, STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    std::unique_ptr<ChildProcess> child(new ChildProcess);
    child->m_pid = pid;
    child->m_outputFd = outputFd;
    child->m_started = started;
    return child;
}

ChildProcess::~ChildProcess() {
    if (!m_exit && m_pid > 0) {
        kill(m_pid, SIGKILL);
        TryReap(0);
    }
    if (m_outputFd >= 0)
        close(m_outputFd);
}

std::string ChildProcess::Output() const {
    std::string text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = pread(m_outputFd, buffer, sizeof buffer, at);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
    return text;
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    // The output is a file: look again every few milliseconds (only while
    // a program starts, never during a measurement).
    const auto deadline = BenchClock::now() + timeout;
    for (;;) {
        if (Output().find(text) != std::string::npos)
            return true;
        if (!Running() || BenchClock::now() >= deadline)
            return Output().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::Signal(int signal) const {
    if (!m_exit)
        kill(m_pid, signal);
}

bool ChildProcess::TryReap(int options) {
    int status = 0;
    rusage usage{};
    const pid_t pid = wait4(m_pid, &status, options, &usage);
    if (pid != m_pid)
        return false;
    Exit exit;
    exit.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    exit.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    exit.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    exit.at = BenchClock::now();
    m_exit = exit;
    return true;
}

bool ChildProcess::Running() {
    return !m_exit && !TryReap(WNOHANG);
}

std::optional<ChildProcess::Exit> ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
    if (m_exit || TryReap(WNOHANG))
        return m_exit;
    // A pidfd becomes readable when the process ends: sleep on it.
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    const auto deadline = BenchClock::now() + timeout;
    while (!TryReap(WNOHANG)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - BenchClock::now());
        if (left.count() <= 0)
            break;
        if (pidFd >= 0) {
            pollfd exited = {pidFd, POLLIN, 0};
            poll(&exited, 1, static_cast<int>(left.count()) + 1);
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(20)));
        }
    }
    if (pidFd >= 0)
        close(pidFd);
    return m_exit;
}

ChildProcess::Exit ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (!WaitFor(timeout)) {
        kill(m_pid, SIGKILL);
        TryReap(0);
    }
    return *m_exit;
}

namespace proc {

std::optional<double> WaitedChildrenCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');
    if (end == std::string::npos)
        return std::nullopt;
    // After the name: state (field 3) ... cutime (16), cstime (17).
    std::istringstream fields(text.substr(end + 1));
    std::string field;
    double ticks = 0;
    for (int number = 3; number <= 17 && fields >> field; ++number)
        if (number >= 16)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::optional<double> CpuSeconds(pid_t pid) {
    const std::vector<std::string> tasks = TaskDirs(pid);
    if (tasks.empty())
        return std::nullopt;
    double total = 0;
    for (const std::string& task : tasks) {
        // schedstat: time on the CPU (ns), time waiting for it, time slices.
        std::ifstream in(task + "/schedstat");
        unsigned long long ns = 0;
        if (in >> ns)
            total += static_cast<double>(ns) / 1e9;
    }
    return total;
}

std::optional<std::uint64_t> ContextSwitches(pid_t pid) {
    const std::vector<std::string> tasks = TaskDirs(pid);
    if (tasks.empty())
        return std::nullopt;
    std::uint64_t total = 0;
    for (const std::string& task : tasks) {
        const std::string status = ReadWhole(task + "/status");
        total += FieldValue(status, "voluntary_ctxt_switches:").value_or(0) +
                 FieldValue(status, "nonvoluntary_ctxt_switches:").value_or(0);
    }
    return total;
}

std::optional<double> StatusMiB(pid_t pid, const std::string& field) {
    const std::optional<std::uint64_t> kiB =
        FieldValue(ReadWhole("/proc/" + std::to_string(pid) + "/status"), field + ":");
    if (!kiB)
        return std::nullopt;
    return static_cast<double>(*kiB) / 1024.0;
}

std::optional<double> PrivateMiB(pid_t pid) {
    const std::string rollup = ReadWhole("/proc/" + std::to_string(pid) + "/smaps_rollup");
    const std::optional<std::uint64_t> clean = FieldValue(rollup, "Private_Clean:");
    const std::optional<std::uint64_t> dirty = FieldValue(rollup, "Private_Dirty:");
    if (!clean || !dirty)
        return std::nullopt;
    return static_cast<double>(*clean + *dirty) / 1024.0;
}

std::optional<double> PssMiB(pid_t pid) {
    const std::optional<std::uint64_t> kiB =
        FieldValue(ReadWhole("/proc/" + std::to_string(pid) + "/smaps_rollup"), "Pss:");
    if (!kiB)
        return std::nullopt;
    return static_cast<double>(*kiB) / 1024.0;
}

std::vector<pid_t> Children(pid_t pid) {
    std::vector<pid_t> children;
    for (const std::string& task : TaskDirs(pid)) {
        std::istringstream ids(ReadWhole(task + "/children"));
        for (pid_t child; ids >> child;)
            children.push_back(child);
    }
    return children;
}

std::vector<std::string> SharedLibraries(pid_t pid) {
    std::set<std::string> names;
    std::istringstream maps(ReadWhole("/proc/" + std::to_string(pid) + "/maps"));
    for (std::string line; std::getline(maps, line);) {
        const std::size_t slash = line.rfind('/');
        if (slash == std::string::npos)
            continue;
        const std::string name = line.substr(slash + 1);
        if (name.find(".so") != std::string::npos)
            names.insert(name);
    }
    return {names.begin(), names.end()};
}

}  // namespace proc

std::vector<std::string> GuiLibraries(const std::vector<std::string>& names) {
    static const char* const kPrefixes[] = {"libgtk",  "libgdk",     "libwx_",    "libX11",   "libxcb",
                                            "libXext", "libwayland", "libcairo",  "libpango", "libatk",
                                            "libepoxy", "libXi.",    "libXrender", "libXfixes"};
    std::vector<std::string> gui;
    for (const std::string& name : names)
        for (const char* prefix : kPrefixes)
            if (name.rfind(prefix, 0) == 0) {
                gui.push_back(name);
                break;
            }
    return gui;
}
