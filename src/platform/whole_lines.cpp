#include "platform/whole_lines.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Where a write to fd lands, when that is the end of a regular file (the
// only place a failed line can be cut back from); -1 otherwise.
off_t EndOfRegularFile(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_APPEND) != 0)
        return status.st_size;
    // Written at the descriptor's offset: only there it is the end.
    return lseek(fd, 0, SEEK_CUR) == status.st_size ? status.st_size : -1;
}

bool WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The disk has the file's data; nothing to do where the descriptor cannot
// be synced (a pipe, a terminal).
bool Synced(int fd) { return fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

// What an open that failed with error means for path.
std::string OpenFailure(const std::string& path, int error) {
    struct stat status {};
    if (error == ENXIO && stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode))
        return "a FIFO that no program reads";
    return std::strerror(error);
}

}  // namespace

bool AppendWholeLine(int fd, const std::string& text, std::string* reason, bool sync) {
    const off_t before = EndOfRegularFile(fd);
    if (WriteAll(fd, text) && (!sync || Synced(fd)))
        return true;
    *reason = std::strerror(errno);
    if (before < 0)
        return false;
    if (ftruncate(fd, before) != 0)
        *reason += std::string(" (and the file could not be cut back to its last whole line: ") +
                   std::strerror(errno) + ")";
    else
        lseek(fd, before, SEEK_SET);
    return false;
}

WholeLinesLock::WholeLinesLock(int fd) : m_nFd(fd) {
    int result;
    while ((result = flock(m_nFd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    m_bLocked = result == 0;
}

WholeLinesLock::~WholeLinesLock() {
    if (m_bLocked)
        flock(m_nFd, LOCK_UN);
}

int OpenWholeLinesFile(const std::string& path, bool append, bool* created, std::string* reason) {
    // Without waiting for a FIFO's reader: a FIFO nobody reads fails at once.
    const int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK | (append ? O_APPEND : 0);
    int fd = open(path.c_str(), flags);
    *created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
        *created = fd >= 0;
    }
    if (fd < 0) {
        *reason = OpenFailure(path, errno);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool TryWholeLines(int fd, std::size_t bytes, bool* regular, std::string* reason) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    *regular = S_ISREG(status.st_mode);
    ssize_t n;
    if (!*regular) {
        while ((n = write(fd, "", 0)) < 0 && errno == EINTR) {
        }
        if (n < 0)
            *reason = std::strerror(errno);
        return n >= 0;
    }
    // A line's worth at the end, taken off again: under the lock that every
    // append to a shared record takes, so that no other line is cut.
    WholeLinesLock lock(fd);
    fstat(fd, &status);
    const std::string probe(bytes, ' ');
    int error = 0;
    if (lseek(fd, status.st_size, SEEK_SET) < 0)
        error = errno;
    for (std::size_t done = 0; done < probe.size() && error == 0;) {
        n = write(fd, probe.data() + done, probe.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? ENOSPC : errno;
    }
    if (ftruncate(fd, status.st_size) != 0 && error == 0)
        error = errno;
    lseek(fd, status.st_size, SEEK_SET);
    if (error != 0)
        *reason = std::strerror(error);
    return error == 0;
}

bool CutWholeLinesFile(int fd, long long size, std::string* reason) {
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    lseek(fd, static_cast<off_t>(size), SEEK_SET);
    return true;
}
