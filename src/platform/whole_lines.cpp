#include "platform/whole_lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <io.h>
#endif

#include <cerrno>
#include <cstring>

namespace {

// Where a write to fd lands, when that is the end of a regular file (the
// only place a failed line can be cut back from); -1 otherwise.
off_t EndOfRegularFile(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
#ifndef _WIN32
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_APPEND) != 0)
        return status.st_size;
#endif
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
bool Synced(int fd) {
#ifdef _WIN32
    return _commit(fd) == 0 || errno == EBADF;
#else
    return fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
#endif
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
