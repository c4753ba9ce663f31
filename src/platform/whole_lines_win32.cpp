#include "platform/whole_lines.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/system_win32.h"

namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Only a file on a disk has an end to go back to, and a lock.
bool OnDisk(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

// Writes the whole of text, on a disk at the file's end (as a handle opened
// for appending would), elsewhere (a pipe, a console) as it comes. The
// system's error, or 0.
DWORD WriteAll(HANDLE file, bool disk, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        OVERLAPPED atEnd{};
        atEnd.Offset = atEnd.OffsetHigh = MAXDWORD;
        DWORD written = 0;
        if (!WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                       disk ? &atEnd : nullptr))
            return GetLastError();
        if (written == 0)
            return ERROR_DISK_FULL;
        done += written;
    }
    return 0;
}

// Sets the file's end to size, the next write going there. False with the
// system's error in GetLastError.
bool SetEnd(HANDLE file, long long size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end))
        return false;
    LARGE_INTEGER at{};
    at.QuadPart = size;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    return true;
}

}  // namespace

bool AppendWholeLine(int fd, const std::string& text, std::string* reason, bool sync) {
    const HANDLE file = HandleOf(fd);
    const bool disk = OnDisk(file);
    LARGE_INTEGER before{};
    const bool cuttable = disk && GetFileSizeEx(file, &before);
    DWORD error = WriteAll(file, disk, text);
    // (A pipe's buffers are flushed by its reader: never waited for.)
    if (error == 0 && (!sync || !disk || FlushFileBuffers(file)))
        return true;
    *reason = SystemErrorText(error != 0 ? error : GetLastError());
    if (cuttable && !SetEnd(file, before.QuadPart))
        *reason += " (and the file could not be cut back to its last whole line: " + SystemErrorText(GetLastError()) +
                   ")";
    return false;
}

WholeLinesLock::WholeLinesLock(int fd) : m_nFd(fd) {
    const HANDLE file = HandleOf(fd);
    // The whole file, as far as it will ever grow; waits while another
    // writer holds it.
    OVERLAPPED from{};
    m_bLocked = OnDisk(file) && LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from);
}

WholeLinesLock::~WholeLinesLock() {
    OVERLAPPED from{};
    if (m_bLocked)
        UnlockFileEx(HandleOf(m_nFd), 0, MAXDWORD, MAXDWORD, &from);
}

int OpenWholeLinesFile(const std::string& path, bool append, bool* created, std::string* reason) {
    const std::wstring name = Utf8ToWide(path);
    // Write access (not only append) so that a cut line can be taken off
    // again; shared, so that other stations can write the same record; not
    // inherited by the children (no security attributes).
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    *created = false;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        file = CreateFileW(name.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        *created = file != INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE) {
        *reason = SystemErrorText(GetLastError());
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY | (append ? _O_APPEND : 0));
    if (fd < 0) {
        *reason = std::strerror(errno);
        CloseHandle(file);
        if (*created)
            DeleteFileW(name.c_str());
        *created = false;
    }
    return fd;
}

bool TryWholeLines(int fd, std::size_t bytes, bool* regular, std::string* reason) {
    const HANDLE file = HandleOf(fd);
    *regular = OnDisk(file);
    DWORD error = 0;
    if (!*regular) {
        // A write of no bytes: what takes no writes says so.
        DWORD written = 0;
        if (!WriteFile(file, "", 0, &written, nullptr))
            error = GetLastError();
    } else {
        // A line's worth at the end, taken off again: under the lock that
        // every append to a shared record takes, so that no other line is cut.
        WholeLinesLock lock(fd);
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file, &size)) {
            error = GetLastError();
        } else {
            error = WriteAll(file, true, std::string(bytes, ' '));
            if (!SetEnd(file, size.QuadPart) && error == 0)
                error = GetLastError();
        }
    }
    if (error != 0)
        *reason = SystemErrorText(error);
    return error == 0;
}

bool CutWholeLinesFile(int fd, long long size, std::string* reason) {
    if (SetEnd(HandleOf(fd), size))
        return true;
    *reason = SystemErrorText(GetLastError());
    return false;
}
