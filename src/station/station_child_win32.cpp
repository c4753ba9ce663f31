// The station's children on Windows.
//
// Each child is started suspended with CreateProcessW, without a console
// (so that a Ctrl-C at the station's console reaches only the station),
// put into the station's job object, whose JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE
// ends every child with the station however it ends, and resumed. It
// inherits three handles only: the write end of its events pipe, named on
// its command line (--events-handle N); its lifeline as standard input, a
// pipe only the station writes (a byte is a signal passed on, its end the
// station's end: platform/interrupt_watcher.h); and the null device for its
// standard output and error.
//
// The station waits for all its children in one place: an I/O completion
// port. Every events pipe is read with overlapped reads (its read end is a
// named pipe, made unique per child and opened at once by the station
// itself, since anonymous pipes cannot do overlapped I/O), whose completions
// come to the port; each child's end comes there from a wait registered on
// its process handle (the system's thread pool waits on 63 handles per
// thread, so there is no limit on children); and WakeWaiter() posts there
// (the interrupt watcher, as Ctrl-C comes). Every packet is only a wake-up:
// what happened is then read from each child's own state.
#include "station/station_child_win32.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "platform/exit_status.h"

namespace {

constexpr DWORD kEventsPipeBuffer = 64 * 1024;
// The exit code TerminateProcess gives a child the station kills: as a
// POSIX shell reports SIGKILL.
constexpr DWORD kKilledStatus = kExitSignalBase + 9;
// How long a second Ctrl-C waits for the children to put their ports back
// before the station's end ends them.
constexpr DWORD kAtOnceBoundMs = 3000;
constexpr DWORD kControlCExit = 0xC000013AUL;  // STATUS_CONTROL_C_EXIT

// The completion port every wait of the station sleeps on; made once, by the
// first that needs it (any thread).
HANDLE CompletionPort() {
    static std::once_flag made;
    static HANDLE port = nullptr;
    std::call_once(made, [] { port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1); });
    return port;
}

// The job every child is put in: the system ends them all when its last
// handle closes, which is the station's own at its end. nullptr where the
// system refuses one (the children then still have their lifeline).
HANDLE StationJob() {
    static std::once_flag made;
    static HANDLE job = nullptr;
    std::call_once(made, [] {
        job = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(job);
            job = nullptr;
        }
    });
    return job;
}

// A running child as EndAllAtOnce reaches it.
struct Running {
    HANDLE m_hProcess;
    HANDLE m_hLifeline;
};
std::mutex g_runningMutex;
std::vector<Running> g_running;

void Post() { PostQueuedCompletionStatus(CompletionPort(), 0, 0, nullptr); }

VOID CALLBACK OnChildEnded(PVOID, BOOLEAN) { Post(); }

void SendSignal(HANDLE lifeline, int signal) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    DWORD written = 0;
    WriteFile(lifeline, &byte, 1, &written, nullptr);
}

void CloseIfOpen(HANDLE* handle) {
    if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE)
        CloseHandle(*handle);
    *handle = nullptr;
}

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count as such only before a quote: there they are
        // doubled, and the quote itself escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted.push_back(c);
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}  // namespace

struct StationChild::System {
    HANDLE m_hProcess = nullptr;
    HANDLE m_hLifeline = nullptr;   // the write end of the child's standard input
    HANDLE m_hEvents = nullptr;     // the read end of its events pipe
    HANDLE m_hEndedWait = nullptr;  // the wait registered on the process
    OVERLAPPED m_overlapped{};
    char m_buffer[8192];
    bool m_bReading = false;        // a read is under way into m_buffer
    bool m_bAtEnd = false;          // the events pipe is at its end
    bool m_bReaped = false;
    bool m_bKilled = false;

    // Starts the next read; false once the pipe is at its end.
    bool StartRead() {
        m_overlapped = OVERLAPPED{};
        if (!ReadFile(m_hEvents, m_buffer, sizeof m_buffer, nullptr, &m_overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            m_bAtEnd = true;
            return false;
        }
        // Done at once or later, its completion comes to the port.
        m_bReading = true;
        return true;
    }
};

std::wstring WindowsCommandLine(const std::vector<std::string>& args) {
    std::wstring line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring arg = Utf8ToWide(args[i]);
        line += (i == 0 ? L"" : L" ") + (i == 0 ? L"\"" + arg + L"\"" : QuoteArgument(arg));
    }
    return line;
}

ChildExit DescribeChildExit(DWORD code, bool killed) {
    ChildExit exit;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    if (killed) {
        exit.m_nStatus = static_cast<int>(kKilledStatus);
        exit.m_bSignalled = true;
        exit.m_strHow = "was killed (TerminateProcess)";
    } else if (code == kControlCExit) {
        exit.m_nStatus = kExitCancelled;
        exit.m_bSignalled = true;
        exit.m_strHow = std::string("was ended by Ctrl-C (") + hex + ")";
    } else if ((code & 0xC0000000UL) == 0xC0000000UL) {
        exit.m_nStatus = static_cast<int>(code);
        exit.m_bSignalled = true;
        exit.m_strHow = std::string("crashed (exception ") + hex + ")";
    } else {
        exit.m_nStatus = static_cast<int>(code);
        exit.m_strHow = "exited with status " + std::to_string(code);
    }
    return exit;
}

std::unique_ptr<StationChild> StationChild::Start(const std::string& program, const std::vector<std::string>& args,
                                                  std::string* reason) {
    static std::atomic<unsigned> s_nPipes{0};
    const std::wstring pipeName = L"\\\\.\\pipe\\receiver-downloader-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(s_nPipes.fetch_add(1));
    std::unique_ptr<StationChild> child(new StationChild);
    System& system = *child->m_system;
    auto fail = [&](const std::string& what) -> std::unique_ptr<StationChild> {
        *reason = what + ": " + SystemErrorText(GetLastError());
        return nullptr;
    };
    if (CompletionPort() == nullptr)
        return fail("cannot make the station's completion port");

    // The events pipe: the station's end for overlapped reads; the child's
    // end opened here at once, so that no other process can take it.
    system.m_hEvents = CreateNamedPipeW(pipeName.c_str(),
                                        PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                        1, 0, kEventsPipeBuffer, 0, nullptr);
    if (system.m_hEvents == INVALID_HANDLE_VALUE) {
        system.m_hEvents = nullptr;
        return fail("cannot make a pipe");
    }
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE eventsOut = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
    HANDLE lifelineIn = nullptr;
    HANDLE null = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                              OPEN_EXISTING, 0, nullptr);
    const bool made = eventsOut != INVALID_HANDLE_VALUE && null != INVALID_HANDLE_VALUE &&
                      CreatePipe(&lifelineIn, &system.m_hLifeline, &inherited, 0) &&
                      SetHandleInformation(system.m_hLifeline, HANDLE_FLAG_INHERIT, 0);
    const DWORD madeError = GetLastError();
    auto closeChildEnds = [&] {
        CloseIfOpen(&eventsOut);
        CloseIfOpen(&lifelineIn);
        CloseIfOpen(&null);
    };
    if (!made) {
        closeChildEnds();
        SetLastError(madeError);
        return fail("cannot make a pipe");
    }

    std::vector<std::string> all = args;
    all.insert(all.begin(), program);
    all.push_back("--events-handle");
    all.push_back(std::to_string(reinterpret_cast<std::uintptr_t>(eventsOut)));
    std::wstring commandLine = WindowsCommandLine(all);

    // Only these three handles go to the child, whatever else of the
    // station's may be inheritable.
    HANDLE handed[] = {eventsOut, lifelineIn, null};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    const bool listed = InitializeProcThreadAttributeList(list, 1, 0, &size) &&
                        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed,
                                                  sizeof handed, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = listed ? sizeof startup : sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = lifelineIn;
    startup.StartupInfo.hStdOutput = null;
    startup.StartupInfo.hStdError = null;
    startup.lpAttributeList = listed ? list : nullptr;
    PROCESS_INFORMATION process{};
    const DWORD flags = CREATE_SUSPENDED | DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT |
                        (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const BOOL created = CreateProcessW(Utf8ToWide(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        flags, nullptr, nullptr, &startup.StartupInfo, &process);
    const DWORD createError = GetLastError();
    if (listed)
        DeleteProcThreadAttributeList(list);
    closeChildEnds();
    if (!created) {
        SetLastError(createError);
        return fail("cannot start " + program);
    }
    system.m_hProcess = process.hProcess;
    // In the job before it runs; where the system refuses (a station in a
    // job that allows none inside it, before Windows 8), the lifeline alone
    // ends the child with the station.
    if (HANDLE job = StationJob())
        AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);

    if (!CreateIoCompletionPort(system.m_hEvents, CompletionPort(), 0, 0) ||
        !RegisterWaitForSingleObject(&system.m_hEndedWait, system.m_hProcess, OnChildEnded, nullptr, INFINITE,
                                     WT_EXECUTEONLYONCE)) {
        system.m_hEndedWait = nullptr;
        return fail("cannot wait for " + program);  // the child is killed as it goes
    }
    std::lock_guard lock(g_runningMutex);
    g_running.push_back({system.m_hProcess, system.m_hLifeline});
    return child;
}

StationChild::StationChild() : m_system(std::make_unique<System>()) {}

StationChild::~StationChild() {
    System& system = *m_system;
    {
        std::lock_guard lock(g_runningMutex);
        std::erase_if(g_running, [&](const Running& running) { return running.m_hProcess == system.m_hProcess; });
    }
    if (system.m_hProcess != nullptr && !system.m_bReaped) {
        TerminateProcess(system.m_hProcess, kKilledStatus);
        WaitForSingleObject(system.m_hProcess, INFINITE);
    }
    if (system.m_hEndedWait != nullptr)
        UnregisterWaitEx(system.m_hEndedWait, INVALID_HANDLE_VALUE);
    // The system writes into the buffer until the read is over.
    if (system.m_bReading) {
        CancelIoEx(system.m_hEvents, &system.m_overlapped);
        DWORD count = 0;
        GetOverlappedResult(system.m_hEvents, &system.m_overlapped, &count, TRUE);
    }
    CloseIfOpen(&system.m_hEvents);
    CloseIfOpen(&system.m_hLifeline);
    CloseIfOpen(&system.m_hProcess);
}

bool StationChild::ReadEvents(std::string* data) {
    System& system = *m_system;
    while (!system.m_bAtEnd) {
        if (system.m_bReading) {
            DWORD count = 0;
            const BOOL done = GetOverlappedResult(system.m_hEvents, &system.m_overlapped, &count, FALSE);
            if (!done && GetLastError() == ERROR_IO_INCOMPLETE)
                return true;
            system.m_bReading = false;
            if (!done) {
                system.m_bAtEnd = true;  // the child's end closed the pipe
                break;
            }
            data->append(system.m_buffer, count);
        }
        system.StartRead();
    }
    return false;
}

void StationChild::Cancel(int signal) {
    if (!m_system->m_bReaped)
        SendSignal(m_system->m_hLifeline, signal);
}

void StationChild::Kill() {
    if (m_system->m_bReaped)
        return;
    m_system->m_bKilled = true;
    TerminateProcess(m_system->m_hProcess, kKilledStatus);
}

bool StationChild::TryReap(ChildExit* exit) {
    System& system = *m_system;
    if (system.m_bReaped || WaitForSingleObject(system.m_hProcess, 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(system.m_hProcess, &code);
    system.m_bReaped = true;
    *exit = DescribeChildExit(code, system.m_bKilled);
    return true;
}

void StationChild::WaitForAny(const std::vector<StationChild*>& children,
                              std::chrono::steady_clock::time_point deadline) {
    for (StationChild* child : children) {
        System& system = *child->m_system;
        if (system.m_bReaped)
            continue;
        if (WaitForSingleObject(system.m_hProcess, 0) == WAIT_OBJECT_0)
            return;  // ended, to be reaped at once
        if (!system.m_bReading && !system.m_bAtEnd)
            system.StartRead();
    }
    DWORD timeoutMs = INFINITE;
    if (deadline != std::chrono::steady_clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        timeoutMs = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
    }
    // Every packet queued so far at once: each is only a wake-up.
    OVERLAPPED_ENTRY packets[64];
    ULONG taken = 0;
    GetQueuedCompletionStatusEx(CompletionPort(), packets, 64, &taken, timeoutMs, FALSE);
}

void StationChild::WakeWaiter() { Post(); }

void StationChild::EndAllAtOnce(int signal) {
    std::lock_guard lock(g_runningMutex);
    std::vector<HANDLE> processes;
    for (const Running& running : g_running) {
        SendSignal(running.m_hLifeline, signal);
        processes.push_back(running.m_hProcess);
    }
    const ULONGLONG until = GetTickCount64() + kAtOnceBoundMs;
    for (std::size_t done = 0; done < processes.size(); done += MAXIMUM_WAIT_OBJECTS) {
        const ULONGLONG now = GetTickCount64();
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(processes.size() - done, MAXIMUM_WAIT_OBJECTS));
        WaitForMultipleObjects(count, processes.data() + done, TRUE, now < until ? static_cast<DWORD>(until - now) : 0);
    }
}

std::string StationChild::OwnProgramPath(const char* argv0) {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size())
        return argv0;
    path.resize(length);
    return WideToUtf8(path);
}
