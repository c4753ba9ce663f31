#include "station/wx/station_tile_window.h"

#include "station/wx/station_palette.h"

#include <algorithm>
#include <tuple>

#include <wx/control.h>
#include <wx/dcbuffer.h>
#include <wx/menu.h>
#include <wx/settings.h>

namespace {

constexpr int kPadding = 8;
constexpr int kBand = 6;  // the result colour's band at the left
constexpr int kBarHeight = 8;
constexpr int kMenuStop = wxID_HIGHEST + 1;

const wxColour kOkTint(237, 247, 238), kFailedTint(253, 236, 238);
const wxColour kNeutral(158, 158, 158), kCard(255, 255, 255);
const wxColour kBorder(208, 211, 216), kSelected(21, 101, 192);
const wxColour kText(33, 33, 33);
const wxColour kBar(25, 118, 210), kTrack(226, 230, 235);

bool SameAsShown(const StationTile& a, const StationTile& b) {
    return a.m_strName == b.m_strName && a.m_strPort == b.m_strPort && a.m_strUsbSerial == b.m_strUsbSerial &&
           a.PhaseText() == b.PhaseText() && a.m_nPercent == b.m_nPercent && a.RateText() == b.RateText() &&
           a.TimeLeftText() == b.TimeLeftText() && a.m_nUnitsOk == b.m_nUnitsOk &&
           a.m_nUnitsFailed == b.m_nUnitsFailed && a.m_colour == b.m_colour && a.m_strReason == b.m_strReason;
}

}  // namespace

StationTileWindow::StationTileWindow(wxWindow* parent, std::size_t index)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxSize(kWidth, kHeight), wxFULL_REPAINT_ON_RESIZE),
      m_nIndex(index),
      m_base(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT)),
      m_bold(m_base.Bold()),
      m_small(m_base.Smaller()) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &StationTileWindow::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &StationTileWindow::OnLeftDown, this);
    Bind(wxEVT_CONTEXT_MENU, &StationTileWindow::OnContextMenu, this);
}

wxColour StationTileWindow::ResultColour(TileColour colour) {
    return colour == TileColour::Ok ? kOkColour : colour == TileColour::Failed ? kFailedColour : kNeutral;
}

std::string StationTileWindow::HoverText(const StationTile& tile) {
    std::string text = tile.m_strName;
    if (tile.m_strName != tile.m_strPort)
        text += "\n" + tile.m_strPort;
    if (!tile.m_strUsbSerial.empty())
        text += "\nUSB serial number " + tile.m_strUsbSerial;
    text += "\n" + tile.PhaseText() + "; units: " + tile.CountText();
    if (tile.m_colour != TileColour::Neutral)
        text += std::string("\nLast unit ") + (tile.m_colour == TileColour::Ok ? "ok" : "FAILED") + ": " +
                tile.m_strReason;
    return text;
}

void StationTileWindow::SetTile(const StationTile& tile) {
    if (m_bDrawn && SameAsShown(tile, m_tile) && tile.m_bStopRequested == m_tile.m_bStopRequested)
        return;
    m_tile = tile;
    m_bDrawn = true;
    SetToolTip(wxString::FromUTF8(HoverText(m_tile)));
    Refresh(false);
}

void StationTileWindow::SetSelected(bool selected) {
    if (selected == m_bSelected)
        return;
    m_bSelected = selected;
    Refresh(false);
}

void StationTileWindow::OnLeftDown(wxMouseEvent& event) {
    if (m_onSelect)
        m_onSelect(m_nIndex);
    event.Skip();
}

void StationTileWindow::OnContextMenu(wxContextMenuEvent&) {
    if (m_onSelect)
        m_onSelect(m_nIndex);
    wxMenu menu;
    menu.Append(kMenuStop, "Stop this port");
    menu.Enable(kMenuStop, m_tile.Running() && !m_tile.m_bStopRequested);
    if (GetPopupMenuSelectionFromUser(menu) == kMenuStop && m_onStop)
        m_onStop(m_nIndex);
}

void StationTileWindow::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    const wxColour tint = m_tile.m_colour == TileColour::Ok       ? kOkTint
                          : m_tile.m_colour == TileColour::Failed ? kFailedTint
                                                                  : kCard;
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    // The card, its border (blue when selected) and the result's band.
    dc.SetPen(wxPen(m_bSelected ? kSelected : kBorder, m_bSelected ? 2 : 1));
    dc.SetBrush(wxBrush(tint));
    dc.DrawRoundedRectangle(1, 1, size.x - 2, size.y - 2, 4);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(ResultColour(m_tile.m_colour)));
    dc.DrawRoundedRectangle(2, 2, kBand + 2, size.y - 4, 3);
    dc.DrawRectangle(kBand, 2, 2, size.y - 4);

    const int left = kBand + kPadding;
    const int width = std::max(10, size.x - left - kPadding);
    const wxFont& base = m_base;
    const wxFont& bold = m_bold;
    const wxFont& small = m_small;
    int y = kPadding - 2;
    auto line = [&](const std::string& text, const wxFont& font, const wxColour& colour, int x = -1) {
        dc.SetFont(font);
        dc.SetTextForeground(colour);
        const int from = x < 0 ? left : x;
        // Shortened only when it does not fit: that measures each character.
        wxString shown = wxString::FromUTF8(text);
        if (dc.GetTextExtent(shown).x > left + width - from)
            shown = wxControl::Ellipsize(shown, dc, wxELLIPSIZE_END, left + width - from);
        dc.DrawText(shown, from, y);
        return dc.GetTextExtent(shown);
    };
    const bool roomy = size.y >= 112;
    y += line(m_tile.m_strName, bold, kText).y + 1;
    if (roomy) {
        std::string device = m_tile.m_strName == m_tile.m_strPort ? "" : m_tile.m_strPort;
        if (!m_tile.m_strUsbSerial.empty())
            device += (device.empty() ? "" : " · ") + ("S/N " + m_tile.m_strUsbSerial);
        y += line(device.empty() ? std::string(" ") : device, small, kMutedColour).y + 3;
    }
    std::string phase = m_tile.PhaseText();
    if (m_tile.m_nPercent >= 0)
        phase += " · " + std::to_string(m_tile.m_nPercent) + " %";
    y += line(phase, base, kText).y + 4;

    // The progress bar: the unit's data bytes.
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(kTrack));
    dc.DrawRoundedRectangle(left, y, width, kBarHeight, 3);
    if (m_tile.m_nPercent > 0) {
        dc.SetBrush(wxBrush(kBar));
        dc.DrawRoundedRectangle(left, y, std::max(6, width * std::min(m_tile.m_nPercent, 100) / 100), kBarHeight, 3);
    }
    y += kBarHeight + 4;
    if (roomy) {
        std::string rate = m_tile.RateText();
        const std::string left_ = m_tile.TimeLeftText();
        if (!left_.empty())
            rate += (rate.empty() ? "" : " · ") + left_;
        y += line(rate.empty() ? std::string(" ") : rate, small, kMutedColour).y + 2;
    }
    // The counts, each with a dot of its colour.
    dc.SetFont(small);
    const int dot = dc.GetCharHeight() / 2;
    int x = left;
    for (const auto& [count, colour, word] : {std::tuple{m_tile.m_nUnitsOk, kOkColour, " ok"},
                                              std::tuple{m_tile.m_nUnitsFailed, kFailedColour, " failed"}}) {
        dc.SetBrush(wxBrush(colour));
        dc.DrawCircle(x + dot / 2 + 1, y + dc.GetCharHeight() / 2 + 1, dot / 2 + 1);
        x += dot + 4;
        x += line(std::to_string(count) + word, small, kText, x).x + 12;
    }
}
