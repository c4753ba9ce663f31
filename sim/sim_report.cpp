#include "sim/sim_report.h"

#include <cstdio>
#include <sstream>

std::string SimReport::Summary() const {
    std::ostringstream out;
    out << "Frames sent: " << framesSent << ", frames received: " << framesReceived << "\n";
    out << "Handshake: " << (handshakeDone ? "done" : "not done");
    if (handshakes > 1)
        out << " (" << handshakes << " times)";
    out << "\n";
    if (errorsSent > 0)
        out << "\"ERROR\" frames sent: " << errorsSent << "\n";
    if (hungUp)
        out << "Line hung up\n";
    out << "Commands (" << commands.size() << "):";
    for (const std::string& command : commands)
        out << " " << command;
    out << "\n";
    out << "Data files (" << files.size() << "):\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const SimFile& file = files[i];
        out << "  " << (i + 1) << ": " << file.size << " bytes, SHA-256 " << file.sha256
            << (file.complete ? ", complete" : ", INCOMPLETE: " + file.problem);
        if (file.chunks > 0 && file.seconds > 0) {
            char rate[96];
            std::snprintf(rate, sizeof rate, ", %u chunks in %.3f s (%.1f chunks/s)", file.chunks, file.seconds,
                          file.chunks / file.seconds);
            out << rate;
        }
        out << "\n";
    }
    out << "Errors (" << errors.size() << "):\n";
    for (const std::string& error : errors)
        out << "  " << error << "\n";
    return out.str();
}
