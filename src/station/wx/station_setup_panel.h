// StationSetupPanel: the station window's page before the start. The
// operator chooses the script (its check is shown: files, sizes, time per
// unit, warnings, faults; a script with faults cannot start), the ports from
// the serial ports present (with their adapters and USB serial numbers), the
// record file, once or unit after unit, and the time limit. The command
// line's options fill it in; otherwise the last choices, when remembered.
#pragma once

// The project's headers before wx's: wx defines TRUE and FALSE as macros.
#include "station/station.h"
#include "station/station_model.h"

#include <functional>
#include <string>
#include <vector>

#include <wx/panel.h>

class wxButton;
class wxCheckBox;
class wxListCtrl;
class wxRadioButton;
class wxSizer;
class wxSpinCtrl;
class wxStaticText;
class wxTextCtrl;

class StationSetupPanel : public wxPanel {
public:
    // given: the command line's choices; remember: read the last choices
    // for what it does not give.
    StationSetupPanel(wxWindow* parent, const StationOptions& given, bool remember);

    // The station the choices make (the program and events as given).
    StationOptions Choices() const;
    // The chosen ports with what the system says of them, in the list's order.
    std::vector<StationPortName> ChosenPorts() const;
    // Why the choices make no station ("" when they do): no script, a
    // script with faults (checked again now), no port.
    std::string Refusal();
    // Keeps the choices for next time (when remembering).
    void Remember() const;

    // Start was pressed (or Enter): the window checks and starts.
    std::function<void()> m_onStart;

    // The ports present again (the chosen ones stay chosen).
    void RefreshPorts();
    // Shows the check of the script named now.
    void CheckScript();
    // Ticks the port's box, adding it to the list when it is not present.
    void ChoosePort(const std::string& port);

private:
    // Each box with its controls, as a sizer for the page.
    wxSizer* BuildScript(wxWindow* parent);
    wxSizer* BuildPorts(wxWindow* parent);
    wxSizer* BuildRun(wxWindow* parent);
    void AddPortRow(const StationPortName& port, bool chosen);
    void UpdateStart();
    void ChooseScriptFile();
    void ChooseRecordFile();

    StationOptions m_given;
    bool m_bRemember;
    bool m_bScriptPasses = false;
    std::vector<StationPortName> m_portRows;
    wxTextCtrl* m_pScript = nullptr;
    wxTextCtrl* m_pCheck = nullptr;
    wxStaticText* m_pVerdict = nullptr;
    wxListCtrl* m_pPorts = nullptr;
    wxTextCtrl* m_pRecord = nullptr;
    wxRadioButton* m_pOnce = nullptr;
    wxRadioButton* m_pRepeat = nullptr;
    wxSpinCtrl* m_pUnits = nullptr;
    wxSpinCtrl* m_pTimeout = nullptr;
    wxStaticText* m_pWhyNot = nullptr;
    wxButton* m_pStart = nullptr;
};
