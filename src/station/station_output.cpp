#include "station/station_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What an open that failed with error means for path.
std::string OpenFailure(const std::string& path, int error) {
    struct stat status {};
    if (error == ENXIO && stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode))
        return "a FIFO that no program reads";
    return std::strerror(error);
}

}  // namespace

StationOutput::~StationOutput() { Close(); }

bool StationOutput::Open(const std::string& path, bool append, std::string* reason) {
    Close();
    m_strPath = path;
    // Without waiting for a FIFO's reader: a FIFO nobody reads fails at once.
    const int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK | (append ? O_APPEND : 0);
    m_nFd = open(path.c_str(), flags);
    if (m_nFd < 0 && errno == ENOENT) {
        m_nFd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
        m_bCreated = m_nFd >= 0;
    }
    if (m_nFd < 0) {
        *reason = OpenFailure(path, errno);
        return false;
    }
    m_bOwned = true;
    fcntl(m_nFd, F_SETFL, fcntl(m_nFd, F_GETFL) & ~O_NONBLOCK);
    if (!Try(reason)) {
        Discard();
        return false;
    }
    return true;
}

bool StationOutput::Adopt(int fd, std::string* reason) {
    Close();
    m_nFd = fd;
    return Try(reason);
}

bool StationOutput::Try(std::string* reason) {
    struct stat status {};
    if (fstat(m_nFd, &status) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    m_bRegular = S_ISREG(status.st_mode);
    ssize_t n;
    if (!m_bRegular) {
        while ((n = write(m_nFd, "", 0)) < 0 && errno == EINTR) {
        }
        if (n < 0)
            *reason = std::strerror(errno);
        return n >= 0;
    }
    // A line's worth at the end, taken off again: under the lock that every
    // append to a shared record takes, so that no other line is cut.
    flock(m_nFd, LOCK_EX);
    fstat(m_nFd, &status);
    const std::string probe(kProbeBytes, ' ');
    int error = 0;
    if (lseek(m_nFd, status.st_size, SEEK_SET) < 0)
        error = errno;
    for (std::size_t done = 0; done < probe.size() && error == 0;) {
        n = write(m_nFd, probe.data() + done, probe.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? ENOSPC : errno;
    }
    if (ftruncate(m_nFd, status.st_size) != 0 && error == 0)
        error = errno;
    lseek(m_nFd, status.st_size, SEEK_SET);
    flock(m_nFd, LOCK_UN);
    if (error != 0)
        *reason = std::strerror(error);
    return error == 0;
}

void StationOutput::Discard() {
    const bool remove = m_bCreated;
    Close();
    if (remove)
        unlink(m_strPath.c_str());
}

void StationOutput::Close() {
    if (m_bOwned && m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
    m_bOwned = m_bRegular = m_bCreated = false;
}
