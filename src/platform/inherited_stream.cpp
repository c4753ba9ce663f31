#include "platform/inherited_stream.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstring>

std::FILE* OpenInheritedStream(unsigned long long number, std::string* reason) {
    const int fd = number <= INT_MAX ? static_cast<int>(number) : -1;
    const int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
        *reason = "descriptor " + std::to_string(number) + " is not open for writing";
        return nullptr;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::FILE* stream = fdopen(fd, "w");
    if (stream == nullptr)
        *reason = std::strerror(errno);
    return stream;
}
