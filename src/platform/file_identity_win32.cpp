// File identity from the file system itself: the C library's stat() gives
// every file the inode 0, so only names could be compared, and those differ
// in letter case, short names and prefixes for one and the same file.
#include "platform/file_identity.h"

#include <cctype>
#include <cstring>

#include "platform/system_win32.h"
#include "platform/utf8_path.h"

namespace {

// FILE_ID_INFO and its class number, declared by the headers only for
// Windows 8 and later; older systems refuse the class and the 64-bit file
// index is taken instead.
struct FileIdInformation {
    ULONGLONG VolumeSerialNumber;
    BYTE FileId[16];
};
constexpr auto kFileIdInfoClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsDriveRoot(const std::string& text, std::size_t at) {
    return text.size() >= at + 2 && std::isalpha(static_cast<unsigned char>(text[at])) && text[at + 1] == ':';
}

// A full path in the form of a drive's or a share's path (Z:\..., \\server\...)
// with the long-path and device prefixes of such a path taken off; "" for a
// device (\\.\COM7, \\.\pipe\..., \\?\GLOBALROOT\...).
std::string PlainPath(const std::string& full) {
    if (StartsWith(full, "\\\\?\\UNC\\"))
        return "\\\\" + full.substr(8);
    if (StartsWith(full, "\\\\?\\") || StartsWith(full, "\\\\.\\"))
        return IsDriveRoot(full, 4) ? full.substr(4) : std::string();
    return full;
}

}  // namespace

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
    const std::string full = path.empty() ? path : AbsoluteUtf8Path(path);
    if (PlainPath(full).empty())
        return std::nullopt;
    // No access asked for: only the file's attributes are read. Folders open
    // with backup semantics.
    const HANDLE file = CreateFileW(Utf8ToWide(full).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<FileIdentity> identity;
    FileIdInformation id{};
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandleEx(file, kFileIdInfoClass, &id, sizeof id)) {
        FileIdentity found;
        found.m_nDevice = id.VolumeSerialNumber;
        std::memcpy(&found.m_nInode, id.FileId, 8);
        std::memcpy(&found.m_nInodeHigh, id.FileId + 8, 8);
        identity = found;
    } else if (GetFileInformationByHandle(file, &information)) {
        FileIdentity found;
        found.m_nDevice = information.dwVolumeSerialNumber;
        found.m_nInode = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
        identity = found;
    }
    CloseHandle(file);
    return identity;
}

std::string NormalFilePath(const std::string& path) {
    const std::string full = AbsoluteUtf8Path(path);
    const std::string plain = PlainPath(full);
    return plain.empty() ? full : plain;
}

bool SameFile(const std::string& a, const std::string& b) {
    const std::optional<FileIdentity> first = IdentifyFile(a);
    const std::optional<FileIdentity> second = IdentifyFile(b);
    if (first && second)
        return *first == *second;
    if (first || second)
        return false;
    const std::wstring one = Utf8ToWide(NormalFilePath(a));
    const std::wstring two = Utf8ToWide(NormalFilePath(b));
    return CompareStringOrdinal(one.c_str(), static_cast<int>(one.size()), two.c_str(), static_cast<int>(two.size()),
                                TRUE) == CSTR_EQUAL;
}
