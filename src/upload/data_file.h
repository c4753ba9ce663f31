// DataFile: a data file named by the script, opened read-only and read in
// pieces (6 bytes, then 64 at a time), so that it is never held in memory as
// a whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class DataFile {
public:
    enum class OpenResult {
        Opened,
        Missing,  // no such file, or the path names a directory
        Failed,   // exists but cannot be read; FailureText() says why
    };

    DataFile() = default;
    ~DataFile() { Close(); }
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Opens path for reading and takes its length. Only regular files are
    // opened (a device or pipe has no length to show progress against and
    // might never end). On anything but Opened the object stays closed.
    OpenResult Open(const std::string& path);

    // Length in bytes at the time of opening.
    std::uint64_t Length() const { return m_qwLength; }

    // Reads up to count bytes into buffer. Returns the number delivered,
    // fewer than count only at the end of the file, or -1 when a read
    // failed (FailureText() then says why; the file stays open).
    long Read(void* buffer, std::size_t count);

    void Close();

    // The operator's text for the last failure.
    const std::string& FailureText() const { return m_strFailure; }

private:
    void Fail(const char* what, const std::string& reason);

    std::FILE* m_file = nullptr;
    std::uint64_t m_qwLength = 0;
    std::string m_strPath;
    std::string m_strFailure;
};
