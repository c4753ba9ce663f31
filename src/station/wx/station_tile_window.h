// StationTileWindow: one port's tile in the station's window, drawn by hand
// from its StationTile: the port's friendly name, its device and USB serial
// number, the phase, a progress bar with the rate and time left, the unit
// counts, and a band in the colour of the last result (green ok, red
// failed), whose reason shows on hover and, on a click, in the window's
// message pane. The context menu stops the port.
#pragma once

// The project's headers before wx's: wx defines TRUE and FALSE as macros.
#include "station/station_model.h"

#include <cstddef>
#include <functional>

#include <wx/colour.h>
#include <wx/font.h>
#include <wx/window.h>

class StationTileWindow : public wxWindow {
public:
    StationTileWindow(wxWindow* parent, std::size_t index);

    // What the tile shows from now on; redrawn when it differs.
    void SetTile(const StationTile& tile);
    const StationTile& Tile() const { return m_tile; }
    void SetSelected(bool selected);

    // The band's colour for the tile as it is: green ok, red failed, grey
    // before the first result.
    static wxColour ResultColour(TileColour colour);
    // The text shown on hover: the last result and its reason.
    static std::string HoverText(const StationTile& tile);

    // Called with the tile's index: a click, and Stop in its context menu.
    std::function<void(std::size_t)> m_onSelect;
    std::function<void(std::size_t)> m_onStop;

    // The smallest tile that shows every line, and a comfortable one.
    static constexpr int kMinWidth = 150, kMinHeight = 84;
    static constexpr int kWidth = 250, kHeight = 132;

private:
    void OnPaint(wxPaintEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);

    std::size_t m_nIndex;
    // Made once: a tile is drawn about once a second while its port loads.
    wxFont m_base, m_bold, m_small;
    StationTile m_tile;
    bool m_bSelected = false;
    bool m_bDrawn = false;
};
