// The simulator's line on POSIX systems: the master side of a pseudo-terminal
// it creates, or a serial device.
#include "sim/sim_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <utility>

namespace {

// What one read takes off the line at most: more than a pty holds at once.
constexpr std::size_t kReadBlock = 4096;

struct BaudPair {
    unsigned baud;
    speed_t speed;
};
constexpr BaudPair kBauds[] = {{300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},
                               {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400},
                               {57600, B57600}, {115200, B115200}};

speed_t SpeedFor(unsigned baud) {
    for (const BaudPair& pair : kBauds)
        if (pair.baud == baud)
            return pair.speed;
    return B19200;
}

std::optional<unsigned> BaudFor(speed_t speed) {
    for (const BaudPair& pair : kBauds)
        if (pair.speed == speed)
            return pair.baud;
    return std::nullopt;
}

// Raw mode at baud, 8 data bits; odd parity on a device. A pty is left
// without parity bits: it clears PARENB anyway, and a slave left with PARODD
// alone makes the C library reject the tool's own parity setting (it reads
// the flags back and finds PARENB missing).
bool SetRaw(int fd, unsigned baud, bool parity, std::string* reason) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        if (reason)
            *reason = strerror(errno);
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD | CS8;
    if (parity)
        tio.c_cflag |= PARENB | PARODD;
    tio.c_cflag &= ~(CSTOPB | CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, SpeedFor(baud));
    cfsetospeed(&tio, SpeedFor(baud));
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        if (reason)
            *reason = strerror(errno);
        return false;
    }
    return true;
}

// The master side of a pseudo-terminal, or a serial device.
class FdLine final : public SimLine {
public:
    FdLine(std::string toolPath, int fd, int slaveFd, bool pty)
        : SimLine(std::move(toolPath)), m_fd(fd), m_slaveFd(slaveFd), m_bPty(pty) {}
    ~FdLine() override;

    // The eventfd Wake() signals; false when it cannot be made.
    bool MakeWakeFd();

    bool SeesToolSide() const override { return m_bPty; }
    bool IsClosed() const override { return m_fd < 0; }
    ReadResult Read(std::vector<std::uint8_t>* out, std::chrono::milliseconds timeout) override;
    void Wake() override;
    std::optional<unsigned> ToolBaud() const override;
    std::size_t UnreadByTool() const override;
    void DiscardUnread() override;
    void HoldToolOutput() override;
    void Close() override;

protected:
    Put WriteSome(const std::uint8_t* data, std::size_t size, std::size_t* written,
                  std::chrono::steady_clock::time_point until) override;
    void ApplyBaud(unsigned baud) override;

private:
    void DrainWake();

    int m_fd = -1;       // master or device
    int m_slaveFd = -1;  // pty only: keeps the slave open between the tool's opens
    int m_wakeFd = -1;   // eventfd
    bool m_bPty = false;
};

}  // namespace

std::unique_ptr<SimLine> SimLine::CreatePty(std::string* reason) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        if (reason)
            *reason = std::string("cannot create a pseudo-terminal: ") + strerror(errno);
        return nullptr;
    }
    const char* name = ptsname(master);
    auto line = std::make_unique<FdLine>(name ? name : "", master, slave, true);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    if (!line->MakeWakeFd() || line->ToolPath().empty() || !SetRaw(slave, 19200, false, reason)) {
        if (reason && reason->empty())
            *reason = std::string("cannot set up the pseudo-terminal: ") + strerror(errno);
        return nullptr;
    }
    return line;
}

std::unique_ptr<SimLine> SimLine::OpenDevice(const std::string& path, std::string* reason) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (reason)
            *reason = "cannot open " + path + ": " + strerror(errno);
        return nullptr;
    }
    auto line = std::make_unique<FdLine>(path, fd, -1, false);
    std::string why;
    if (!line->MakeWakeFd() || !isatty(fd) || !SetRaw(fd, 19200, true, &why)) {
        if (reason)
            *reason = path + " is not a usable serial device" + (why.empty() ? "" : ": " + why);
        return nullptr;
    }
    return line;
}

bool FdLine::MakeWakeFd() {
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return m_wakeFd >= 0;
}

FdLine::~FdLine() {
    Close();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

void FdLine::Close() {
    if (m_fd >= 0)
        close(m_fd);
    if (m_slaveFd >= 0)
        close(m_slaveFd);
    m_fd = -1;
    m_slaveFd = -1;
}

void FdLine::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(m_wakeFd, &one, sizeof one);
}

void FdLine::DrainWake() {
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t n = read(m_wakeFd, &value, sizeof value);
}

SimLine::Put FdLine::WriteSome(const std::uint8_t* data, std::size_t size, std::size_t* written,
                               std::chrono::steady_clock::time_point until) {
    using Clock = std::chrono::steady_clock;
    for (;;) {
        const ssize_t n = write(m_fd, data, size);
        if (n > 0) {
            *written = static_cast<std::size_t>(n);
            return Put::Wrote;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return Put::Closed;
        // The line is full: wait for room or a wake-up.
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero())
            return Put::TimedOut;
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1;
        if (poll(fds, 2, ms) > 0 && (fds[1].revents & POLLIN)) {
            DrainWake();
            return Put::Woken;
        }
    }
}

SimLine::ReadResult FdLine::Read(std::vector<std::uint8_t>* out, std::chrono::milliseconds timeout) {
    if (m_fd < 0)
        return ReadResult::Closed;
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(std::max<long>(0, timeout.count())));
    if (ready <= 0)
        return ReadResult::Timeout;
    if (fds[1].revents & POLLIN) {
        DrainWake();
        return ReadResult::Woken;
    }
    const std::size_t before = out->size();
    out->resize(before + kReadBlock);
    const ssize_t n = read(m_fd, out->data() + before, kReadBlock);
    out->resize(before + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0)
        return ReadResult::Data;
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return ReadResult::Timeout;
    if (m_bPty && (fds[0].revents & POLLHUP)) {
        // The slave stays open on our side, so a pty master reports no
        // hang-up while the tool comes and goes; anything else is the end.
        std::this_thread::sleep_for(std::min(timeout, std::chrono::milliseconds(10)));
        return ReadResult::Timeout;
    }
    return ReadResult::Closed;
}

void FdLine::ApplyBaud(unsigned baud) {
    if (!m_bPty && m_fd >= 0) {
        termios tio{};
        if (tcgetattr(m_fd, &tio) == 0) {
            cfsetispeed(&tio, SpeedFor(baud));
            cfsetospeed(&tio, SpeedFor(baud));
            tcsetattr(m_fd, TCSADRAIN, &tio);
        }
    }
}

std::optional<unsigned> FdLine::ToolBaud() const {
    if (!m_bPty || m_fd < 0)
        return std::nullopt;
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0)
        return std::nullopt;
    return BaudFor(cfgetospeed(&tio));
}

std::size_t FdLine::UnreadByTool() const {
    int count = 0;
    if (!m_bPty || m_slaveFd < 0 || ioctl(m_slaveFd, FIONREAD, &count) != 0 || count < 0)
        return 0;
    return static_cast<std::size_t>(count);
}

void FdLine::DiscardUnread() {
    if (m_bPty && m_slaveFd >= 0)
        tcflush(m_slaveFd, TCIFLUSH);
}

void FdLine::HoldToolOutput() {
    if (m_bPty && m_slaveFd >= 0)
        tcflow(m_slaveFd, TCOOFF);
}
