#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/serial_termios.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bytes taken from the driver per read() call, as large as the input queue
// the port asks for on the system the tool was first written for.
constexpr std::size_t kInputBufferSize = 300;
// How often the output queue is looked at while waiting for it to drain.
constexpr int kDrainPollMs = 2;

struct ComName {
    const char* name;
    const char* path;
};
constexpr ComName kComNames[] = {
    {"COM1", "/dev/ttyS0"},
    {"COM2", "/dev/ttyS1"},
    {"COM3", "/dev/ttyS2"},
    {"COM4", "/dev/ttyS3"},
};

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    const std::size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    return true;
}

std::string OpenFailureReason(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "no such device";
    case EACCES:
    case EPERM:
        return "permission denied (add the user to the 'dialout' group)";
    case EBUSY:
    case EWOULDBLOCK:
        return "device busy (in use by another program)";
    default:
        return std::strerror(error);
    }
}

// Runs call until it does not fail with EINTR; returns its last result.
template <typename Call>
auto RetryOnInterrupt(Call call) {
    for (;;) {
        auto result = call();
        if (!(result == -1 && errno == EINTR))
            return result;
    }
}

// glibc's tcsetattr reports EINVAL when the driver did not keep PARENB or
// the character size it was given. A pseudo-terminal never keeps them (it is
// always 8 bits without parity), so on a pty the change counts as made when
// everything else was taken.
bool PtyTookSettings(int fd, const termios& wanted) {
    if (errno != EINVAL)
        return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned int deviceMajor = major(info.st_rdev);
    if (deviceMajor < 136 || deviceMajor > 143)  // Unix98 pty slaves
        return false;
    termios actual{};
    if (tcgetattr(fd, &actual) != 0)
        return false;
    const tcflag_t ptyFixed = PARENB | CSIZE;
    return (actual.c_cflag & ~ptyFixed) == (wanted.c_cflag & ~ptyFixed) && actual.c_iflag == wanted.c_iflag &&
           actual.c_lflag == wanted.c_lflag;
}

// The emergency-restore table: one slot per open port. A slot is claimed
// (m_bClaimed), its termios written, and only then its descriptor published;
// a reader that sees a descriptor therefore sees the termios that belongs to
// it. Lock-free atomics only, so that a signal handler may read it.
struct RestoreSlot {
    std::atomic<bool> m_bClaimed{false};
    std::atomic<int> m_nFd{-1};
    termios m_tioOriginal{};
};
constexpr std::size_t kRestoreSlots = 16;
RestoreSlot g_restoreSlots[kRestoreSlots];
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Returns the slot now holding fd, or -1 when the table is full (the port
// then has no emergency restore; Close() still restores it).
int RegisterForRestore(int fd, const termios& original) {
    for (std::size_t i = 0; i < kRestoreSlots; ++i) {
        bool expected = false;
        if (!g_restoreSlots[i].m_bClaimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
            continue;
        g_restoreSlots[i].m_tioOriginal = original;
        g_restoreSlots[i].m_nFd.store(fd, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void UnregisterForRestore(int slot) {
    if (slot < 0)
        return;
    g_restoreSlots[slot].m_nFd.store(-1, std::memory_order_release);
    g_restoreSlots[slot].m_bClaimed.store(false, std::memory_order_release);
}

void RestoreAndReraise(int signal) {
    const int savedErrno = errno;
    RestoreOpenPortsNow();
    ::signal(signal, SIG_DFL);
    raise(signal);
    errno = savedErrno;
}

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

void RestoreOpenPortsNow() {
    for (RestoreSlot& slot : g_restoreSlots) {
        const int fd = slot.m_nFd.load(std::memory_order_acquire);
        if (fd >= 0)
            tcsetattr(fd, TCSANOW, &slot.m_tioOriginal);
    }
}

void RestorePortsOnFatalSignals() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = RestoreAndReraise;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

std::string ResolvePortName(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    for (const ComName& com : kComNames)
        if (EqualsIgnoringCase(name, com.name))
            return com.path;
    return {};
}

struct SerialPort::Impl {
    std::string m_strDevicePath;
    int m_nFd = -1;
    // Becomes readable when Close() starts, so that a read or write waiting
    // in poll() returns at once.
    int m_nWakeFd = -1;
    termios m_tioOriginal{};
    int m_nRestoreSlot = -1;
    std::atomic<ReadProfile> m_readProfile{ReadProfile::Normal};

    // Guards the fields below. Close() sets m_bClosed, then waits until no
    // operation is in progress (m_nActive back to 0) before it touches the
    // descriptor.
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_nActive = 0;
    std::atomic<bool> m_bClosed{false};
    bool m_bReleased = false;
    std::atomic<bool> m_bDead{false};
    std::string m_strDeadReason;

    // One reader and one writer at a time; the input buffer belongs to the
    // reader.
    std::mutex m_readMutex;
    std::mutex m_writeMutex;
    BYTE m_abyInput[kInputBufferSize];
    std::size_t m_nInputHead = 0;
    std::size_t m_nInputTail = 0;

    bool InputEmpty() const { return m_nInputHead == m_nInputTail; }
    void MarkDead(const std::string& reason);
    bool FillInput(int timeoutMs);
    bool WaitWritable();
    bool WaitOutputDrained(bool stopOnClose);
    bool ApplyTermios(const termios& tio);
    void RaiseModemLines();
    void Release();
};

namespace {

// Counts an I/O call as in progress for its lifetime, unless the port is
// already closed or dead.
class IoScope {
public:
    explicit IoScope(SerialPort::Impl& port) : m_port(port) {
        std::lock_guard lock(m_port.m_mutex);
        m_bEntered = !m_port.m_bClosed && !m_port.m_bDead;
        if (m_bEntered)
            ++m_port.m_nActive;
    }
    ~IoScope() {
        if (!m_bEntered)
            return;
        std::lock_guard lock(m_port.m_mutex);
        if (--m_port.m_nActive == 0)
            m_port.m_idle.notify_all();
    }
    IoScope(const IoScope&) = delete;
    IoScope& operator=(const IoScope&) = delete;
    explicit operator bool() const { return m_bEntered; }

private:
    SerialPort::Impl& m_port;
    bool m_bEntered;
};

}  // namespace

void SerialPort::Impl::MarkDead(const std::string& reason) {
    std::lock_guard lock(m_mutex);
    if (m_bDead)
        return;
    m_strDeadReason = reason;
    m_bDead = true;
}

// Waits up to timeoutMs for bytes and moves what has arrived into the input
// buffer, dropping 0x00 bytes. True with an empty buffer on time-out; false
// when the port is being closed or has gone dead.
bool SerialPort::Impl::FillInput(int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd fds[2] = {{m_nFd, POLLIN, 0}, {m_nWakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, MillisecondsUntil(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            MarkDead(std::strerror(errno));
            return false;
        }
        if (fds[1].revents != 0)
            return false;
        if (ready == 0)
            return true;
        if (fds[0].revents & POLLNVAL) {
            MarkDead("port descriptor is no longer valid");
            return false;
        }
        const ssize_t count = read(m_nFd, m_abyInput, sizeof m_abyInput);
        if (count > 0) {
            // NUL bytes are line noise to this protocol: a frame never
            // carries one, so the port drops them before anyone sees them.
            BYTE* const end = std::remove(m_abyInput, m_abyInput + count, BYTE{0});
            m_nInputHead = 0;
            m_nInputTail = static_cast<std::size_t>(end - m_abyInput);
            if (!InputEmpty())
                return true;
            continue;
        }
        if (count == 0) {
            // poll() said readable and the driver has nothing: end of file,
            // which a terminal reports only once the device is gone.
            MarkDead("device disconnected (end of file)");
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            if (fds[0].revents & (POLLHUP | POLLERR)) {
                MarkDead("device disconnected (hang-up)");
                return false;
            }
            if (Clock::now() >= deadline)
                return true;
            continue;
        }
        MarkDead(errno == EIO ? "device disconnected (I/O error)" : std::strerror(errno));
        return false;
    }
}

// Waits until the port can take more output. False when the port is being
// closed or has gone dead. No time limit: a write completes or Close() ends it.
bool SerialPort::Impl::WaitWritable() {
    for (;;) {
        pollfd fds[2] = {{m_nFd, POLLOUT, 0}, {m_nWakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            MarkDead(std::strerror(errno));
            return false;
        }
        if (fds[1].revents != 0)
            return false;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            MarkDead("device disconnected (hang-up)");
            return false;
        }
        if (fds[0].revents & POLLOUT)
            return true;
    }
}

// Waits until the driver's output queue is empty and the last byte has left
// the transmitter. Gives up (false) when the queue has not shrunk for
// kDrainStallLimitMs: tcdrain() alone could wait forever on a line stalled
// by hardware flow control. With stopOnClose, also gives up when Close()
// starts.
bool SerialPort::Impl::WaitOutputDrained(bool stopOnClose) {
    int lastQueued = -1;
    Clock::time_point lastProgress = Clock::now();
    for (;;) {
        int queued = 0;
        if (ioctl(m_nFd, TIOCOUTQ, &queued) < 0)
            break;  // no queue count from this driver: rely on tcdrain()
        if (queued == 0)
            break;
        if (lastQueued < 0 || queued < lastQueued) {
            lastQueued = queued;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress >= std::chrono::milliseconds(kDrainStallLimitMs)) {
            return false;
        }
        pollfd wake = {stopOnClose ? m_nWakeFd : -1, POLLIN, 0};
        if (poll(&wake, 1, kDrainPollMs) > 0)
            return false;
    }
    return RetryOnInterrupt([&] { return tcdrain(m_nFd); }) == 0;
}

// Applies tio once the output written before it has left the port, so that
// a speed change never garbles bytes still queued at the old speed. Output
// stuck behind a stalled line is discarded rather than sent at the new
// speed.
bool SerialPort::Impl::ApplyTermios(const termios& tio) {
    int when = TCSADRAIN;
    if (!WaitOutputDrained(true)) {
        if (m_bClosed)
            return false;
        tcflush(m_nFd, TCOFLUSH);
        when = TCSANOW;
    }
    if (RetryOnInterrupt([&] { return tcsetattr(m_nFd, when, &tio); }) != 0 && !PtyTookSettings(m_nFd, tio))
        return false;
    RaiseModemLines();
    return true;
}

// DTR and RTS up while the port is open (with CRTSCTS the driver then drives
// RTS itself). A pseudo-terminal has no modem lines, so failure is ignored.
void SerialPort::Impl::RaiseModemLines() {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(m_nFd, TIOCMBIS, &lines);
}

// Gives the device back: bounded drain, original settings, exclusivity and
// lock released, descriptors closed. Runs with no I/O call in progress.
void SerialPort::Impl::Release() {
    if (m_nFd >= 0) {
        if (!m_bDead) {
            if (!WaitOutputDrained(false))
                tcflush(m_nFd, TCOFLUSH);
            RetryOnInterrupt([&] { return tcsetattr(m_nFd, TCSANOW, &m_tioOriginal); });
        }
        // Before the descriptor is closed, so that an emergency restore never
        // reaches a number the system may hand out again.
        UnregisterForRestore(m_nRestoreSlot);
        m_nRestoreSlot = -1;
        ioctl(m_nFd, TIOCNXCL);
        flock(m_nFd, LOCK_UN);
        close(m_nFd);
        m_nFd = -1;
    }
    if (m_nWakeFd >= 0) {
        close(m_nWakeFd);
        m_nWakeFd = -1;
    }
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SerialPort::~SerialPort() {
    Close();
}

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& name, std::string* reason) {
    auto fail = [reason](const std::string& why) -> std::unique_ptr<SerialPort> {
        if (reason)
            *reason = why;
        return nullptr;
    };

    const std::string path = ResolvePortName(name);
    if (path.empty())
        return fail("no such port");

    const int fd = RetryOnInterrupt([&] { return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0)
        return fail(OpenFailureReason(errno));

    // Everything below undoes what was done so far before it reports.
    bool exclusive = false;
    bool configured = false;
    termios original{};
    int restoreSlot = -1;
    auto failOpen = [&](const std::string& why) {
        if (configured)
            tcsetattr(fd, TCSANOW, &original);
        UnregisterForRestore(restoreSlot);
        if (exclusive)
            ioctl(fd, TIOCNXCL);
        close(fd);  // also drops the flock
        return fail(why);
    };

    if (!isatty(fd))
        return failOpen("not a terminal");
    // flock keeps out every other careful program, root included; TIOCEXCL
    // also keeps out programs that do not lock (root passes it).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return failOpen(OpenFailureReason(errno));
    if (ioctl(fd, TIOCEXCL) != 0)
        return failOpen(OpenFailureReason(errno));
    exclusive = true;
    if (tcgetattr(fd, &original) != 0)
        return failOpen(OpenFailureReason(errno));
    // From the first change on, a fatal signal must be able to undo it.
    restoreSlot = RegisterForRestore(fd, original);
    const termios raw = MakeRawKeepingLine(original);
    if (RetryOnInterrupt([&] { return tcsetattr(fd, TCSANOW, &raw); }) != 0)
        return failOpen(OpenFailureReason(errno));
    configured = true;
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0)
        return failOpen(std::strerror(errno));

    auto impl = std::make_unique<Impl>();
    impl->m_strDevicePath = path;
    impl->m_nFd = fd;
    impl->m_nWakeFd = wakeFd;
    impl->m_tioOriginal = original;
    impl->m_nRestoreSlot = restoreSlot;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl)));
}

bool SerialPort::GetLineSettings(LineSettings* settings) {
    IoScope io(*m_impl);
    if (!io)
        return false;
    termios tio{};
    if (tcgetattr(m_impl->m_nFd, &tio) != 0)
        return false;
    *settings = ReadLineSettings(tio);
    return true;
}

namespace {

// Reads the port's termios, lets change derive the wanted record from it and
// applies that; nothing is written when change refuses (nullopt).
template <typename Change>
bool ChangeTermios(SerialPort::Impl& impl, int fd, Change change) {
    termios current{};
    if (tcgetattr(fd, &current) != 0)
        return false;
    const std::optional<termios> wanted = change(current);
    return wanted && impl.ApplyTermios(*wanted);
}

}  // namespace

bool SerialPort::SetLineSettings(const LineSettings& settings) {
    IoScope io(*m_impl);
    return io && ChangeTermios(*m_impl, m_impl->m_nFd,
                               [&](const termios& current) { return ApplyLineSettings(current, settings); });
}

bool SerialPort::SetBaudRate(DWORD baudRate) {
    IoScope io(*m_impl);
    return io && ChangeTermios(*m_impl, m_impl->m_nFd,
                               [&](const termios& current) { return WithBaudRate(current, baudRate); });
}

void SerialPort::SetReadProfile(ReadProfile profile) {
    m_impl->m_readProfile.store(profile, std::memory_order_release);
}

ReadProfile SerialPort::GetReadProfile() const {
    return m_impl->m_readProfile.load(std::memory_order_acquire);
}

bool SerialPort::ReadByte(BYTE* byte, DWORD* count) {
    *count = 0;
    IoScope io(*m_impl);
    if (!io)
        return false;
    Impl& port = *m_impl;
    std::lock_guard readLock(port.m_readMutex);
    if (port.InputEmpty()) {
        // Both profiles hand out a byte the moment it is there; they differ
        // only in how long an idle line is waited on.
        const int timeoutMs =
            GetReadProfile() == ReadProfile::Transfer ? kTransferIdleWaitMs : kNormalReadTimeoutMs;
        if (!port.FillInput(timeoutMs))
            return false;
        if (port.InputEmpty())
            return true;
    }
    *byte = port.m_abyInput[port.m_nInputHead++];
    *count = 1;
    return true;
}

bool SerialPort::Write(const void* data, DWORD size, DWORD* written) {
    *written = 0;
    IoScope io(*m_impl);
    if (!io)
        return false;
    Impl& port = *m_impl;
    std::lock_guard writeLock(port.m_writeMutex);
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (*written < size) {
        const ssize_t count = write(port.m_nFd, bytes + *written, size - *written);
        if (count > 0) {
            *written += static_cast<DWORD>(count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0 || errno == EAGAIN) {
            if (!port.WaitWritable())
                return false;
            continue;
        }
        port.MarkDead(errno == EIO ? "device disconnected (I/O error)" : std::strerror(errno));
        return false;
    }
    return true;
}

bool SerialPort::Drain() {
    IoScope io(*m_impl);
    if (!io)
        return false;
    return m_impl->WaitOutputDrained(true);
}

void SerialPort::Close() {
    Impl& port = *m_impl;
    {
        std::unique_lock lock(port.m_mutex);
        if (port.m_bClosed) {
            // Another thread is closing it: return once it is really closed.
            port.m_idle.wait(lock, [&] { return port.m_bReleased; });
            return;
        }
        port.m_bClosed = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = write(port.m_nWakeFd, &one, sizeof one);
        port.m_idle.wait(lock, [&] { return port.m_nActive == 0; });
    }
    port.Release();
    {
        std::lock_guard lock(port.m_mutex);
        port.m_bReleased = true;
    }
    port.m_idle.notify_all();
}

bool SerialPort::IsClosed() const {
    return m_impl->m_bClosed.load(std::memory_order_acquire);
}

bool SerialPort::IsDead() const {
    return m_impl->m_bDead.load(std::memory_order_acquire);
}

std::string SerialPort::DeadReason() const {
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_strDeadReason;
}

const std::string& SerialPort::DevicePath() const {
    return m_impl->m_strDevicePath;
}
