// The built receiver-downloader program run as a child process, with its
// stdout and stderr collected as they come: the program as an outside harness
// sees it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// build/receiver-downloader, found from the running test's own path
// (build/tests/<test>).
std::filesystem::path ProgramPath();

// How the program is started besides its arguments, as a service manager or
// a shell may start it.
struct ChildStart {
    bool m_bOutputsClosed = false;  // stdout and stderr closed (`>&- 2>&-`)
    bool m_bSigintIgnored = false;  // SIGINT ignored (a background job)
    long m_nFileSizeLimit = 0;      // bytes a file may grow to (ulimit -f; 0: none): a full disk, file by file
    bool m_bFileModesBind = false;  // even as root, a read-only file is one (no CAP_DAC_OVERRIDE)
};

class ChildProcess {
public:
    // Starts the program with args, stdin on /dev/null and no display.
    // closeStdout: its stdout is a pipe nobody reads any more (Out() stays
    // empty). Throws std::runtime_error when it cannot be started.
    explicit ChildProcess(const std::vector<std::string>& args, bool closeStdout = false, ChildStart start = {});
    // Kills and reaps the program if Wait() has not.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits until stdout holds text; false when stdout closed first or after
    // timeout.
    bool WaitForOutput(const std::string& text, std::chrono::seconds timeout);
    // Waits until the program has closed its stdout (as it does when it
    // ends); false after timeout.
    bool WaitForOutputClosed(std::chrono::seconds timeout);

    void Signal(int signal);

    // Reaps the program: its exit status (128 + the signal that ended it),
    // or -1 when it had not ended within timeout (it is killed then).
    // Call once.
    int Wait(std::chrono::seconds timeout);

    std::string Out();
    std::string Err();

private:
    void Collect(int fd, std::string* into);

    pid_t m_pid = -1;
    bool m_bReaped = false;
    std::thread m_outReader, m_errReader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_out, m_err;
    bool m_bOutClosed = false;
};
