// What the station window's parts share: the colours of a result (green ok,
// red failed) and of secondary text, kept here once so that a tile, the
// summary and the setup page's verdict show a result alike; and wx text from
// the program's UTF-8 strings.
#pragma once

#include <string>

#include <wx/colour.h>
#include <wx/string.h>

inline const wxColour kOkColour(46, 125, 50);
inline const wxColour kFailedColour(198, 40, 40);
inline const wxColour kMutedColour(110, 114, 120);

inline wxString WxText(const std::string& text) { return wxString::FromUTF8(text); }
