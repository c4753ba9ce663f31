// SharedLineFile: a file that many writers append whole lines to: the ports
// of a station, and other stations given the same file (the record).
//
// Every line goes in with one write at the file's end, under the file's
// lock, and is synced to the disk before Append returns. A line the file
// takes only in part (a full disk) is cut back off again, so that the file
// holds whole lines only and the next line never glues onto a cut one.
// (POSIX: flock, O_APPEND, fsync, ftruncate; Windows: LockFileEx, a write
// at the file's end, FlushFileBuffers, the end of file set back.)
#pragma once

#include <cstdint>
#include <string>

class SharedLineFile {
public:
    SharedLineFile() = default;
    ~SharedLineFile();
    SharedLineFile(const SharedLineFile&) = delete;
    SharedLineFile& operator=(const SharedLineFile&) = delete;

    // Opens path for appending, creating it, and, holding the file's lock,
    // appends header when the file is empty (so that stations opening it
    // at once write one header). Refuses a directory or other special file
    // (a pipe or a character device is written as it is). False with
    // *reason when the file cannot be opened or the header not written.
    bool Open(const std::string& path, const std::string& header, std::string* reason);
    // Appends line (its line end included) as above. False with *reason when
    // the line is not in the file; the file then ends with the line before.
    bool Append(const std::string& line, std::string* reason);

private:
    // Appends text holding the lock; header: only when the file is empty.
    bool AppendLocked(const std::string& text, bool header, std::string* reason);

    std::intptr_t m_handle = -1;  // the system's descriptor or handle
};
