#include "platform/shared_line_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Holds the file's lock (flock: shared by every process that opens the
// file) for the life of the object.
class FileLock {
public:
    explicit FileLock(int fd) : m_nFd(fd) {
        while (flock(m_nFd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() { flock(m_nFd, LOCK_UN); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_nFd;
};

}  // namespace

SharedLineFile::~SharedLineFile() {
    if (m_handle >= 0)
        close(static_cast<int>(m_handle));
}

bool SharedLineFile::Open(const std::string& path, const std::string& header, std::string* reason) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    m_handle = fd;
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode) && !S_ISCHR(status.st_mode)) {
        *reason = "not a regular file";
        return false;
    }
    return AppendLocked(header, true, reason);
}

bool SharedLineFile::Append(const std::string& line, std::string* reason) { return AppendLocked(line, false, reason); }

bool SharedLineFile::AppendLocked(const std::string& text, bool header, std::string* reason) {
    const int fd = static_cast<int>(m_handle);
    FileLock lock(fd);
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    // Only a regular file has an end to go back to.
    const bool regular = S_ISREG(status.st_mode);
    if (header && (!regular || status.st_size > 0))
        return true;
    ssize_t n;
    while ((n = write(fd, text.data(), text.size())) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(text.size())) {
        if (fsync(fd) == 0 || errno == EINVAL || errno == EROFS)
            return true;
        *reason = std::strerror(errno);
        return false;
    }
    // Nothing more is written after a short write: what went in is taken
    // off again.
    *reason = std::strerror(n < 0 ? errno : ENOSPC);
    if (regular && ftruncate(fd, status.st_size) != 0)
        *reason += std::string(" (and it could not be cut back to its last whole line: ") + std::strerror(errno) + ")";
    return false;
}
