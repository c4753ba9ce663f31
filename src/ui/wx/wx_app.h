// The wxWidgets application object. The application's work is done by
// RunGui (ui/gui_entry.h) between wx's start-up and clean-up, outside wx's
// main loop: each dialog runs its own modal loop and the application ends
// when the Port Setup dialog has.
#pragma once

// The project's own headers come before wx's everywhere in this directory:
// wx defines TRUE and FALSE as macros, which would clash with win_types.h.
#include "platform/win_types.h"

#include <wx/app.h>

class WxDownloaderApp : public wxApp {
public:
    bool OnInit() override;
};
