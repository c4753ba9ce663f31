// Opening the script and the data files on Windows: the UTF-8 path through
// the system's wide calls, so that every file name the system can show can
// be opened; binary mode, not inherited by child processes.
#include "upload/regular_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/system_win32.h"

RegularFileOpen OpenRegularFile(const std::string& path, int* fd, long long* size, int* error) {
    *fd = -1;
    *size = 0;
    *error = 0;
    const std::wstring widePath = Utf8ToWide(path);
    // Windows refuses to open a folder as a file (EACCES): ask first.
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return RegularFileOpen::Directory;
    const int descriptor = _wopen(widePath.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (descriptor < 0) {
        *error = errno;
        return *error == ENOENT ? RegularFileOpen::Missing : RegularFileOpen::Failed;
    }
    struct _stat64 info;
    if (_fstat64(descriptor, &info) != 0) {
        *error = errno;
        _close(descriptor);
        return RegularFileOpen::Failed;
    }
    // A device name (CON, NUL, COM1) opens as a character device.
    if ((info.st_mode & _S_IFMT) != _S_IFREG) {
        _close(descriptor);
        return RegularFileOpen::NotRegular;
    }
    *fd = descriptor;
    *size = static_cast<long long>(info.st_size);
    return RegularFileOpen::Opened;
}
