#include "platform/inherited_stream.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/system_win32.h"

std::FILE* OpenInheritedStream(unsigned long long number, std::string* reason) {
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    if (number == 0 || GetFileType(handle) == FILE_TYPE_UNKNOWN ||
        !SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0)) {
        *reason = "handle " + std::to_string(number) + " is not open";
        return nullptr;
    }
    // Binary: each line goes out as the events writer made it.
    const int fd = _open_osfhandle(static_cast<std::intptr_t>(number), _O_WRONLY | _O_BINARY);
    std::FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (stream == nullptr)
        *reason = std::strerror(errno);
    return stream;
}
