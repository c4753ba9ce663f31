#include "station/station_display.h"

#include <algorithm>

#include "events/event_names.h"

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
        m_nPortWidth = std::max(m_nPortWidth, port.Port().size());
}

std::string StationDisplay::PortLine(const StationPort& port) const {
    return TrimRight(Pad(port.Port(), m_nPortWidth + 2) + Pad(port.PhaseText(), 28) +
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
    std::string text = Pad(port.Port(), m_nPortWidth + 2);
    if (counted)
        text += "unit " + std::to_string(port.Units()) + " " + (outcome.m_bSuccess ? "ok" : outcome.m_strResult) +
                ": ";
    else
        text += "no unit: ";
    text += OneLine(outcome.m_strMessage);
    std::fprintf(m_pOut, "%s\n", text.c_str());
    std::fflush(m_pOut);
}

void StationDisplay::Note(const std::string& text) {
    if (m_bLive && m_bDrawn) {
        // Above the port lines, which are drawn again below it.
        std::fprintf(m_pOut, "\033[%zuA\r\033[J%s\n", m_ports.size(), text.c_str());
        m_bDrawn = false;
        Redraw();
        return;
    }
    std::fprintf(m_pOut, "%s\n", text.c_str());
    std::fflush(m_pOut);
}

void StationDisplay::Summary() {
    if (m_bLive)
        Redraw();
    std::fprintf(m_pOut, "\n%s", SummaryText(m_ports).c_str());
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

std::string StationDisplay::SummaryText(const std::vector<StationPort>& ports) {
    std::size_t failed = 0;
    std::vector<std::vector<std::string>> rows{{"PORT", "UNITS OK", "FAILED", "RESULT", "MESSAGE"}};
    for (const StationPort& port : ports) {
        const bool ok = port.UnitsFailed() == 0 && port.UnitsOk() > 0;
        failed += ok ? 0 : 1;
        const UnitOutcome& shown = port.UnitsFailed() > 0 ? port.FirstFailure() : port.Last();
        const std::string result = ok ? "ok" : port.Units() == 0 ? "no unit" : shown.m_strResult == event::result::kCancelled
                                                                               ? "cancelled"
                                                                               : "FAILED";
        rows.push_back({port.Port(), std::to_string(port.UnitsOk()), std::to_string(port.UnitsFailed()), result,
                        OneLine(shown.m_strMessage)});
    }
    const std::string head = "Summary: " + std::to_string(ports.size()) + " port" + (ports.size() == 1 ? "" : "s") +
                             ", " + std::to_string(ports.size() - failed) + " succeeded, " + std::to_string(failed) +
                             " failed\n";
    return head + Table(rows);
}
