#include "upload/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

RegularFileOpen OpenRegularFile(const std::string& path, int* fd, long long* size, int* error) {
    *fd = -1;
    *size = 0;
    *error = 0;
    // O_NONBLOCK: open() of a FIFO returns at once instead of waiting for a
    // writer; the descriptor is refused below and the flag cleared otherwise.
    int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        *error = errno;
        return *error == ENOENT || *error == ENOTDIR ? RegularFileOpen::Missing : RegularFileOpen::Failed;
    }
    struct stat info;
    if (::fstat(descriptor, &info) != 0) {
        *error = errno;
        ::close(descriptor);
        return RegularFileOpen::Failed;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return S_ISDIR(info.st_mode) ? RegularFileOpen::Directory : RegularFileOpen::NotRegular;
    }
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0 || ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *error = errno;
        ::close(descriptor);
        return RegularFileOpen::Failed;
    }
    *fd = descriptor;
    *size = static_cast<long long>(info.st_size);
    return RegularFileOpen::Opened;
}
