#include "platform/file_identity.h"

#include <sys/stat.h>

#include <filesystem>

#include "platform/utf8_path.h"

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
    struct stat status {};
    // No inode (a file system that gives none): no identity, and names are
    // compared instead.
    if (path.empty() || ::stat(path.c_str(), &status) != 0 || status.st_ino == 0)
        return std::nullopt;
    return FileIdentity{static_cast<unsigned long long>(status.st_dev), static_cast<unsigned long long>(status.st_ino)};
}

std::string NormalFilePath(const std::string& path) {
    const std::string absolute = AbsoluteUtf8Path(path);
    std::error_code error;
    const std::filesystem::path normal = std::filesystem::weakly_canonical(PathFromUtf8(absolute), error);
    return error ? absolute : Utf8FromPath(normal.lexically_normal());
}

bool SameFile(const std::string& a, const std::string& b) {
    const std::optional<FileIdentity> first = IdentifyFile(a);
    const std::optional<FileIdentity> second = IdentifyFile(b);
    if (first && second)
        return *first == *second;
    return !first && !second && NormalFilePath(a) == NormalFilePath(b);
}
