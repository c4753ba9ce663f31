// StationOutput: a file the station writes all day (the record, the
// events), opened and tried before any port starts, so that a target that
// cannot take a line (/dev/full, a full disk, a file size limit, a file or
// file system that is read-only, a directory, a FIFO nobody reads) is
// refused at once rather than losing every unit's line.
//
// The try writes for real, and leaves nothing behind:
// - a regular file: the bytes of a line (kProbeBytes) are written at its
//   end and cut off again, under the exclusive lock the record's appends
//   take too (platform/whole_lines.h), so that another station sharing the
//   file never has a line cut by it;
// - anything else (a device, a pipe, a terminal): a write of no bytes,
//   which Linux passes to the device's driver, so that /dev/full answers
//   "no space" and a file that takes no writes its error, while a pipe or a
//   terminal takes it as nothing;
// - a FIFO is opened without waiting for a reader: with none it is refused.
// Nothing more can be promised: a disk can fill up later, which is why
// every line is checked as it is written (platform/whole_lines.h).
#pragma once

#include <string>

class StationOutput {
public:
    StationOutput() = default;
    ~StationOutput();
    StationOutput(const StationOutput&) = delete;
    StationOutput& operator=(const StationOutput&) = delete;

    // Opens path for writing (appending when append is true; a file that
    // does not exist is created) and tries it. False with *reason when it
    // cannot be opened or does not take the try; a file made by this call is
    // removed again then.
    bool Open(const std::string& path, bool append, std::string* reason);
    // Takes fd (standard output), already open, and tries it; it is never
    // closed here.
    bool Adopt(int fd, std::string* reason);
    // Closes the file, removing it if Open created it: the station does not
    // start after all.
    void Discard();

    int Fd() const { return m_nFd; }
    bool IsRegular() const { return m_bRegular; }

    static constexpr long kProbeBytes = 512;

private:
    void Close();

    int m_nFd = -1;
    bool m_bOwned = false;
    bool m_bRegular = false;
    bool m_bCreated = false;
    std::string m_strPath;
};
