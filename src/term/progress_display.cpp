#include "term/progress_display.h"

#include <algorithm>

namespace {
constexpr int kBarWidth = 40;
}

ProgressDisplay::ProgressDisplay(std::FILE* out, bool live) : m_pOut(out), m_bLive(live) {}

void ProgressDisplay::Message(const std::string& text) { Line(text); }

void ProgressDisplay::Line(const std::string& text) {
    std::lock_guard lock(m_mutex);
    EndLiveLineLocked();
    std::fprintf(m_pOut, "%s\n", text.c_str());
    std::fflush(m_pOut);
}

void ProgressDisplay::Command(const std::string& text) {
    std::lock_guard lock(m_mutex);
    // On a terminal the bar stays the last line: the command goes above it.
    if (m_bLiveLineOpen) {
        std::fputs("\r\033[K", m_pOut);
        m_bLiveLineOpen = false;
    }
    std::fprintf(m_pOut, "%s\n", text.c_str());
    if (m_bLive && !m_strPercent.empty())
        DrawLiveLocked();
    std::fflush(m_pOut);
}

void ProgressDisplay::Percent(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_strPercent = text;
    if (m_bLive) {
        DrawLiveLocked();
    } else if (text != m_strLastPrintedPercent) {
        // One line per change; the dialog's timer paces the changes to at
        // most one a second.
        std::fprintf(m_pOut, "%s\n", text.c_str());
        m_strLastPrintedPercent = text;
    }
    std::fflush(m_pOut);
}

void ProgressDisplay::Position(int position) {
    std::lock_guard lock(m_mutex);
    m_nPosition = std::clamp(position, 0, 100);
}

void ProgressDisplay::Finish() {
    std::lock_guard lock(m_mutex);
    EndLiveLineLocked();
    std::fflush(m_pOut);
}

std::string ProgressDisplay::BarText(int position, const std::string& percentText, int width) {
    position = std::clamp(position, 0, 100);
    const int filled = position * width / 100;
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), ' ');
    bar += "] ";
    bar += percentText;
    return bar;
}

void ProgressDisplay::EndLiveLineLocked() {
    if (!m_bLiveLineOpen)
        return;
    std::fputs("\n", m_pOut);
    m_bLiveLineOpen = false;
}

void ProgressDisplay::DrawLiveLocked() {
    // Carriage return and erase-line: redraw the bar where it stands.
    std::fprintf(m_pOut, "\r\033[K%s", BarText(m_nPosition, m_strPercent, kBarWidth).c_str());
    m_bLiveLineOpen = true;
}
