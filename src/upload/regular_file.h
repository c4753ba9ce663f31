// Opening the script and the data files: regular files only, and never a
// wait in open() (a FIFO with no writer would hold the caller for good).
#pragma once

#include <string>

enum class RegularFileOpen {
    Opened,
    Missing,     // no such file (ENOENT, ENOTDIR)
    Directory,
    NotRegular,  // a device, FIFO, socket ...
    Failed,      // any other reason; *error says which
};

// Opens path read-only, close-on-exec, and makes sure that what it opened is
// a regular file (fstat on the descriptor itself, so a file swapped in
// between cannot slip through). On Opened, *fd is a blocking descriptor the
// caller owns and *size the file's length at this moment. On anything else
// nothing stays open and *error holds the errno (0 for Directory and
// NotRegular).
RegularFileOpen OpenRegularFile(const std::string& path, int* fd, long long* size, int* error);
