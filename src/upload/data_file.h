// DataFile: a data file named by the script, opened read-only and read in
// pieces (6 bytes, then 64 at a time), so that it is never held in memory as
// a whole.
//
// The file is sent as it was when it was opened: its length at that moment
// is the length read. Bytes added later are never delivered; a file that
// has become shorter is a fault (DataFileEndedEarly) rather than a quiet end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/frame_format.h"
#include "upload/upload_fault.h"

class DataFile {
public:
    // A data file needs at least the 6 bytes of a header frame.
    static constexpr std::uint64_t kMinLength = frame::kHeaderDataSize;
    // g_dwFileLength is a 32-bit word: longer files cannot be shown.
    static constexpr std::uint64_t kMaxLength = 0xFFFFFFFFu;

    DataFile() = default;
    ~DataFile() { Close(); }
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Opens the data file at namedPath (the path a file command names) and
    // takes its length. A name that differs from the file's only in letter
    // case finds it (FindFileIgnoringCase). Returns UploadFault::None when it
    // is open; otherwise the fault (DataFileMissing, DataFileIsFolder,
    // DataFileNameTooLong, DataFileNotRegular, DataFileUnopenable,
    // DataFileTooShort, DataFileTooLarge), Error() gives the errno behind it,
    // and the object stays closed. Path() is set either way.
    UploadFault Open(const std::string& namedPath);

    // The file's path as found on disk (as named when it was not found).
    const std::string& Path() const { return m_strPath; }
    // Length in bytes at the time of opening.
    std::uint64_t Length() const { return m_qwLength; }

    // Reads up to count bytes into buffer, never beyond Length(). Returns
    // the number delivered, fewer than count only at Length(), or -1 when a
    // read failed or the file ended before Length() (Fault() and Error()
    // then say why; the file stays open).
    long Read(void* buffer, std::size_t count);

    // Closes the file; Path(), Fault() and Error() stay as they were.
    void Close();

    UploadFault Fault() const { return m_fault; }
    int Error() const { return m_nError; }

private:
    UploadFault Fail(UploadFault fault, int error = 0);

    int m_fd = -1;
    std::uint64_t m_qwLength = 0;
    std::uint64_t m_qwPosition = 0;
    std::string m_strPath;
    UploadFault m_fault = UploadFault::None;
    int m_nError = 0;
};
