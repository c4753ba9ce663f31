#include "station/unit_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "station/station_display.h"

const char* const UnitRecord::kHeader = "time,port,usb_serial,script,files,bytes,result,message,seconds\r\n";

UnitRecord::~UnitRecord() {
    if (m_nFd >= 0)
        close(m_nFd);
}

bool UnitRecord::Open(const std::string& path, std::string* reason) {
    m_nFd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_nFd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    // Another station may be opening the same file: one header only.
    flock(m_nFd, LOCK_EX);
    struct stat status {};
    bool ok = fstat(m_nFd, &status) == 0;
    if (!ok)
        *reason = std::strerror(errno);
    else if (!S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode) && !S_ISCHR(status.st_mode))
        ok = false, *reason = "not a regular file";
    else if (S_ISREG(status.st_mode) && status.st_size == 0)
        ok = WriteAll(kHeader, reason);
    flock(m_nFd, LOCK_UN);
    return ok;
}

bool UnitRecord::Append(const UnitRecordLine& line, std::string* reason) {
    return WriteAll(Format(line), reason);
}

bool UnitRecord::WriteAll(const std::string& text, std::string* reason) {
    // One write for the whole line; a short one (a full disk) is finished
    // so that the file at least stays parseable where it can.
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(m_nFd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *reason = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (fsync(m_nFd) != 0 && errno != EINVAL && errno != EROFS) {
        *reason = std::strerror(errno);
        return false;
    }
    return true;
}

std::string UnitRecord::Field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string UnitRecord::UtcTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string UnitRecord::Format(const UnitRecordLine& line) {
    const UnitOutcome& outcome = line.m_outcome;
    std::string files;
    for (const StationEventFile& file : outcome.m_files)
        files += (files.empty() ? "" : ";") + file.m_strPath + "=" + file.m_strSha256;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", outcome.m_dSeconds);
    const std::vector<std::string> fields = {UtcTime(line.m_time),
                                             line.m_strPort,
                                             line.m_strUsbSerial,
                                             outcome.m_strScript,
                                             files,
                                             std::to_string(outcome.m_nBytes),
                                             outcome.m_strResult,
                                             StationDisplay::OneLine(outcome.m_strMessage),
                                             seconds};
    std::string text;
    for (const std::string& field : fields)
        text += (text.empty() ? "" : ",") + Field(field);
    return text + "\r\n";
}
