#include "station/wx/station_view_poster.h"

#include <utility>

#include <wx/event.h>

StationViewPoster::StationViewPoster(wxEvtHandler* uiTarget, Deliver deliver)
    : m_pTarget(uiTarget), m_deliver(std::move(deliver)) {}

void StationViewPoster::Post(Update update) {
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        first = m_queue.empty();
        m_queue.push_back(std::move(update));
    }
    // One delivery scheduled at a time: it takes everything queued by then.
    if (first)
        m_pTarget->CallAfter([this] { DeliverQueued(); });
}

void StationViewPoster::DeliverQueued() {
    std::vector<Update> updates;
    {
        std::lock_guard lock(m_mutex);
        updates.swap(m_queue);
    }
    if (!updates.empty())
        m_deliver(updates);
}

void StationViewPoster::RunBegins(const std::vector<StationPort>& ports) { m_pPorts = &ports; }

void StationViewPoster::RunStarted(std::size_t index) {
    Post([index](StationModel& model) { model.RunStarted(index); });
}

void StationViewPoster::PortChanged(std::size_t index, const StationEvent& event, bool) {
    Post([index, event](StationModel& model) { model.TakeEvent(index, event); });
}

void StationViewPoster::UnitEnded(std::size_t index, const UnitOutcome& outcome, bool counted, bool goesOn) {
    Post([index, success = outcome.m_bSuccess, message = outcome.m_strMessage, counted,
          goesOn](StationModel& model) { model.UnitEnded(index, success, message, counted, goesOn); });
}

void StationViewPoster::Note(const std::string& text) {
    Post([text](StationModel& model) { model.Note(text); });
}

void StationViewPoster::Trouble(const std::string& text) {
    Post([text](StationModel& model) { model.Note(text, true); });
}

void StationViewPoster::Summary(const StationLosses& losses) {
    if (m_pPorts)
        m_summary = SummaryRows(*m_pPorts);
    // The lines lost are told as troubles as they happen; the summary names their count.
    if (!losses.m_lines.empty())
        Trouble("the record " + losses.m_strRecord + " has no line for " + std::to_string(losses.m_lines.size()) +
                (losses.m_lines.size() == 1 ? " unit" : " units"));
}

void StationViewPoster::RunEnded(int exitStatus) {
    Post([summary = std::move(m_summary), exitStatus](StationModel& model) mutable {
        model.Finished(std::move(summary), exitStatus);
    });
}
