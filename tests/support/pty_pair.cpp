#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&m_nMasterFd, &m_nSlaveFd, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    m_strSlavePath = name;
    fcntl(m_nMasterFd, F_SETFD, FD_CLOEXEC);
    fcntl(m_nSlaveFd, F_SETFD, FD_CLOEXEC);
    fcntl(m_nMasterFd, F_SETFL, fcntl(m_nMasterFd, F_GETFL) | O_NONBLOCK);
    termios raw{};
    tcgetattr(m_nSlaveFd, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_nSlaveFd, TCSANOW, &raw);
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (m_nSlaveFd >= 0)
        close(m_nSlaveFd);
}

bool PtyPair::WriteMaster(const std::vector<std::uint8_t>& bytes) {
    return WriteMaster(bytes.data(), bytes.size());
}

bool PtyPair::WriteMaster(std::string_view bytes) {
    return WriteMaster(bytes.data(), bytes.size());
}

bool PtyPair::WriteMaster(const void* data, std::size_t size) {
    if (m_nMasterFd < 0)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = write(m_nMasterFd, bytes + done, size - done);
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EAGAIN) {
            pollfd out = {m_nMasterFd, POLLOUT, 0};
            poll(&out, 1, 100);
        } else if (!(count < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> PtyPair::ReadMaster(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> bytes;
    if (m_nMasterFd < 0)
        return bytes;
    const Clock::time_point deadline = Clock::now() + timeout;
    while (bytes.size() < count) {
        pollfd in = {m_nMasterFd, POLLIN, 0};
        const int ready = poll(&in, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        std::uint8_t buffer[4096];
        const std::size_t want = std::min(sizeof buffer, count - bytes.size());
        const ssize_t got = read(m_nMasterFd, buffer, want);
        if (got > 0)
            bytes.insert(bytes.end(), buffer, buffer + got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return bytes;
}

namespace {

// Polls the count of unread bytes at the slave until done(count) holds.
template <typename Done>
bool WaitForSlaveCount(int slaveFd, std::chrono::milliseconds timeout, Done done) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        int waiting = 0;
        if (ioctl(slaveFd, FIONREAD, &waiting) != 0)
            return false;
        if (done(static_cast<std::size_t>(waiting)))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

bool PtyPair::WaitForSlaveInput(std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitForSlaveCount(m_nSlaveFd, timeout, [count](std::size_t waiting) { return waiting >= count; });
}

bool PtyPair::WaitUntilSlaveInputTaken(std::chrono::milliseconds timeout) const {
    return WaitForSlaveCount(m_nSlaveFd, timeout, [](std::size_t waiting) { return waiting == 0; });
}

bool PtyPair::Deliver(const std::vector<std::uint8_t>& bytes) {
    return WriteMaster(bytes) && WaitForSlaveInput(bytes.size(), std::chrono::seconds(10));
}

std::size_t PtyPair::FillTowardsMaster() {
    // Through the helper's own slave descriptor, made non-blocking for the
    // fill (its own open file: the port under test keeps its flags). The pty
    // moves bytes on between its buffers a little later, and takes a short
    // write when a long one no longer fits: fill with ever shorter writes,
    // down to single bytes, until two rounds in a row take nothing and the
    // master's read buffer (4 KiB less one byte) is full, so that a late
    // move between the buffers cannot make room afterwards.
    constexpr int kMasterBufferFull = 4095;
    const int flags = fcntl(m_nSlaveFd, F_GETFL);
    fcntl(m_nSlaveFd, F_SETFL, flags | O_NONBLOCK);
    const std::vector<std::uint8_t> junk(4096, 0x11);
    std::size_t filled = 0;
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto masterFull = [this] {
        int pending = 0;
        return ioctl(m_nMasterFd, FIONREAD, &pending) == 0 && pending >= kMasterBufferFull;
    };
    for (int emptyRounds = 0; emptyRounds < 2 || (!masterFull() && std::chrono::steady_clock::now() < giveUpAt);) {
        std::size_t round = 0;
        for (std::size_t size : {4096, 256, 16, 1})
            for (ssize_t n; (n = write(m_nSlaveFd, junk.data(), size)) > 0;)
                round += static_cast<std::size_t>(n);
        filled += round;
        emptyRounds = round == 0 ? emptyRounds + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    fcntl(m_nSlaveFd, F_SETFL, flags);
    return filled;
}

void PtyPair::CloseMaster() {
    if (m_nMasterFd >= 0) {
        close(m_nMasterFd);
        m_nMasterFd = -1;
    }
}

termios PtyPair::SlaveTermios() const {
    termios tio{};
    tcgetattr(m_nSlaveFd, &tio);
    return tio;
}
