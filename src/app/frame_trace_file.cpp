#include "app/frame_trace_file.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/frame_trace.h"

FrameTraceFile::~FrameTraceFile() { Close(); }

bool FrameTraceFile::Open(const std::string& path, std::string* reason) {
    Close();
    m_pFile = std::fopen(path.c_str(), "w");
    if (m_pFile == nullptr) {
        if (reason)
            *reason = std::strerror(errno);
        return false;
    }
    std::FILE* file = m_pFile;
    SetFrameTraceSink([file](bool outgoing, const BYTE* bytes, std::size_t size) {
        const std::string line = FormatLine(std::chrono::system_clock::now(), outgoing, bytes, size);
        std::fprintf(file, "%s\n", line.c_str());
        std::fflush(file);
    });
    return true;
}

void FrameTraceFile::Close() {
    if (m_pFile == nullptr)
        return;
    SetFrameTraceSink({});
    std::fclose(m_pFile);
    m_pFile = nullptr;
}

std::string FrameTraceFile::FormatLine(std::chrono::system_clock::time_point when, bool outgoing,
                                       const BYTE* bytes, std::size_t size) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

    std::string line = stamp;
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, ".%03d", static_cast<int>(millis));
    line += buffer;
    line += outgoing ? "  out " : "  in  ";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(buffer, sizeof buffer, " %02X", bytes[i]);
        line += buffer;
        text += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '.';
    }
    line += "  |" + text + "|";
    return line;
}
