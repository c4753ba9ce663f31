#include "station/wx/station_setup_panel.h"

#include "platform/port_list.h"
#include "station/station_ports.h"
#include "station/wx/station_palette.h"
#include "term/script_precheck.h"
#include "upload/script_check.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include <wx/button.h>
#include <wx/config.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

const wxColour kWarned(176, 106, 0);

constexpr char kConfigName[] = "receiver-downloader";
constexpr char kScriptFilter[] = "Command scripts (*.cmd)|*.cmd;*.CMD|All files|*";
constexpr char kRecordFilter[] = "CSV files (*.csv)|*.csv|All files|*";

std::string Utf8(const wxString& text) { return text.utf8_string(); }

// The ports present, each device once, with its adapter and serial number.
std::vector<StationPortName> PortsPresent() {
    const std::vector<SerialDeviceInfo> devices = ListSerialDevices();
    std::vector<StationPortName> ports;
    for (const std::string& path : PortsOfListing(devices)) {
        StationPortName port{path, "", UsbSerialNumber(path)};
        for (const SerialDeviceInfo& device : devices)
            if (device.m_strPath == path)
                port.m_strDescription = device.m_strDescription;
        ports.push_back(std::move(port));
    }
    return ports;
}

std::string Plural(std::size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

StationSetupPanel::StationSetupPanel(wxWindow* parent, const StationOptions& given, bool remember)
    : wxPanel(parent), m_given(given), m_bRemember(remember) {
    auto* page = new wxBoxSizer(wxVERTICAL);
    page->Add(BuildScript(this), 1, wxEXPAND | wxALL, 10);
    auto* lower = new wxBoxSizer(wxHORIZONTAL);
    lower->Add(BuildPorts(this), 1, wxEXPAND | wxRIGHT, 10);
    lower->Add(BuildRun(this), 0, wxEXPAND);
    page->Add(lower, 1, wxEXPAND | wxLEFT | wxRIGHT, 10);

    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    m_pWhyNot = new wxStaticText(this, wxID_ANY, "");
    m_pWhyNot->SetForegroundColour(wxColour(110, 114, 120));
    m_pStart = new wxButton(this, wxID_OK, "Start");
    m_pStart->SetDefault();
    m_pStart->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        if (m_onStart)
            m_onStart();
    });
    bottom->Add(m_pWhyNot, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 10);
    bottom->Add(m_pStart, 0);
    page->Add(bottom, 0, wxEXPAND | wxALL, 10);
    SetSizer(page);

    // The command line's choices; without any, the last ones.
    const bool fromCommandLine = !given.m_ports.empty() || !given.m_strScript.empty();
    StationOptions shown = given;
    std::vector<std::string> chosen = given.m_ports;
    if (!fromCommandLine && m_bRemember) {
        wxConfig config(kConfigName, "", "", "", wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_SUBDIR);
        shown.m_strScript = Utf8(config.Read("/Station/Script", ""));
        shown.m_strRecordFile = Utf8(config.Read("/Station/Record", ""));
        shown.m_bRepeat = config.ReadBool("/Station/Repeat", false);
        shown.m_nUnits = static_cast<int>(config.ReadLong("/Station/Units", 0));
        shown.m_nTimeoutSeconds = static_cast<int>(config.ReadLong("/Station/Timeout", 0));
        const wxString ports = config.Read("/Station/Ports", "");
        for (const wxString& port : wxSplit(ports, '\n', '\0'))
            if (!port.empty())
                chosen.push_back(Utf8(port));
    }
    m_pScript->ChangeValue(WxText(shown.m_strScript));
    m_pRecord->ChangeValue(WxText(shown.m_strRecordFile));
    (shown.m_bRepeat ? m_pRepeat : m_pOnce)->SetValue(true);
    m_pUnits->SetValue(shown.m_nUnits);
    m_pUnits->Enable(shown.m_bRepeat);
    m_pTimeout->SetValue(shown.m_nTimeoutSeconds);
    RefreshPorts();
    const std::set<std::string> present = [&] {
        std::set<std::string> paths;
        for (const StationPortName& port : m_portRows)
            paths.insert(port.m_strPort);
        return paths;
    }();
    for (const std::string& port : chosen)
        if (fromCommandLine || present.contains(port))
            ChoosePort(port);
    CheckScript();
}

wxSizer* StationSetupPanel::BuildScript(wxWindow* parent) {
    auto* box = new wxStaticBox(parent, wxID_ANY, "Script");
    auto* sizer = new wxStaticBoxSizer(box, wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    m_pScript = new wxTextCtrl(box, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_PROCESS_ENTER);
    m_pScript->SetHint("the command script (.cmd) every port carries out");
    m_pScript->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { CheckScript(); });
    m_pScript->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
        CheckScript();
        event.Skip();
    });
    auto* choose = new wxButton(box, wxID_ANY, "Choose...");
    choose->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ChooseScriptFile(); });
    row->Add(m_pScript, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    row->Add(choose, 0);
    sizer->Add(row, 0, wxEXPAND | wxALL, 6);
    m_pCheck = new wxTextCtrl(box, wxID_ANY, "", wxDefaultPosition, wxSize(-1, 150),
                              wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    m_pCheck->SetFont(wxFont(wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE)));
    sizer->Add(m_pCheck, 1, wxEXPAND | wxLEFT | wxRIGHT, 6);
    m_pVerdict = new wxStaticText(box, wxID_ANY, "");
    m_pVerdict->SetFont(m_pVerdict->GetFont().Bold());
    sizer->Add(m_pVerdict, 0, wxEXPAND | wxALL, 6);
    return sizer;
}

wxSizer* StationSetupPanel::BuildPorts(wxWindow* parent) {
    auto* box = new wxStaticBox(parent, wxID_ANY, "Ports");
    auto* sizer = new wxStaticBoxSizer(box, wxVERTICAL);
    m_pPorts = new wxListCtrl(box, wxID_ANY, wxDefaultPosition, wxSize(-1, 150), wxLC_REPORT | wxLC_SINGLE_SEL);
    m_pPorts->EnableCheckBoxes();
    m_pPorts->AppendColumn("Port", wxLIST_FORMAT_LEFT, 260);
    m_pPorts->AppendColumn("Adapter", wxLIST_FORMAT_LEFT, 250);
    m_pPorts->AppendColumn("USB serial number", wxLIST_FORMAT_LEFT, 150);
    m_pPorts->Bind(wxEVT_LIST_ITEM_CHECKED, [this](wxListEvent&) { UpdateStart(); });
    m_pPorts->Bind(wxEVT_LIST_ITEM_UNCHECKED, [this](wxListEvent&) { UpdateStart(); });
    sizer->Add(m_pPorts, 1, wxEXPAND | wxALL, 6);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* refresh = new wxButton(box, wxID_ANY, "Refresh");
    auto* all = new wxButton(box, wxID_ANY, "Select all");
    auto* none = new wxButton(box, wxID_ANY, "Select none");
    refresh->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { RefreshPorts(); });
    auto checkAll = [this](bool check) {
        for (long i = 0; i < m_pPorts->GetItemCount(); ++i)
            m_pPorts->CheckItem(i, check);
        UpdateStart();
    };
    all->Bind(wxEVT_BUTTON, [checkAll](wxCommandEvent&) { checkAll(true); });
    none->Bind(wxEVT_BUTTON, [checkAll](wxCommandEvent&) { checkAll(false); });
    buttons->Add(refresh, 0, wxRIGHT, 6);
    buttons->Add(all, 0, wxRIGHT, 6);
    buttons->Add(none, 0);
    sizer->Add(buttons, 0, wxLEFT | wxRIGHT | wxBOTTOM, 6);
    return sizer;
}

wxSizer* StationSetupPanel::BuildRun(wxWindow* parent) {
    auto* box = new wxStaticBox(parent, wxID_ANY, "Run");
    auto* sizer = new wxStaticBoxSizer(box, wxVERTICAL);
    sizer->Add(new wxStaticText(box, wxID_ANY, "Record file (one line per unit):"), 0, wxLEFT | wxRIGHT | wxTOP, 6);
    auto* record = new wxBoxSizer(wxHORIZONTAL);
    m_pRecord = new wxTextCtrl(box, wxID_ANY, "", wxDefaultPosition, wxSize(260, -1));
    m_pRecord->SetHint("none");
    auto* choose = new wxButton(box, wxID_ANY, "Choose...");
    choose->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ChooseRecordFile(); });
    record->Add(m_pRecord, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    record->Add(choose, 0);
    sizer->Add(record, 0, wxEXPAND | wxALL, 6);

    sizer->AddSpacer(6);
    m_pOnce = new wxRadioButton(box, wxID_ANY, "One unit per port", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    m_pRepeat = new wxRadioButton(box, wxID_ANY, "Unit after unit, each at its power-on");
    sizer->Add(m_pOnce, 0, wxLEFT | wxRIGHT, 6);
    sizer->Add(m_pRepeat, 0, wxLEFT | wxRIGHT | wxTOP, 6);
    auto* units = new wxBoxSizer(wxHORIZONTAL);
    m_pUnits = new wxSpinCtrl(box, wxID_ANY, "", wxDefaultPosition, wxSize(150, -1), wxSP_ARROW_KEYS, 0, 1000000, 0);
    units->Add(m_pUnits, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    units->Add(new wxStaticText(box, wxID_ANY, "units per port (0: until stopped)"), 0, wxALIGN_CENTER_VERTICAL);
    sizer->Add(units, 0, wxLEFT | wxTOP, 24);
    auto enableUnits = [this](wxCommandEvent&) { m_pUnits->Enable(m_pRepeat->GetValue()); };
    m_pOnce->Bind(wxEVT_RADIOBUTTON, enableUnits);
    m_pRepeat->Bind(wxEVT_RADIOBUTTON, enableUnits);

    sizer->AddSpacer(12);
    sizer->Add(new wxStaticText(box, wxID_ANY, "Time limit:"), 0, wxLEFT | wxRIGHT, 6);
    auto* timeout = new wxBoxSizer(wxHORIZONTAL);
    m_pTimeout = new wxSpinCtrl(box, wxID_ANY, "", wxDefaultPosition, wxSize(150, -1), wxSP_ARROW_KEYS, 0, 86400, 0);
    timeout->Add(m_pTimeout, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    timeout->Add(new wxStaticText(box, wxID_ANY, "s for the receiver to answer (0: none)"), 0,
                 wxALIGN_CENTER_VERTICAL);
    sizer->Add(timeout, 0, wxALL, 6);
    return sizer;
}

void StationSetupPanel::AddPortRow(const StationPortName& port, bool chosen) {
    const long row = m_pPorts->InsertItem(m_pPorts->GetItemCount(), WxText(port.m_strPort));
    m_pPorts->SetItem(row, 1, WxText(port.m_strDescription));
    m_pPorts->SetItem(row, 2, WxText(port.m_strUsbSerial));
    m_pPorts->CheckItem(row, chosen);
    m_portRows.push_back(port);
}

void StationSetupPanel::RefreshPorts() {
    std::set<std::string> chosen;
    std::vector<StationPortName> kept;  // chosen ports that are not present (given by name)
    for (long i = 0; i < m_pPorts->GetItemCount(); ++i)
        if (m_pPorts->IsItemChecked(i)) {
            chosen.insert(m_portRows[i].m_strPort);
            kept.push_back(m_portRows[i]);
        }
    m_pPorts->DeleteAllItems();
    m_portRows.clear();
    for (const StationPortName& port : PortsPresent()) {
        AddPortRow(port, chosen.contains(port.m_strPort));
        std::erase_if(kept, [&](const StationPortName& k) { return k.m_strPort == port.m_strPort; });
    }
    for (const StationPortName& port : kept)
        AddPortRow(port, true);
    UpdateStart();
}

void StationSetupPanel::ChoosePort(const std::string& port) {
    for (std::size_t i = 0; i < m_portRows.size(); ++i)
        if (m_portRows[i].m_strPort == port) {
            m_pPorts->CheckItem(static_cast<long>(i), true);
            UpdateStart();
            return;
        }
    AddPortRow({port, "", UsbSerialNumber(port)}, true);
    UpdateStart();
}

void StationSetupPanel::CheckScript() {
    const std::string script = Utf8(m_pScript->GetValue());
    if (script.empty()) {
        m_bScriptPasses = false;
        m_pCheck->ChangeValue("");
        m_pVerdict->SetLabel("Choose the script to check it.");
        m_pVerdict->SetForegroundColour(wxColour(110, 114, 120));
        UpdateStart();
        return;
    }
    const ScriptCheckReport report = CheckScriptReport(script);
    const ScriptCheckResult& result = report.m_result;
    m_bScriptPasses = result.Passed();
    m_pCheck->ChangeValue(WxText(report.m_strText));
    char time[64];
    std::snprintf(time, sizeof time, "about %.1f s per unit", WireSeconds(result.WireBytes()));
    std::string verdict;
    if (!result.Passed()) {
        verdict = "✖ " + Plural(result.m_faults.size(), "fault") + ": the station cannot start with this script.";
        m_pVerdict->SetForegroundColour(kFailedColour);
    } else if (!result.m_warnings.empty()) {
        verdict = "⚠ " + Plural(result.m_warnings.size(), "warning") + " (not carried out as written); " +
                  Plural(result.m_dataFiles.size(), "data file") + ", " + time + ".";
        m_pVerdict->SetForegroundColour(kWarned);
    } else {
        verdict = "✔ The script is sound: " + Plural(result.m_dataFiles.size(), "data file") + ", " + time + ".";
        m_pVerdict->SetForegroundColour(kOkColour);
    }
    m_pVerdict->SetLabel(WxText(verdict));
    UpdateStart();
}

void StationSetupPanel::UpdateStart() {
    std::string why;
    if (m_pScript->GetValue().empty())
        why = "Choose the script.";
    else if (!m_bScriptPasses)
        why = "The script has faults: the station cannot start.";
    else if (ChosenPorts().empty())
        why = "Choose at least one port.";
    m_pWhyNot->SetLabel(WxText(why));
    m_pStart->Enable(why.empty());
    Layout();
}

void StationSetupPanel::ChooseScriptFile() {
    wxFileDialog dialog(this, "Choose the script", wxFileName(m_pScript->GetValue()).GetPath(), "", kScriptFilter,
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK)
        return;
    m_pScript->ChangeValue(dialog.GetPath());
    CheckScript();
}

void StationSetupPanel::ChooseRecordFile() {
    // Lines are appended to a record that exists: no question about
    // overwriting it.
    wxFileDialog dialog(this, "Choose the record file", wxFileName(m_pRecord->GetValue()).GetPath(), "units.csv",
                        kRecordFilter, wxFD_SAVE);
    if (dialog.ShowModal() == wxID_OK)
        m_pRecord->ChangeValue(dialog.GetPath());
}

std::vector<StationPortName> StationSetupPanel::ChosenPorts() const {
    std::vector<StationPortName> ports;
    for (long i = 0; i < m_pPorts->GetItemCount(); ++i)
        if (m_pPorts->IsItemChecked(i))
            ports.push_back(m_portRows[static_cast<std::size_t>(i)]);
    return ports;
}

StationOptions StationSetupPanel::Choices() const {
    StationOptions options = m_given;
    options.m_ports.clear();
    for (const StationPortName& port : ChosenPorts())
        options.m_ports.push_back(port.m_strPort);
    const std::string script = Utf8(m_pScript->GetValue());
    options.m_strScript = script.empty() ? script : Utf8(wxFileName(m_pScript->GetValue()).GetAbsolutePath());
    options.m_strRecordFile = Utf8(m_pRecord->GetValue());
    options.m_bRepeat = m_pRepeat->GetValue();
    options.m_nUnits = options.m_bRepeat ? m_pUnits->GetValue() : 0;
    options.m_nTimeoutSeconds = m_pTimeout->GetValue();
    return options;
}

std::string StationSetupPanel::Refusal() {
    CheckScript();  // the files may have changed since it was shown
    if (m_pScript->GetValue().empty())
        return "Choose the script every port carries out.";
    if (!m_bScriptPasses)
        return "The script has faults (see its check): the station cannot start with it.";
    const StationOptions options = Choices();
    if (options.m_ports.empty())
        return "Choose at least one port.";
    if (const std::string repeated = FindRepeatedPort(options.m_ports); !repeated.empty())
        return repeated + " is chosen twice: two downloads cannot share a port.";
    return {};
}

void StationSetupPanel::Remember() const {
    if (!m_bRemember)
        return;
    const StationOptions options = Choices();
    wxConfig config(kConfigName, "", "", "", wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_SUBDIR);
    wxString ports;
    for (const std::string& port : options.m_ports)
        ports += WxText(port) + "\n";
    config.Write("/Station/Ports", ports);
    config.Write("/Station/Script", WxText(options.m_strScript));
    config.Write("/Station/Record", WxText(options.m_strRecordFile));
    config.Write("/Station/Repeat", options.m_bRepeat);
    config.Write("/Station/Units", static_cast<long>(options.m_nUnits));
    config.Write("/Station/Timeout", static_cast<long>(options.m_nTimeoutSeconds));
}
