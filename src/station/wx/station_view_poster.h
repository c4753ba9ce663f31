// StationViewPoster: the station engine's view inside the window. Each call
// comes on the engine's thread; it is copied into an update of the window's
// model and queued, and the first update queued schedules one delivery on
// the UI thread, which takes every update queued by then. The engine never
// waits for the UI thread, and no widget is touched off it.
#pragma once

// The project's headers before wx's: wx defines TRUE and FALSE as macros.
#include "station/station_model.h"
#include "station/station_view.h"

#include <functional>
#include <mutex>
#include <vector>

class wxEvtHandler;

class StationViewPoster : public StationView {
public:
    using Update = std::function<void(StationModel&)>;
    using Deliver = std::function<void(std::vector<Update>& updates)>;

    // uiTarget: the handler whose thread is the UI thread (the window);
    // deliver is called there with the updates, in the order they came.
    StationViewPoster(wxEvtHandler* uiTarget, Deliver deliver);

    void RunBegins(const std::vector<StationPort>& ports) override;
    void RunStarted(std::size_t index) override;
    void PortChanged(std::size_t index, const StationEvent& event, bool worthPlainLine) override;
    void UnitEnded(std::size_t index, const UnitOutcome& outcome, bool counted, bool goesOn) override;
    void Note(const std::string& text) override;
    void Trouble(const std::string& text) override;
    void Summary(const StationLosses& losses) override;
    void RunEnded(int exitStatus) override;

private:
    void Post(Update update);
    void DeliverQueued();

    wxEvtHandler* m_pTarget;
    Deliver m_deliver;
    std::mutex m_mutex;
    std::vector<Update> m_queue;
    const std::vector<StationPort>* m_pPorts = nullptr;  // the engine's, read on its thread only
    std::vector<StationSummaryRow> m_summary;           // made on the engine's thread at the end
};
