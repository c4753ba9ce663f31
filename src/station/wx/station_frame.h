// StationFrame: the station's window. First the setup page
// (station_setup_panel.h); Start runs the station engine (station.h) on a
// worker thread with this window as its view, and shows the run page: one
// tile per port in a grid that fits the window (1 to 64 ports and more, the
// grid scrolling when the tiles would come out too small), Stop all and
// Stop port, the ports' messages, the summary table at the end, and the
// record file with a button that opens its folder.
//
// The engine's view (station_view_poster.h) queues each change for the UI
// thread, which applies it to the model at once and redraws what changed
// at most kRedrawsPerSecond times a second, and only when something
// changed. Stop all and Stop port reach the engine's wait through its
// StationControl. Closing the window during a run asks first, then stops
// every port as Ctrl-C does and closes once every port has ended.
#pragma once

// The project's headers before wx's: wx defines TRUE and FALSE as macros.
#include "station/station_control.h"
#include "station/station_model.h"
#include "station/wx/station_window.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <wx/frame.h>
#include <wx/timer.h>

class StationSetupPanel;
class StationTileWindow;
class StationViewPoster;
class wxButton;
class wxChoice;
class wxListCtrl;
class wxNotebook;
class wxPanel;
class wxScrolledWindow;
class wxSimplebook;
class wxStaticText;
class wxTextCtrl;

class StationFrame : public wxFrame {
public:
    explicit StationFrame(const StationWindowOptions& options);
    ~StationFrame() override;

    // Starts the station with the setup page's choices. False, telling the
    // operator why, when they make no station.
    bool Start();

    bool Running() const { return m_worker.joinable(); }
    // The station's exit status; kExitCancelled before one has run.
    int ExitStatus() const;
    // The run's model and tiles (nullptr before the start).
    const StationModel* Model() const { return m_model.get(); }
    StationTileWindow* TileWindow(std::size_t index) const;
    StationSetupPanel* Setup() const { return m_pSetup; }
    // Stop all, Stop port (as the buttons do).
    void StopAll();
    void StopPort(std::size_t index);

    // *status gets the exit status when the window is destroyed.
    void ReportExitStatusTo(int* status) { m_pStatusOut = status; }
    // Called on the UI thread once the run has ended and been shown.
    void SetFinishedHook(std::function<void()> hook) { m_finishedHook = std::move(hook); }

    static constexpr int kRedrawsPerSecond = 2;

private:
    wxPanel* BuildRunPage();
    void Deliver(std::vector<std::function<void(StationModel&)>>& updates);
    void ScheduleRedraw();
    void Redraw();
    void RunFinished();
    void LayOutTiles();
    void Select(std::size_t index);
    void ShowLog();
    void AppendLog(const StationLogLine& line);
    void ShowSummary();
    void UpdateStatus();
    void OnClose(wxCloseEvent& event);

    StationWindowOptions m_options;
    StationOptions m_running;  // what the station runs with
    std::unique_ptr<StationModel> m_model;
    std::unique_ptr<StationViewPoster> m_view;
    std::unique_ptr<StationControl> m_control;
    std::thread m_worker;
    int m_nExitStatus = -1;
    bool m_bCloseWhenFinished = false;
    std::size_t m_nSelected = StationLogLine::kStationLine;  // the port whose messages show, or all
    std::chrono::steady_clock::time_point m_lastRedraw{};
    wxTimer m_redrawTimer;
    std::function<void()> m_finishedHook;
    int* m_pStatusOut = nullptr;

    wxSimplebook* m_pPages = nullptr;
    StationSetupPanel* m_pSetup = nullptr;
    wxPanel* m_pRunPage = nullptr;
    wxStaticText* m_pStatus = nullptr;
    wxButton* m_pStopAll = nullptr;
    wxButton* m_pStopPort = nullptr;
    wxButton* m_pClose = nullptr;
    wxScrolledWindow* m_pGrid = nullptr;
    std::vector<StationTileWindow*> m_tiles;
    wxNotebook* m_pNotebook = nullptr;
    wxChoice* m_pLogFilter = nullptr;
    wxTextCtrl* m_pLog = nullptr;
    wxStaticText* m_pSummaryHeading = nullptr;
    wxListCtrl* m_pSummary = nullptr;
};
