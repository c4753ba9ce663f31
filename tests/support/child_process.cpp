#include "support/child_process.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string_view>

using namespace std::chrono_literals;

std::filesystem::path ProgramPath() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "receiver-downloader";
}

ChildProcess::ChildProcess(const std::vector<std::string>& args, bool closeStdout, ChildStart start) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("pipe");
    }
    std::vector<std::string> all{ProgramPath().string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // The environment without a display, made before fork(): only
    // async-signal-safe calls may follow it in a process with threads.
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("DISPLAY=") && !text.starts_with("WAYLAND_DISPLAY="))
            envp.push_back(*entry);
    }
    envp.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        if (start.m_bOutputsClosed) {
            close(STDOUT_FILENO);
            close(STDERR_FILENO);
        }
        if (start.m_bSigintIgnored) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigaction(SIGINT, &ignore, nullptr);
        }
        if (start.m_nFileSizeLimit > 0) {
            const rlimit limit{static_cast<rlim_t>(start.m_nFileSizeLimit), static_cast<rlim_t>(start.m_nFileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (start.m_bFileModesBind)  // as the bounding set: exec gives root no more than it holds
            prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (m_pid < 0) {
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("fork");
    }
    if (closeStdout) {
        close(out[0]);
        m_bOutClosed = true;
    } else {
        m_outReader = std::thread([this, fd = out[0]] { Collect(fd, &m_out); });
    }
    m_errReader = std::thread([this, fd = err[0]] { Collect(fd, &m_err); });
}

ChildProcess::~ChildProcess() {
    if (!m_bReaped) {
        kill(m_pid, SIGKILL);
        Wait(10s);
    }
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::seconds timeout) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_out.find(text) != std::string::npos || m_bOutClosed; });
    return m_out.find(text) != std::string::npos;
}

bool ChildProcess::WaitForOutputClosed(std::chrono::seconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_bOutClosed; });
}

void ChildProcess::Signal(int signal) {
    kill(m_pid, signal);
}

int ChildProcess::Wait(std::chrono::seconds timeout) {
    const auto giveUpAt = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= giveUpAt) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    m_bReaped = true;
    if (m_outReader.joinable())
        m_outReader.join();
    m_errReader.join();
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ChildProcess::Out() {
    std::lock_guard lock(m_mutex);
    return m_out;
}

std::string ChildProcess::Err() {
    std::lock_guard lock(m_mutex);
    return m_err;
}

void ChildProcess::Collect(int fd, std::string* into) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::lock_guard lock(m_mutex);
        into->append(buffer, static_cast<std::size_t>(n));
        m_changed.notify_all();
    }
    close(fd);
    std::lock_guard lock(m_mutex);
    if (into == &m_out)
        m_bOutClosed = true;
    m_changed.notify_all();
}
