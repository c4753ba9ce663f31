#include "station/wx/station_frame.h"

#include "platform/exit_status.h"
#include "platform/utf8_path.h"
#include "station/wx/station_palette.h"
#include "station/wx/station_setup_panel.h"
#include "station/wx/station_tile_window.h"
#include "station/wx/station_view_poster.h"

#include <algorithm>
#include <ctime>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/datetime.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/scrolwin.h>
#include <wx/simplebook.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

namespace {

constexpr char kTitle[] = "Receiver Downloader Station";
constexpr int kGap = 8;
constexpr int kMaxTileWidth = 340, kMaxTileHeight = 150;
const wxColour kGridBackground(240, 242, 245);


}  // namespace

StationFrame::StationFrame(const StationWindowOptions& options)
    : wxFrame(nullptr, wxID_ANY, kTitle, wxDefaultPosition, wxSize(1120, 800)), m_options(options) {
    m_pPages = new wxSimplebook(this);
    m_pSetup = new StationSetupPanel(m_pPages, options.m_station, options.m_bRemember);
    m_pSetup->m_onStart = [this] { Start(); };
    m_pPages->AddPage(m_pSetup, "Setup");
    m_redrawTimer.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Redraw(); }, m_redrawTimer.GetId());
    Bind(wxEVT_CLOSE_WINDOW, &StationFrame::OnClose, this);
    SetMinSize(wxSize(640, 480));
    if (options.m_bStartAtOnce)
        CallAfter([this] { Start(); });
}

StationFrame::~StationFrame() {
    if (m_worker.joinable()) {
        m_control->StopAll();
        m_worker.join();
    }
    if (m_pStatusOut)
        *m_pStatusOut = ExitStatus();
}

int StationFrame::ExitStatus() const { return m_nExitStatus >= 0 ? m_nExitStatus : kExitCancelled; }

StationTileWindow* StationFrame::TileWindow(std::size_t index) const {
    return index < m_tiles.size() ? m_tiles[index] : nullptr;
}

bool StationFrame::Start() {
    if (Running())
        return false;
    std::string why = m_pSetup->Refusal();
    const StationOptions options = m_pSetup->Choices();
    if (why.empty() && m_options.m_checkOutputs)
        why = m_options.m_checkOutputs(options);
    if (!why.empty()) {
        wxMessageBox(WxText(why), kTitle, wxOK | wxICON_WARNING, this);
        return false;
    }
    m_pSetup->Remember();
    m_running = options;
    m_model = std::make_unique<StationModel>(m_pSetup->ChosenPorts());
    m_control = std::make_unique<StationControl>();
    m_view = std::make_unique<StationViewPoster>(this, [this](auto& updates) { Deliver(updates); });
    m_nSelected = StationLogLine::kStationLine;
    if (m_pRunPage) {
        m_pPages->DeletePage(1);
        m_tiles.clear();
    }
    m_pRunPage = BuildRunPage();
    m_pPages->AddPage(m_pRunPage, "Run");
    m_pPages->ChangeSelection(1);
    Redraw();
    m_worker = std::thread([this] { RunStation(m_running, *m_view, m_control.get()); });
    return true;
}

wxPanel* StationFrame::BuildRunPage() {
    auto* page = new wxPanel(m_pPages);
    auto* sizer = new wxBoxSizer(wxVERTICAL);

    // The controls and the run's state.
    auto* bar = new wxBoxSizer(wxHORIZONTAL);
    m_pStopAll = new wxButton(page, wxID_ANY, "Stop all");
    m_pStopAll->SetToolTip("Cancel every port's run and give each port back, as Ctrl-C does; then the summary");
    m_pStopAll->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { StopAll(); });
    m_pStopPort = new wxButton(page, wxID_ANY, "Stop port");
    m_pStopPort->SetToolTip("Cancel the chosen port's run and start no further one there");
    m_pStopPort->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        if (m_nSelected != StationLogLine::kStationLine)
            StopPort(m_nSelected);
    });
    m_pClose = new wxButton(page, wxID_CLOSE, "Close");
    m_pClose->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); });
    m_pClose->Hide();
    m_pStatus = new wxStaticText(page, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxST_ELLIPSIZE_END);
    m_pStatus->SetFont(m_pStatus->GetFont().Bold());
    bar->Add(m_pStopAll, 0, wxRIGHT, 6);
    bar->Add(m_pStopPort, 0, wxRIGHT, 6);
    bar->Add(m_pClose, 0, wxRIGHT, 6);
    bar->Add(m_pStatus, 1, wxALIGN_CENTER_VERTICAL | wxLEFT, 8);
    sizer->Add(bar, 0, wxEXPAND | wxALL, 8);

    auto* record = new wxBoxSizer(wxHORIZONTAL);
    const std::string path = m_running.m_strRecordFile;
    auto* label = new wxStaticText(page, wxID_ANY, WxText(path.empty() ? "Record: none (no --record file chosen)"
                                                                     : "Record: " + path),
                                   wxDefaultPosition, wxDefaultSize, wxST_ELLIPSIZE_MIDDLE);
    label->SetForegroundColour(kMutedColour);
    record->Add(label, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    if (!path.empty()) {
        auto* open = new wxButton(page, wxID_ANY, "Open folder");
        open->SetToolTip("Show the record file's folder");
        open->Bind(wxEVT_BUTTON, [path](wxCommandEvent&) {
            wxLaunchDefaultApplication(WxText(Utf8FromPath(PathFromUtf8(AbsoluteUtf8Path(path)).parent_path())));
        });
        record->Add(open, 0);
    }
    sizer->Add(record, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

    // The tiles above, the messages and the summary below.
    auto* split = new wxSplitterWindow(page, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_LIVE_UPDATE | wxSP_3DSASH);
    split->SetMinimumPaneSize(120);
    split->SetSashGravity(1.0);
    m_pGrid = new wxScrolledWindow(split, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxVSCROLL);
    m_pGrid->SetBackgroundColour(kGridBackground);
    m_pGrid->SetScrollRate(0, 16);
    for (std::size_t i = 0; i < m_model->Size(); ++i) {
        auto* tile = new StationTileWindow(m_pGrid, i);
        tile->m_onSelect = [this](std::size_t index) { Select(index); };
        tile->m_onStop = [this](std::size_t index) { StopPort(index); };
        tile->SetTile(m_model->Tile(i));
        m_tiles.push_back(tile);
    }
    m_pGrid->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        LayOutTiles();
        event.Skip();
    });

    m_pNotebook = new wxNotebook(split, wxID_ANY);
    auto* messages = new wxPanel(m_pNotebook);
    auto* messagesSizer = new wxBoxSizer(wxVERTICAL);
    auto* filterRow = new wxBoxSizer(wxHORIZONTAL);
    m_pLogFilter = new wxChoice(messages, wxID_ANY);
    m_pLogFilter->Append("All ports");
    for (std::size_t i = 0; i < m_model->Size(); ++i) {
        const StationTile& tile = m_model->Tile(i);
        m_pLogFilter->Append(WxText(tile.m_strName == tile.m_strPort ? tile.m_strPort
                                                                   : tile.m_strName + " (" + tile.m_strPort + ")"));
    }
    m_pLogFilter->SetSelection(0);
    m_pLogFilter->Bind(wxEVT_CHOICE, [this](wxCommandEvent& event) {
        const int choice = event.GetSelection();
        Select(choice <= 0 ? StationLogLine::kStationLine : static_cast<std::size_t>(choice - 1));
    });
    filterRow->Add(new wxStaticText(messages, wxID_ANY, "Messages of"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    filterRow->Add(m_pLogFilter, 0);
    messagesSizer->Add(filterRow, 0, wxALL, 4);
    m_pLog = new wxTextCtrl(messages, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                            wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2 | wxTE_DONTWRAP);
    m_pLog->SetFont(wxFont(wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE)));
    messagesSizer->Add(m_pLog, 1, wxEXPAND);
    messages->SetSizer(messagesSizer);
    m_pNotebook->AddPage(messages, "Messages");

    auto* summary = new wxPanel(m_pNotebook);
    auto* summarySizer = new wxBoxSizer(wxVERTICAL);
    m_pSummaryHeading = new wxStaticText(summary, wxID_ANY, "The summary comes when every port has ended.");
    m_pSummaryHeading->SetFont(m_pSummaryHeading->GetFont().Bold());
    summarySizer->Add(m_pSummaryHeading, 0, wxALL, 6);
    m_pSummary = new wxListCtrl(summary, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_SINGLE_SEL);
    m_pSummary->AppendColumn("Port", wxLIST_FORMAT_LEFT, 200);
    m_pSummary->AppendColumn("Adapter", wxLIST_FORMAT_LEFT, 170);
    m_pSummary->AppendColumn("Units ok", wxLIST_FORMAT_RIGHT, 80);
    m_pSummary->AppendColumn("Failed", wxLIST_FORMAT_RIGHT, 70);
    m_pSummary->AppendColumn("Result", wxLIST_FORMAT_LEFT, 90);
    m_pSummary->AppendColumn("Message", wxLIST_FORMAT_LEFT, 460);
    summarySizer->Add(m_pSummary, 1, wxEXPAND);
    summary->SetSizer(summarySizer);
    m_pNotebook->AddPage(summary, "Summary");

    split->SplitHorizontally(m_pGrid, m_pNotebook, -220);
    sizer->Add(split, 1, wxEXPAND);
    page->SetSizer(sizer);
    return page;
}

void StationFrame::LayOutTiles() {
    if (m_tiles.empty())
        return;
    const wxSize area = m_pGrid->GetClientSize();
    const std::size_t count = m_tiles.size();
    const int columns = StationModel::GridColumns(count, area.x - kGap, area.y - kGap,
                                                  StationTileWindow::kMinWidth + kGap,
                                                  StationTileWindow::kMinHeight + kGap);
    const int rows = static_cast<int>((count + columns - 1) / columns);
    const int width = std::clamp((area.x - kGap) / columns - kGap, StationTileWindow::kMinWidth, kMaxTileWidth);
    const int height = std::clamp((area.y - kGap) / rows - kGap, StationTileWindow::kMinHeight, kMaxTileHeight);
    const int total = columns * (width + kGap) + kGap;
    const int left = std::max(0, (area.x - total) / 2);
    m_pGrid->SetVirtualSize(total, rows * (height + kGap) + kGap);
    for (std::size_t i = 0; i < count; ++i) {
        const int column = static_cast<int>(i) % columns, row = static_cast<int>(i) / columns;
        const wxPoint at = m_pGrid->CalcScrolledPosition(
            wxPoint(left + kGap + column * (width + kGap), kGap + row * (height + kGap)));
        m_tiles[i]->SetSize(at.x, at.y, width, height);
    }
}

void StationFrame::Deliver(std::vector<std::function<void(StationModel&)>>& updates) {
    if (!m_model)
        return;
    for (auto& update : updates)
        update(*m_model);
    if (m_model->IsFinished())
        RunFinished();
    else
        ScheduleRedraw();
}

void StationFrame::ScheduleRedraw() {
    if (m_redrawTimer.IsRunning() || !m_model->HasChanges())
        return;
    const auto period = std::chrono::milliseconds(1000 / kRedrawsPerSecond);
    const auto since = std::chrono::steady_clock::now() - m_lastRedraw;
    if (since >= period)
        Redraw();
    else
        m_redrawTimer.StartOnce(
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(period - since).count()));
}

void StationFrame::Redraw() {
    if (!m_model)
        return;
    m_lastRedraw = std::chrono::steady_clock::now();
    for (std::size_t index : m_model->TakeChangedTiles())
        m_tiles[index]->SetTile(m_model->Tile(index));
    const std::vector<StationLogLine> lines = m_model->TakeNewLog();
    if (!lines.empty()) {
        m_pLog->Freeze();
        for (const StationLogLine& line : lines)
            AppendLog(line);
        m_pLog->Thaw();
        m_pLog->ShowPosition(m_pLog->GetLastPosition());
    }
    UpdateStatus();
}

void StationFrame::AppendLog(const StationLogLine& line) {
    const bool all = m_nSelected == StationLogLine::kStationLine;
    if (!all && line.m_nPort != m_nSelected && line.m_nPort != StationLogLine::kStationLine)
        return;
    std::string text = wxDateTime(std::chrono::system_clock::to_time_t(line.m_time)).Format("%H:%M:%S  ").utf8_string();
    if (all && line.m_nPort != StationLogLine::kStationLine)
        text += m_model->Tile(line.m_nPort).m_strPort + "  ";
    m_pLog->SetDefaultStyle(wxTextAttr(line.m_bTrouble ? kFailedColour : wxColour(33, 33, 33)));
    m_pLog->AppendText(WxText(text + line.m_strText + "\n"));
}

void StationFrame::ShowLog() {
    m_pLog->Freeze();
    m_pLog->Clear();
    for (const StationLogLine& line : m_model->Log())
        AppendLog(line);
    m_pLog->Thaw();
    m_pLog->ShowPosition(m_pLog->GetLastPosition());
}

void StationFrame::Select(std::size_t index) {
    m_nSelected = index;
    for (std::size_t i = 0; i < m_tiles.size(); ++i)
        m_tiles[i]->SetSelected(i == index);
    m_pLogFilter->SetSelection(index == StationLogLine::kStationLine ? 0 : static_cast<int>(index) + 1);
    m_pNotebook->ChangeSelection(0);
    ShowLog();
    UpdateStatus();
}

void StationFrame::StopAll() {
    if (!Running())
        return;
    m_control->StopAll();
    m_model->StopAllRequested();
    m_pStopAll->Disable();
    Redraw();
}

void StationFrame::StopPort(std::size_t index) {
    if (!Running() || index >= m_model->Size())
        return;
    m_control->StopPort(index);
    m_model->StopRequested(index);
    Redraw();
}

void StationFrame::UpdateStatus() {
    std::size_t loading = 0, waiting = 0, done = 0;
    for (std::size_t i = 0; i < m_model->Size(); ++i) {
        const TilePhase phase = m_model->Tile(i).m_phase;
        loading += phase == TilePhase::Loading || phase == TilePhase::Connected || phase == TilePhase::Ending;
        waiting += phase == TilePhase::Waiting;
        done += phase == TilePhase::Done;
    }
    std::string status;
    if (m_model->IsFinished()) {
        status = "Finished. " + m_model->SummaryHeading() + "; exit status " + std::to_string(m_model->ExitStatus());
        m_pStatus->SetForegroundColour(m_model->ExitStatus() == kExitSuccess ? kOkColour : kFailedColour);
    } else {
        status = std::to_string(m_model->Size()) + (m_model->Size() == 1 ? " port: " : " ports: ") +
                 std::to_string(loading) + " loading, " + std::to_string(waiting) + " waiting, " +
                 std::to_string(done) + " done. Units: " + std::to_string(m_model->UnitsOk()) + " ok, " +
                 std::to_string(m_model->UnitsFailed()) + " failed";
    }
    if (m_pStatus->GetLabel() != WxText(status))
        m_pStatus->SetLabel(WxText(status));
    const bool portRunning = m_nSelected < m_model->Size() && m_model->Tile(m_nSelected).Running() &&
                             !m_model->Tile(m_nSelected).m_bStopRequested;
    m_pStopPort->Enable(Running() && portRunning);
}

void StationFrame::ShowSummary() {
    m_pSummaryHeading->SetLabel(WxText("Summary: " + m_model->SummaryHeading()));
    m_pSummary->DeleteAllItems();
    const std::vector<StationSummaryRow>& rows = m_model->Summary();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const StationSummaryRow& row = rows[i];
        const long item = m_pSummary->InsertItem(static_cast<long>(i), WxText(row.m_strPort));
        const std::string name = i < m_model->Size() ? m_model->Tile(i).m_strName : "";
        m_pSummary->SetItem(item, 1, WxText(name == row.m_strPort ? "" : name));
        m_pSummary->SetItem(item, 2, WxText(std::to_string(row.m_nUnitsOk)));
        m_pSummary->SetItem(item, 3, WxText(std::to_string(row.m_nUnitsFailed)));
        m_pSummary->SetItem(item, 4, WxText(row.m_strResult));
        m_pSummary->SetItem(item, 5, WxText(row.m_strMessage));
        m_pSummary->SetItemTextColour(item, row.m_strResult == "ok" ? kOkColour : kFailedColour);
    }
    m_pSummaryHeading->GetParent()->Layout();
}

void StationFrame::RunFinished() {
    m_worker.join();
    m_nExitStatus = m_model->ExitStatus();
    Redraw();
    bool started = false;
    for (std::size_t i = 0; i < m_model->Size(); ++i)
        started = started || m_model->Tile(i).m_phase != TilePhase::NotStarted;
    if (m_nExitStatus == kExitUsage && !started && !m_bCloseWhenFinished) {
        // The station refused to start (its record or events file): back to
        // the choices.
        wxMessageBox(WxText("The station cannot start: " + m_model->LastTrouble()), kTitle, wxOK | wxICON_ERROR, this);
        m_pPages->ChangeSelection(0);
        if (m_finishedHook)
            m_finishedHook();
        return;
    }
    ShowSummary();
    m_pNotebook->ChangeSelection(1);
    m_pStopAll->Hide();
    m_pStopPort->Hide();
    m_pClose->Show();
    m_pClose->SetDefault();
    m_pRunPage->Layout();
    SetTitle(WxText(std::string(kTitle) + " - finished"));
    if (m_bCloseWhenFinished)
        Destroy();
    if (m_finishedHook)
        m_finishedHook();
}

void StationFrame::OnClose(wxCloseEvent& event) {
    if (!Running()) {
        event.Skip();
        return;
    }
    if (event.CanVeto()) {
        event.Veto();
        if (m_bCloseWhenFinished)
            return;
        wxMessageDialog ask(this, "The station is running. Stop every port and close the window?", kTitle,
                            wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION);
        ask.SetExtendedMessage("Each port's run is cancelled and its port given back, as Stop all does; the "
                               "window closes once every port has ended.");
        ask.SetYesNoLabels("Stop and close", "Keep running");
        if (ask.ShowModal() != wxID_YES)
            return;
        if (!Running()) {  // it ended while the question was open
            Destroy();
            return;
        }
        m_bCloseWhenFinished = true;
        StopAll();
        return;
    }
    // The system ends the session: stop every port and wait for them.
    m_control->StopAll();
    m_worker.join();
    event.Skip();
}
