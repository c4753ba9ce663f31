// The serial device on POSIX systems, under the port of serial_port.cpp:
// termios, poll() and eventfd.
//
// How the port is held:
//  - Opened O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC and refused unless it is a
//    terminal; then flock(LOCK_EX|LOCK_NB) and TIOCEXCL, so that a second open
//    of a port in use fails (also for root, whom TIOCEXCL lets through but
//    flock does not). The original termios is saved and restored on Close().
//  - The driver never blocks (VMIN 0, VTIME 0, O_NONBLOCK): every wait is a
//    poll() that also watches two eventfds, one that Close() makes readable
//    for good and one that Wake() makes readable until the reader takes it.
//  - The driver is asked for low latency (see serial_termios.h), and the
//    adapter's latency timer read from sysfs after that.
#include "platform/serial_termios.h"

#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <utility>

// ---------------------------------------------------------------------------
// Line settings to and from termios.

namespace {

constexpr std::array<std::pair<std::uint32_t, speed_t>, 16> kSpeeds{{
    {50, B50},
    {75, B75},
    {110, B110},
    {150, B150},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
}};

tcflag_t DataBitsFlag(int dataBits) {
    return dataBits == 7 ? CS7 : CS8;
}

int DataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

// Raw mode: every byte value passes through unchanged in both directions.
// PARMRK and ISTRIP would alter data bytes (0xFF doubled, bit 7 dropped);
// INPCK stays off so that a byte with a parity error is still delivered and
// the frame checksum decides; IXON/IXOFF/IXANY off so that no byte value
// acts as a flow-control character.
void MakeRaw(termios* tio) {
    tio->c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                      IXON | IXOFF | IXANY | IMAXBEL);
#ifdef IUCLC
    tio->c_iflag &= ~IUCLC;
#endif
    tio->c_oflag &= ~OPOST;
    tio->c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio->c_cflag |= CLOCAL | CREAD;
    // Reads never block in the driver: the port waits in poll().
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
}

}  // namespace

std::optional<speed_t> BaudToSpeed(std::uint32_t baudRate) {
    for (const auto& [baud, speed] : kSpeeds)
        if (baud == baudRate)
            return speed;
    return std::nullopt;
}

std::optional<std::uint32_t> SpeedToBaud(speed_t speed) {
    for (const auto& [baud, constant] : kSpeeds)
        if (constant == speed)
            return baud;
    return std::nullopt;
}

std::optional<termios> ApplyLineSettings(const termios& current, const LineSettings& settings) {
    const std::optional<speed_t> speed = BaudToSpeed(settings.baudRate);
    if (!speed)
        return std::nullopt;

    termios tio = current;
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);

    tio.c_cflag &= ~CSIZE;
    tio.c_cflag |= DataBitsFlag(settings.dataBits);

    tio.c_cflag &= ~(PARENB | PARODD);
#ifdef CMSPAR
    tio.c_cflag &= ~CMSPAR;
#endif
    if (settings.parity == ParityMode::Odd)
        tio.c_cflag |= PARENB | PARODD;
    else if (settings.parity == ParityMode::Even)
        tio.c_cflag |= PARENB;

    if (settings.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~CSTOPB;

    if (settings.flowControl == FlowControl::Hardware)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;

    MakeRaw(&tio);
    return tio;
}

std::optional<termios> WithBaudRate(const termios& current, std::uint32_t baudRate) {
    const std::optional<speed_t> speed = BaudToSpeed(baudRate);
    if (!speed)
        return std::nullopt;
    termios tio = current;
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);
    return tio;
}

termios MakeRawKeepingLine(const termios& current) {
    termios tio = current;
    MakeRaw(&tio);
    return tio;
}

LineSettings ReadLineSettings(const termios& tio) {
    LineSettings settings;
    settings.baudRate = SpeedToBaud(cfgetospeed(&tio)).value_or(0);
    settings.dataBits = DataBitsOf(tio.c_cflag);
    if ((tio.c_cflag & PARENB) == 0)
        settings.parity = ParityMode::None;
    else
        settings.parity = (tio.c_cflag & PARODD) ? ParityMode::Odd : ParityMode::Even;
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    settings.flowControl = (tio.c_cflag & CRTSCTS) ? FlowControl::Hardware : FlowControl::None;
    return settings;
}

// ---------------------------------------------------------------------------
// The port.

namespace {

using Clock = std::chrono::steady_clock;

// How long the output queue is waited on between two looks at it when the
// line's speed is not known.
constexpr int kDrainGuessMs = 10;

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

// Why path, when it exists, is no serial port: not a character device, or
// one of the terminals that are not lines (opening /dev/ptmx makes a new
// pseudo-terminal, which no receiver is on); "" when it may be one.
std::string NotASerialDevice(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return {};
    const char* what = S_ISREG(info.st_mode)    ? "a regular file"
                       : S_ISFIFO(info.st_mode) ? "a FIFO"
                       : S_ISDIR(info.st_mode)  ? "a directory"
                       : !S_ISCHR(info.st_mode) ? "not a character device"
                                                : nullptr;
    constexpr unsigned kTtyAuxMajor = 5;  // /dev/tty, /dev/console, /dev/ptmx
    if (what == nullptr && major(info.st_rdev) == kTtyAuxMajor && minor(info.st_rdev) <= 2) {
        static const char* const kAux[] = {"the terminal of the process", "the system console",
                                           "a new pseudo-terminal's controlling side"};
        what = kAux[minor(info.st_rdev)];
    }
    return what == nullptr ? std::string() : std::string("not a serial device (") + what + ")";
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

// Microseconds one character takes on the line. 0 when the speed is not
// known.
int CharacterTimeMicroseconds(const termios& tio) {
    const std::uint32_t baud = SpeedToBaud(cfgetospeed(&tio)).value_or(0);
    if (baud == 0)
        return 0;
    return static_cast<int>((BitsPerCharacter(ReadLineSettings(tio)) * 1000000 + baud - 1) / baud);
}

// The driver: its serial-information request and where sysfs is.
int SystemSerialInfo(int fd, unsigned long request, serial_struct* info) { return ioctl(fd, request, info); }
std::atomic<SerialInfoCall> g_serialInfoCall{SystemSerialInfo};
static_assert(std::atomic<SerialInfoCall>::is_always_lock_free);
std::mutex g_sysRootMutex;
std::string g_strSysRoot = "/sys";

int SerialInfo(int fd, unsigned long request, serial_struct* info) {
    return g_serialInfoCall.load(std::memory_order_acquire)(fd, request, info);
}

std::string SysRoot() {
    std::lock_guard lock(g_sysRootMutex);
    return g_strSysRoot;
}

// Asks the driver for low latency, its other settings as reported (info). A
// refusal changes nothing, so it needs no undoing and is not reported.
void AskLowLatency(int fd, serial_struct info) {
    info.flags |= ASYNC_LOW_LATENCY;
    SerialInfo(fd, TIOCSSERIAL, &info);
}

// Takes ASYNC_LOW_LATENCY off again, the driver's other settings as they are
// now. Async-signal-safe.
void GiveBackLowLatency(int fd) {
    serial_struct info{};
    if (SerialInfo(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) == 0)
        return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    SerialInfo(fd, TIOCSSERIAL, &info);
}

// What the emergency restore puts back: the termios the port was found with,
// and the driver's low-latency flag when the port asked for it.
struct RestoreRecord {
    termios m_tioOriginal;
    bool m_bGiveBackLowLatency;
};
static_assert(sizeof(RestoreRecord) <= kRestoreRecordSize);

// Async-signal-safe.
void PutBack(int fd, const RestoreRecord& record) {
    tcsetattr(fd, TCSANOW, &record.m_tioOriginal);
    if (record.m_bGiveBackLowLatency)
        GiveBackLowLatency(fd);
}

void RestoreAndReraise(int signal) {
    const int savedErrno = errno;
    RestoreOpenPortsNow();
    ::signal(signal, SIG_DFL);
    raise(signal);
    errno = savedErrno;
}

// Makes an eventfd readable; a no-op on one that is readable already.
void Signal(int eventFd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(eventFd, &one, sizeof one);
}

// A terminal device: held with flock and TIOCEXCL, read and written without
// blocking, every wait a poll() that also watches two eventfds: one that
// Interrupt() makes readable for good and one that Wake() makes readable
// until the reader takes it.
class TermiosDevice final : public SerialDevice {
public:
    TermiosDevice(int fd, int closeFd, int wakeFd, const RestoreRecord& original, std::optional<int> latencyMs)
        : m_nFd(fd), m_nCloseFd(closeFd), m_nWakeFd(wakeFd), m_original(original), m_latencyMs(latencyMs) {}

    bool GetLineSettings(LineSettings* settings) override;
    bool SetLineSettings(const LineSettings& settings, std::string* reason) override;
    bool SetBaudRate(std::uint32_t baudRate, std::string* reason) override;
    InputFill FillInput() override;
    bool Write(const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) override;
    bool Drain(std::string* reason) override { return WaitOutputDrained(true, reason); }
    void Wake() override { Signal(m_nWakeFd); }
    void Interrupt() override { Signal(m_nCloseFd); }
    void Restore() override;
    void Release() override;
    std::optional<int> AdapterLatencyMs() const override { return m_latencyMs; }

private:
    InputFill ReadInput(short revents);
    void TakeWake();
    bool WaitWritable();
    int DrainWaitMs(int queued) const;
    bool WaitOutputDrained(bool stopOnClose, std::string* reason);
    template <typename Change>
    bool ChangeTermios(Change change, std::string* reason);
    bool ApplyTermios(const termios& tio, std::string* reason);
    void RaiseModemLines();

    const int m_nFd;
    // Readable from the start of Close() on, so that a read or write waiting
    // in poll() returns at once.
    const int m_nCloseFd;
    // Readable from Wake() until a read has reported the wake-up.
    const int m_nWakeFd;
    const RestoreRecord m_original;
    const std::optional<int> m_latencyMs;
    std::mutex m_writeMutex;
};

bool TermiosDevice::GetLineSettings(LineSettings* settings) {
    termios tio{};
    if (tcgetattr(m_nFd, &tio) != 0)
        return false;
    *settings = ReadLineSettings(tio);
    return true;
}

bool TermiosDevice::SetLineSettings(const LineSettings& settings, std::string* reason) {
    return ChangeTermios(
        [&](const termios& current) {
            const std::optional<termios> wanted = ApplyLineSettings(current, settings);
            if (!wanted)
                *reason = UnsupportedSettingsReason(settings);
            return wanted;
        },
        reason);
}

bool TermiosDevice::SetBaudRate(std::uint32_t baudRate, std::string* reason) {
    return ChangeTermios(
        [&](const termios& current) {
            const std::optional<termios> wanted = WithBaudRate(current, baudRate);
            if (!wanted)
                *reason = "unsupported speed (" + std::to_string(baudRate) + " baud)";
            return wanted;
        },
        reason);
}

// Reads the port's termios, lets change derive the wanted record from it and
// applies that; nothing is written when change refuses (nullopt).
template <typename Change>
bool TermiosDevice::ChangeTermios(Change change, std::string* reason) {
    termios current{};
    if (tcgetattr(m_nFd, &current) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    const std::optional<termios> wanted = change(current);
    return wanted && ApplyTermios(*wanted, reason);
}

// Sleeps until the line delivers, Wake() is called, Close() starts or the
// device fails, and moves what has arrived into the input buffer. Data that
// is there is taken before a wake-up is reported, and a wake-up is left
// pending while data is handed out, so that the caller sees it at its next
// read even if that read would otherwise sleep.
InputFill TermiosDevice::FillInput() {
    for (;;) {
        pollfd fds[3] = {{m_nFd, POLLIN, 0}, {m_nCloseFd, POLLIN, 0}, {m_nWakeFd, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            MarkDead(std::strerror(errno));
            return InputFill::Failed;
        }
        if (fds[1].revents != 0)
            return InputFill::Failed;
        if (fds[0].revents != 0) {
            const InputFill filled = ReadInput(fds[0].revents);
            if (filled != InputFill::Nothing)
                return filled;
        }
        if (fds[2].revents != 0) {
            TakeWake();
            return InputFill::Woken;
        }
    }
}

// One read() after poll() reported the port: Bytes, Nothing or Failed.
InputFill TermiosDevice::ReadInput(short revents) {
    if (revents & POLLNVAL) {
        MarkDead("port descriptor is no longer valid");
        return InputFill::Failed;
    }
    const ssize_t count =
        RetryOnInterrupt([&] { return read(m_nFd, m_input.m_abyBytes, sizeof m_input.m_abyBytes); });
    if (count > 0) {
        m_input.Keep(static_cast<std::size_t>(count));
        return m_input.Empty() ? InputFill::Nothing : InputFill::Bytes;
    }
    if (count == 0) {
        // poll() said readable and the driver has nothing: end of file,
        // which a terminal reports only once the device is gone.
        MarkDead("device disconnected (end of file)");
        return InputFill::Failed;
    }
    if (errno == EAGAIN) {
        if (revents & (POLLHUP | POLLERR)) {
            MarkDead("device disconnected (hang-up)");
            return InputFill::Failed;
        }
        return InputFill::Nothing;
    }
    MarkDead(errno == EIO ? "device disconnected (I/O error)" : std::strerror(errno));
    return InputFill::Failed;
}

void TermiosDevice::TakeWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t ignored = read(m_nWakeFd, &count, sizeof count);
}

bool TermiosDevice::Write(const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) {
    std::lock_guard writeLock(m_writeMutex);
    while (*written < size) {
        const ssize_t count = write(m_nFd, data + *written, size - *written);
        if (count > 0) {
            *written += static_cast<std::uint32_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0 || errno == EAGAIN) {
            if (!WaitWritable())
                return false;
            continue;
        }
        MarkDead(errno == EIO ? "device disconnected (I/O error)" : std::strerror(errno));
        return false;
    }
    return true;
}

// Waits until the port can take more output. False when the port is being
// closed or has gone dead. No time limit: a write completes or Close() ends it.
bool TermiosDevice::WaitWritable() {
    for (;;) {
        pollfd fds[2] = {{m_nFd, POLLOUT, 0}, {m_nCloseFd, POLLIN, 0}};
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

// How long queued bytes take to leave at the line's present speed.
int TermiosDevice::DrainWaitMs(int queued) const {
    termios tio{};
    const int characterUs = tcgetattr(m_nFd, &tio) == 0 ? CharacterTimeMicroseconds(tio) : 0;
    if (characterUs == 0)
        return kDrainGuessMs;
    const long long ms = (static_cast<long long>(queued) * characterUs + 999) / 1000;
    return static_cast<int>(std::clamp<long long>(ms, 1, kDrainStallLimitMs));
}

// Waits until the driver's output queue is empty and the last byte has left
// the transmitter, sleeping for as long as the queued bytes need at the
// line's speed between looks at the queue. Gives up (false, *reason if given)
// when the queue has not shrunk for kDrainStallLimitMs: tcdrain() alone could
// wait forever on a line stalled by hardware flow control. With stopOnClose,
// also gives up when Close() starts.
bool TermiosDevice::WaitOutputDrained(bool stopOnClose, std::string* reason) {
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
            if (reason)
                *reason = OutputStalledReason();
            return false;
        }
        pollfd closing = {stopOnClose ? m_nCloseFd : -1, POLLIN, 0};
        if (poll(&closing, 1, DrainWaitMs(queued)) > 0)
            return false;
    }
    if (RetryOnInterrupt([&] { return tcdrain(m_nFd); }) == 0)
        return true;
    if (reason)
        *reason = std::strerror(errno);
    return false;
}

// Applies tio once the output written before it has left the port, so that
// a speed change never garbles bytes still queued at the old speed. Output
// stuck behind a stalled line is discarded rather than sent at the new
// speed.
bool TermiosDevice::ApplyTermios(const termios& tio, std::string* reason) {
    int when = TCSADRAIN;
    if (!WaitOutputDrained(true, nullptr)) {
        if (Closing())
            return false;
        tcflush(m_nFd, TCOFLUSH);
        when = TCSANOW;
    }
    if (RetryOnInterrupt([&] { return tcsetattr(m_nFd, when, &tio); }) != 0) {
        const int error = errno;
        if (!PtyTookSettings(m_nFd, tio)) {
            *reason = std::strerror(error);
            return false;
        }
    }
    RaiseModemLines();
    return true;
}

// DTR and RTS up while the port is open (with CRTSCTS the driver then drives
// RTS itself). A pseudo-terminal has no modem lines, so failure is ignored.
void TermiosDevice::RaiseModemLines() {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(m_nFd, TIOCMBIS, &lines);
}

// Bounded drain and the original settings, unless the device is gone.
void TermiosDevice::Restore() {
    if (Dead())
        return;
    if (!WaitOutputDrained(false, nullptr))
        tcflush(m_nFd, TCOFLUSH);
    RetryOnInterrupt([&] { return tcsetattr(m_nFd, TCSANOW, &m_original.m_tioOriginal); });
    if (m_original.m_bGiveBackLowLatency)
        GiveBackLowLatency(m_nFd);
}

// Exclusivity and lock released, descriptors closed.
void TermiosDevice::Release() {
    ioctl(m_nFd, TIOCNXCL);
    flock(m_nFd, LOCK_UN);
    close(m_nFd);
    close(m_nCloseFd);
    close(m_nWakeFd);
}

}  // namespace

void RestoreFromRecord(SerialHandle handle, const void* record) {
    RestoreRecord saved;
    std::memcpy(&saved, record, sizeof saved);
    PutBack(static_cast<int>(handle), saved);
}

void UseSerialDriver(SerialInfoCall call, const std::string& sysRoot) {
    g_serialInfoCall.store(call ? call : SystemSerialInfo, std::memory_order_release);
    std::lock_guard lock(g_sysRootMutex);
    g_strSysRoot = call ? sysRoot : "/sys";
}

std::optional<int> ReadAdapterLatencyMs(const std::string& device, const std::string& sysRoot) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path resolved = fs::canonical(device, error);
    if (error)
        return std::nullopt;
    std::ifstream file(fs::path(sysRoot) / "class" / "tty" / resolved.filename() / "device" / "latency_timer");
    int ms = -1;
    if (!(file >> ms) || ms < 0)
        return std::nullopt;
    return ms;
}

std::optional<int> AdapterLatencyMs(const std::string& name) {
    const std::string path = ResolvePortName(name);
    if (path.empty())
        return std::nullopt;
    return ReadAdapterLatencyMs(path, SysRoot());
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

std::unique_ptr<SerialPort> SerialPort::OpenSystemPort(const std::string& name, std::string* reason) {
    auto fail = [reason](const std::string& why) -> std::unique_ptr<SerialPort> {
        if (reason)
            *reason = why;
        return nullptr;
    };

    const std::string path = ResolvePortName(name);
    if (path.empty()) {
        // A name without '/' is a COM name; a file of that name here is no
        // port either, and says so.
        const std::string why = NotASerialDevice(name);
        return fail(why.empty() ? "no such port" : why);
    }
    if (const std::string why = NotASerialDevice(path); !why.empty())
        return fail(why);

    const int fd = RetryOnInterrupt([&] { return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0)
        return fail(OpenFailureReason(errno));

    // Everything below undoes what was done so far before it reports.
    bool exclusive = false;
    bool configured = false;
    RestoreRecord record{};
    int restoreSlot = -1;
    int eventFds[2] = {-1, -1};
    auto failOpen = [&](const std::string& why) {
        for (int eventFd : eventFds)
            if (eventFd >= 0)
                close(eventFd);
        if (configured)
            tcsetattr(fd, TCSANOW, &record.m_tioOriginal);
        UnregisterForRestore(restoreSlot);
        if (exclusive)
            ioctl(fd, TIOCNXCL);
        close(fd);  // also drops the flock
        return fail(why);
    };

    if (!isatty(fd))
        return failOpen("not a serial device");
    // flock keeps out every other careful program, root included; TIOCEXCL
    // also keeps out programs that do not lock (root passes it).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return failOpen(OpenFailureReason(errno));
    if (ioctl(fd, TIOCEXCL) != 0)
        return failOpen(OpenFailureReason(errno));
    exclusive = true;
    if (tcgetattr(fd, &record.m_tioOriginal) != 0)
        return failOpen(OpenFailureReason(errno));
    // Whether low latency is to be asked for (and so given back) is known
    // before anything changes; it is asked for last, once nothing can fail.
    serial_struct driver{};
    record.m_bGiveBackLowLatency =
        SerialInfo(fd, TIOCGSERIAL, &driver) == 0 && (driver.flags & ASYNC_LOW_LATENCY) == 0;
    // From the first change on, a fatal signal must be able to undo it.
    restoreSlot = RegisterForRestore(fd, &record, sizeof record);
    const termios raw = MakeRawKeepingLine(record.m_tioOriginal);
    if (RetryOnInterrupt([&] { return tcsetattr(fd, TCSANOW, &raw); }) != 0)
        return failOpen(OpenFailureReason(errno));
    configured = true;
    for (int& eventFd : eventFds)
        if ((eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0)
            return failOpen(std::strerror(errno));

    if (record.m_bGiveBackLowLatency)
        AskLowLatency(fd, driver);
    // The adapter's timer as the request left it.
    const std::optional<int> latencyMs = ReadAdapterLatencyMs(path, SysRoot());
    return std::make_unique<SerialPort>(
        path, std::make_unique<TermiosDevice>(fd, eventFds[0], eventFds[1], record, latencyMs), restoreSlot);
}
