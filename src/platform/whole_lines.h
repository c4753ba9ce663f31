// Output files that hold whole lines only (the events, the record): a line
// goes out in one write, and one the system takes only in part (a full
// disk, a file size limit) is cut off again, so that a reader never meets a
// torn line and the next line starts on a line of its own.
//
// The system side of such files lives here, one file per system: POSIX
// (open, flock, ftruncate, fsync) and Windows (CreateFileW, LockFileEx, a
// write at the file's end, the end of file set back, FlushFileBuffers).
// Descriptors are the C library's on both.
#pragma once

#include <cstddef>
#include <string>

// Appends text (one or more whole lines) to fd, going on after
// interruptions and short writes; with sync, also forces it to the disk
// (where fd is a file that can be synced). True when all of it went out.
// False with *reason when the system refused some of it: then, on a regular
// file written at its end, the file is cut back to the size it had before,
// and the next write goes there; elsewhere (a pipe, a terminal, a device)
// what went out cannot be taken back.
bool AppendWholeLine(int fd, const std::string& text, std::string* reason, bool sync = false);

// Holds, for its life, the exclusive lock that every writer of a shared
// output file takes around a line (other processes, other stations, wait
// for it). Nothing is locked where fd is no regular file.
class WholeLinesLock {
public:
    explicit WholeLinesLock(int fd);
    ~WholeLinesLock();
    WholeLinesLock(const WholeLinesLock&) = delete;
    WholeLinesLock& operator=(const WholeLinesLock&) = delete;

private:
    int m_nFd;
    bool m_bLocked = false;
};

// Opens path for writing (appending when append is true), creating it
// (*created true then) when it does not exist; not handed to child
// processes. A FIFO is opened without waiting for a reader: with none it is
// refused. The descriptor, or -1 with *reason.
int OpenWholeLinesFile(const std::string& path, bool append, bool* created, std::string* reason);

// Tries whether fd takes a line, writing for real and leaving nothing
// behind: on a regular file, bytes at its end, cut off again under the
// lock; on anything else a write of no bytes, which the device's driver
// answers (a full device "no space", a pipe or a terminal takes it as
// nothing). *regular tells which it was. False with *reason when refused.
bool TryWholeLines(int fd, std::size_t bytes, bool* regular, std::string* reason);

// Cuts the regular file behind fd back to size bytes, the next write going
// to its end. False with *reason when the system refused.
bool CutWholeLinesFile(int fd, long long size, std::string* reason);
