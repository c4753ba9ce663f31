// DataFile on Windows: the path (UTF-8) opened through the system's wide
// calls, so that any file name the file dialog can show can be opened.
#include "platform/win32_api.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "upload/data_file.h"

DataFile::OpenResult DataFile::Open(const std::string& path) {
    Close();
    m_strPath = path;
    m_strFailure.clear();
    const std::wstring widePath = Utf8ToWide(path);
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return OpenResult::Missing;
    const HANDLE file = CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
            return OpenResult::Missing;
        Fail("Unable to open the LZSS file", SystemErrorText(error));
        return OpenResult::Failed;
    }
    // A device (CON, a COM port, a pipe) has no length and might never end.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        Fail("Unable to read the LZSS file", "Not a regular file");
        return OpenResult::Failed;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        Fail("Unable to find the length of the LZSS file", SystemErrorText(error));
        return OpenResult::Failed;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        Fail("Unable to open the LZSS file", std::strerror(errno));
        return OpenResult::Failed;
    }
    m_file = _fdopen(fd, "rb");
    if (!m_file) {
        const int error = errno;
        _close(fd);
        Fail("Unable to open the LZSS file", std::strerror(error));
        return OpenResult::Failed;
    }
    m_qwLength = static_cast<std::uint64_t>(size.QuadPart);
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
