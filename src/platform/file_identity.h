// Whether two names reach the same file, so that the program never writes
// into a file it reads or uses (its outputs against its inputs).
#pragma once

#include <optional>
#include <string>

// What tells one existing file from every other, whatever name (link,
// relative path, letter case, short name) reaches it: device and inode on
// POSIX systems; on Windows the volume's serial number and the file's id
// (128 bits where the file system gives them, the 64-bit file index
// otherwise).
struct FileIdentity {
    unsigned long long m_nDevice = 0;
    unsigned long long m_nInode = 0;
    unsigned long long m_nInodeHigh = 0;  // the upper half of a 128-bit id

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file path names (links followed); nullopt when it
// does not exist or cannot be looked at, or the system gives no inode. On
// Windows a device (\\.\COM7, and COM7 or COM7: that reach it) is never
// opened to be looked at: it has no identity.
std::optional<FileIdentity> IdentifyFile(const std::string& path);

// The absolute, normal form of path with the links in the part that exists
// resolved, for names of files that do not exist (yet). On Windows the
// system's full path (a device name as \\.\COM7), with the \\?\ and
// \\.\ prefixes of a drive's or a share's path taken off.
std::string NormalFilePath(const std::string& path);

// True when a and b name the same file: by identity when both exist,
// otherwise by their normal paths (a file that does not exist yet is the
// same as another only by name; on Windows letter case does not count).
bool SameFile(const std::string& a, const std::string& b);
