// Whether two names reach the same file, so that the program never writes
// into a file it reads or uses (its outputs against its inputs).
#pragma once

#include <optional>
#include <string>

// What tells one existing file from every other: device and inode on POSIX
// systems, whatever name (link, relative path) reaches it.
struct FileIdentity {
    unsigned long long m_nDevice = 0;
    unsigned long long m_nInode = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file path names (links followed); nullopt when it
// does not exist or cannot be looked at, or the system gives no inode.
// On Windows the C library's stat() fills in no inode, so files are told
// apart by their names there: this function is the one place where identity
// is taken, to be done there with the file's own index.
std::optional<FileIdentity> IdentifyFile(const std::string& path);

// The absolute, normal form of path with the links in the part that exists
// resolved, for names of files that do not exist (yet).
std::string NormalFilePath(const std::string& path);

// True when a and b name the same file: by identity when both exist,
// otherwise by their normal paths (a file that does not exist yet is the
// same as another only by name).
bool SameFile(const std::string& a, const std::string& b);
