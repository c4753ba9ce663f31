#include "station/station_display.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "events/event_names.h"
#include "platform/utf8_bytes.h"

namespace {

std::string Pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string TrimRight(std::string text) {
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// A table's rows with each column as wide as its widest cell.
std::string Table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths.resize(std::max(widths.size(), row.size()));
            widths[i] = std::max(widths[i], row[i].size());
        }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += Pad(row[i], widths[i] + 2);
        text += TrimRight(line) + "\n";
    }
    return text;
}

}  // namespace

StationDisplay::StationDisplay(std::FILE* out, bool live, const std::vector<StationPort>& ports)
    : m_pOut(out), m_bLive(live), m_ports(ports) {
    for (const StationPort& port : ports)
        m_nPortWidth = std::max(m_nPortWidth, Escaped(port.Port()).size());
}

std::string StationDisplay::PortLine(const StationPort& port) const {
    return TrimRight(Pad(Escaped(port.Port()), m_nPortWidth + 2) + Pad(Escaped(port.PhaseText()), 28) +
                     PadLeft(port.PercentText(), 5) + PadLeft(port.RateText(), 12) +
                     PadLeft(port.TimeLeftText(), 8) + "  " + port.ResultText());
}

void StationDisplay::Redraw() {
    if (!m_bHeaderShown) {
        std::fprintf(m_pOut, "%s\n", TrimRight(Pad("PORT", m_nPortWidth + 2) + Pad("PHASE", 28) + PadLeft("%", 5) +
                                               PadLeft("RATE", 12) + PadLeft("LEFT", 8) + "  RESULT")
                                         .c_str());
        m_bHeaderShown = true;
    }
    if (m_bDrawn)
        std::fprintf(m_pOut, "\033[%zuA", m_ports.size());
    for (const StationPort& port : m_ports)
        std::fprintf(m_pOut, "\r\033[2K%s\n", PortLine(port).c_str());
    m_bDrawn = true;
    std::fflush(m_pOut);
}

void StationDisplay::Update(std::size_t index, bool worthPlainLine) {
    if (m_bLive) {
        Redraw();
    } else if (worthPlainLine) {
        std::fprintf(m_pOut, "%s\n", PortLine(m_ports[index]).c_str());
        std::fflush(m_pOut);
    }
}

void StationDisplay::UnitEnded(std::size_t index, const UnitOutcome& outcome, bool counted) {
    if (m_bLive) {
        Redraw();
        return;
    }
    const StationPort& port = m_ports[index];
    std::string text = Pad(Escaped(port.Port()), m_nPortWidth + 2);
    if (counted)
        text += "unit " + std::to_string(port.Units()) + " " + (outcome.m_bSuccess ? "ok" : outcome.m_strResult) +
                ": ";
    else
        text += "no unit: ";
    text += Escaped(OneLine(outcome.m_strMessage));
    std::fprintf(m_pOut, "%s\n", text.c_str());
    std::fflush(m_pOut);
}

void StationDisplay::Note(const std::string& text) {
    const std::string shown = Escaped(text);
    if (m_bLive && m_bDrawn) {
        // Above the port lines, which are drawn again below it.
        std::fprintf(m_pOut, "\033[%zuA\r\033[J%s\n", m_ports.size(), shown.c_str());
        m_bDrawn = false;
        Redraw();
        return;
    }
    std::fprintf(m_pOut, "%s\n", shown.c_str());
    std::fflush(m_pOut);
}

void StationDisplay::Summary(const StationLosses& losses) {
    if (m_bLive)
        Redraw();
    std::fprintf(m_pOut, "\n%s", SummaryText(m_ports, losses).c_str());
    std::fflush(m_pOut);
}

std::string StationDisplay::OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else {
            line += c;
        }
    }
    return TrimRight(line);
}

namespace {

// The length of the character at text[at] when it is shown as it is; 0 when
// its bytes are shown as \xHH (a control byte, a C1 control, a byte that is
// not part of valid UTF-8).
std::size_t ShownAsItIs(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const std::size_t length = Utf8SequenceAt(text, at);
    const bool c1 = length == 2 && byte(at) == 0xC2 && byte(at + 1) < 0xA0;  // U+0080 to U+009F
    return length == 0 || (length == 1 && (byte(at) < 0x20 || byte(at) == 0x7F)) || c1 ? 0 : length;
}

// Whether a backslash before text[at] would read as the start of an escape.
bool EscapeFollows(const std::string& text, std::size_t at) {
    const auto hex = [&](std::size_t i) { return i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); };
    return at < text.size() &&
           (text[at] == '\\' || ShownAsItIs(text, at) == 0 || (text[at] == 'x' && hex(at + 1) && hex(at + 2)));
}

}  // namespace

std::string StationDisplay::Escaped(const std::string& text, Backslashes backslashes) {
    std::string shown;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = ShownAsItIs(text, at);
        if (length == 0) {
            const std::size_t end = at + std::max<std::size_t>(Utf8SequenceAt(text, at), 1);
            for (; at < end; ++at) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[at]));
                shown += hex;
            }
            continue;
        }
        if (text[at] == '\\' && (backslashes == Backslashes::Doubled ||
                                  (backslashes == Backslashes::DoubledWhereAmbiguous && EscapeFollows(text, at + 1))))
            shown += '\\';
        shown.append(text, at, length);
        at += length;
    }
    return shown;
}

namespace {

std::string Counted(std::size_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

}  // namespace

std::string StationDisplay::SummaryText(const std::vector<StationPort>& ports, const StationLosses& losses) {
    int ok = 0, failed = 0;
    std::size_t idle = 0;
    std::vector<std::vector<std::string>> rows{{"PORT", "UNITS OK", "FAILED", "RESULT", "MESSAGE"}};
    for (const StationPort& port : ports) {
        ok += port.UnitsOk();
        failed += port.UnitsFailed();
        idle += port.Units() == 0 ? 1 : 0;
        const UnitOutcome& shown = port.UnitsFailed() > 0 ? port.FirstFailure() : port.Last();
        const std::string result = port.UnitsFailed() == 0 && port.UnitsOk() > 0 ? "ok"
                                   : port.Units() == 0                             ? "no unit"
                                   : shown.m_strResult == event::result::kCancelled ? "cancelled"
                                                                                    : "FAILED";
        rows.push_back({Escaped(port.Port()), std::to_string(port.UnitsOk()), std::to_string(port.UnitsFailed()),
                        result, Escaped(OneLine(shown.m_strMessage))});
    }
    std::string text = "Summary: " + Counted(ports.size(), "port") + ", " +
                       Counted(static_cast<std::size_t>(ok + failed), "unit") + ": " + std::to_string(ok) +
                       " succeeded, " + std::to_string(failed) + " failed";
    if (idle > 0)
        text += "; " + Counted(idle, "port") + " loaded no unit";
    text += "\n" + Table(rows);
    if (!losses.m_lines.empty()) {
        text += "\nThe record " + Escaped(losses.m_strRecord) + " has no line for " +
                Counted(losses.m_lines.size(), "unit") + ":\n";
        std::vector<std::vector<std::string>> lost{{"PORT", "UNIT", "RESULT", "WHY"}};
        for (const StationLosses::Line& line : losses.m_lines)
            lost.push_back({Escaped(line.m_strPort), std::to_string(line.m_nUnit), line.m_strResult,
                            Escaped(line.m_strReason)});
        text += Table(lost);
    }
    if (!losses.m_strEventsError.empty())
        text += "\nEvents: only the first " + Counted(losses.m_nEventLines, "line") + " reached " +
                Escaped(losses.m_strEvents) + "; the next could not be written: " +
                Escaped(losses.m_strEventsError) + "\n";
    return text;
}
