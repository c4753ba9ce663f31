#include "upload/data_file.h"

#include <unistd.h>

#include <cerrno>
#include <climits>

#include "upload/case_insensitive_path.h"
#include "upload/regular_file.h"

namespace {

// The longest path the system opens: on Windows that of a long-path name
// (\\?\Z:\...), in UTF-16 units, which a UTF-8 path has at least as many
// bytes as; the C library's PATH_MAX there is the 260 of a plain path.
#ifdef _WIN32
constexpr std::size_t kLongestPath = 32767;
#else
constexpr std::size_t kLongestPath = PATH_MAX;
#endif

}  // namespace

UploadFault DataFile::Open(const std::string& namedPath) {
    Close();
    m_fault = UploadFault::None;
    m_nError = 0;
    m_strPath = namedPath;
    if (namedPath.size() >= kLongestPath)
        return Fail(UploadFault::DataFileNameTooLong, ENAMETOOLONG);
    if (namedPath.find('\0') != std::string::npos)
        return Fail(UploadFault::DataFileMissing);  // no file name can hold a NUL byte
    m_strPath = FindFileIgnoringCase(namedPath);

    int fd = -1;
    long long size = 0;
    int error = 0;
    switch (OpenRegularFile(m_strPath, &fd, &size, &error)) {
    case RegularFileOpen::Opened:
        break;
    case RegularFileOpen::Missing:
        return Fail(UploadFault::DataFileMissing);
    case RegularFileOpen::Directory:
        return Fail(UploadFault::DataFileIsFolder);
    case RegularFileOpen::NotRegular:
        return Fail(UploadFault::DataFileNotRegular);
    case RegularFileOpen::Failed:
        return Fail(error == ENAMETOOLONG ? UploadFault::DataFileNameTooLong : UploadFault::DataFileUnopenable,
                    error);
    }
    const auto length = static_cast<std::uint64_t>(size);
    if (length < kMinLength || length > kMaxLength) {
        ::close(fd);
        return Fail(length < kMinLength ? UploadFault::DataFileTooShort : UploadFault::DataFileTooLarge);
    }
    m_fd = fd;
    m_qwLength = length;
    m_qwPosition = 0;
    return UploadFault::None;
}

long DataFile::Read(void* buffer, std::size_t count) {
    if (m_fd < 0) {
        Fail(UploadFault::DataFileUnreadable, EBADF);
        return -1;
    }
    const std::uint64_t remaining = m_qwLength - m_qwPosition;
    const std::size_t wanted = remaining < count ? static_cast<std::size_t>(remaining) : count;
    std::size_t delivered = 0;
    while (delivered < wanted) {
        const ssize_t got = ::read(m_fd, static_cast<char*>(buffer) + delivered, wanted - delivered);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            Fail(UploadFault::DataFileUnreadable, errno);
            return -1;
        }
        if (got == 0) {
            // Cut short by someone else since it was opened.
            Fail(UploadFault::DataFileEndedEarly);
            return -1;
        }
        delivered += static_cast<std::size_t>(got);
    }
    m_qwPosition += delivered;
    return static_cast<long>(delivered);
}

void DataFile::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_qwLength = 0;
    m_qwPosition = 0;
}

UploadFault DataFile::Fail(UploadFault fault, int error) {
    m_fault = fault;
    m_nError = error;
    return fault;
}
