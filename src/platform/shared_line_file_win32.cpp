#include "platform/shared_line_file.h"

#include "platform/system_win32.h"

namespace {

HANDLE HandleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Locks the whole file, as far as it will ever grow, for the life of the
// object.
class FileLock {
public:
    explicit FileLock(HANDLE file) : m_hFile(file) {
        m_bLocked = LockFileEx(m_hFile, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &m_overlapped) != 0;
    }
    ~FileLock() {
        if (m_bLocked)
            UnlockFileEx(m_hFile, 0, MAXDWORD, MAXDWORD, &m_overlapped);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    HANDLE m_hFile;
    OVERLAPPED m_overlapped{};
    bool m_bLocked = false;
};

}  // namespace

SharedLineFile::~SharedLineFile() {
    if (m_handle != -1)
        CloseHandle(HandleOf(m_handle));
}

bool SharedLineFile::Open(const std::string& path, const std::string& header, std::string* reason) {
    // Write access (not only append) so that a cut line can be taken off
    // again; the lines themselves are written at the end (see AppendLocked).
    const HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *reason = SystemErrorText(GetLastError());
        return false;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    const DWORD type = GetFileType(file);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE && type != FILE_TYPE_CHAR) {
        *reason = "not a regular file";
        return false;
    }
    return AppendLocked(header, true, reason);
}

bool SharedLineFile::Append(const std::string& line, std::string* reason) { return AppendLocked(line, false, reason); }

bool SharedLineFile::AppendLocked(const std::string& text, bool header, std::string* reason) {
    const HANDLE file = HandleOf(m_handle);
    // Only a file on a disk has an end to go back to, and a lock.
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    if (header && !disk)
        return true;
    FileLock lock(file);
    LARGE_INTEGER size{};
    if (disk && !GetFileSizeEx(file, &size)) {
        *reason = SystemErrorText(GetLastError());
        return false;
    }
    if (header && size.QuadPart > 0)
        return true;
    // One write at the file's end, as a handle opened for appending makes it.
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = MAXDWORD;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, disk ? &atEnd : nullptr);
    const DWORD error = !wrote ? GetLastError() : written < text.size() ? ERROR_DISK_FULL : 0;
    if (error == 0) {
        // (A pipe's buffers are flushed by its reader: never waited for.)
        if (!disk || FlushFileBuffers(file))
            return true;
        *reason = SystemErrorText(GetLastError());
        return false;
    }
    *reason = SystemErrorText(error);
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile = size;
    if (disk && !SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end))
        *reason += " (and it could not be cut back to its last whole line: " + SystemErrorText(GetLastError()) + ")";
    return false;
}
