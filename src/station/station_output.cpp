#include "station/station_output.h"

#include <unistd.h>

#include <filesystem>

#include "platform/utf8_path.h"
#include "platform/whole_lines.h"

StationOutput::~StationOutput() { Close(); }

bool StationOutput::Open(const std::string& path, bool append, std::string* reason) {
    Close();
    m_strPath = path;
    m_nFd = OpenWholeLinesFile(path, append, &m_bCreated, reason);
    if (m_nFd < 0)
        return false;
    m_bOwned = true;
    if (!TryWholeLines(m_nFd, kProbeBytes, &m_bRegular, reason)) {
        Discard();
        return false;
    }
    return true;
}

bool StationOutput::Adopt(int fd, std::string* reason) {
    Close();
    m_nFd = fd;
    return TryWholeLines(m_nFd, kProbeBytes, &m_bRegular, reason);
}

void StationOutput::Discard() {
    const bool remove = m_bCreated;
    Close();
    std::error_code ignored;
    if (remove)
        std::filesystem::remove(PathFromUtf8(m_strPath), ignored);
}

void StationOutput::Close() {
    if (m_bOwned && m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
    m_bOwned = m_bRegular = m_bCreated = false;
}
