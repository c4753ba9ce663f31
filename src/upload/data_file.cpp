#include "upload/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

DataFile::OpenResult DataFile::Open(const std::string& path) {
    Close();
    m_strPath = path;
    m_strFailure.clear();
    // O_NONBLOCK: a FIFO must not hold the thread in open() before we can
    // see that it is not a regular file. It is cleared again below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return OpenResult::Missing;
        Fail("Unable to open the LZSS file", std::strerror(error));
        return OpenResult::Failed;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        int error = errno;
        ::close(fd);
        Fail("Unable to find the length of the LZSS file", std::strerror(error));
        return OpenResult::Failed;
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return OpenResult::Missing;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        Fail("Unable to read the LZSS file", "Not a regular file");
        return OpenResult::Failed;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_file = ::fdopen(fd, "rb");
    if (!m_file) {
        int error = errno;
        ::close(fd);
        Fail("Unable to open the LZSS file", std::strerror(error));
        return OpenResult::Failed;
    }
    m_qwLength = static_cast<std::uint64_t>(info.st_size);
    return OpenResult::Opened;
}

long DataFile::Read(void* buffer, std::size_t count) {
    if (!m_file) {
        Fail("Unable to read the LZSS file", "The file is not open");
        return -1;
    }
    std::size_t delivered = std::fread(buffer, 1, count, m_file);
    if (delivered < count && std::ferror(m_file)) {
        Fail("Unable to read the LZSS file", std::strerror(errno));
        return -1;
    }
    return static_cast<long>(delivered);
}

void DataFile::Close() {
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_qwLength = 0;
}

void DataFile::Fail(const char* what, const std::string& reason) {
    m_strFailure = std::string(what) + "\n\n" + m_strPath + "\n\n" + reason;
}
