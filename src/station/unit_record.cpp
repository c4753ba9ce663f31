#include "station/unit_record.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/whole_lines.h"
#include "station/station_display.h"

const char* const UnitRecord::kHeader = "time,port,usb_serial,script,files,bytes,result,message,seconds\r\n";

bool UnitRecord::Open(const std::string& path, std::string* reason) {
    if (!m_file.Open(path, true, reason))
        return false;
    if (!m_file.IsRegular())
        return true;
    // Another station may be opening the same file: one header only.
    bool ok;
    {
        WholeLinesLock lock(m_file.Fd());
        struct stat status {};
        const bool empty = fstat(m_file.Fd(), &status) == 0 && status.st_size == 0;
        ok = !empty || AppendWholeLine(m_file.Fd(), kHeader, reason, true);
    }
    if (!ok)
        m_file.Discard();
    return ok;
}

bool UnitRecord::Append(const UnitRecordLine& line, std::string* reason) {
    WholeLinesLock lock(m_file.Fd());
    return AppendWholeLine(m_file.Fd(), Format(line), reason, true);
}

namespace {

// Windows paths are full of backslashes: there one is doubled only where it
// would read as an escape, so that the record's paths stay as they are.
#ifdef _WIN32
constexpr auto kBackslashes = StationDisplay::Backslashes::DoubledWhereAmbiguous;
#else
constexpr auto kBackslashes = StationDisplay::Backslashes::Doubled;
#endif

}  // namespace

std::string UnitRecord::Field(const std::string& text) {
    const std::string escaped = StationDisplay::Escaped(text, kBackslashes);
    if (escaped.find_first_of(",\"\r\n") == std::string::npos)
        return escaped;
    std::string quoted = "\"";
    for (char c : escaped) {
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
