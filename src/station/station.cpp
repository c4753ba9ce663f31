#include "station/station.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>

#include "events/event_names.h"
#include "events/run_events.h"
#include "platform/console.h"
#include "platform/exit_status.h"
#include "platform/interrupt_watcher.h"
#include "platform/port_list.h"
#include "platform/whole_lines.h"
#include "station/station_child.h"
#include "station/station_control.h"
#include "station/station_display.h"
#include "station/port_keeper.h"
#include "station/station_output.h"
#include "station/station_port.h"
#include "station/station_view.h"
#include "station/unit_record.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr SteadyClock::time_point kNever = SteadyClock::time_point::max();

// A port's run: its child and the part of an event line read so far.
struct PortRun {
    std::unique_ptr<StationChild> m_child;
    EventLineSplitter m_lines;
    PortKeeper m_keeper;                // the port's settings from before the child started
    SteadyClock::time_point m_startedAt;
    SteadyClock::time_point m_heardAt;  // when the child last wrote to its events
    SteadyClock::time_point m_killAt = kNever;  // a SIGKILL is due then (after a SIGTERM or the cancel)
    std::string m_strEndedBy;           // why the station ended the run ("" when it did not)
    bool m_bEndCopied = false;          // the child's own "end" is in the events stream
    bool m_bStopped = false;            // no further run on this port
    bool m_bStopAsked = false;          // the operator stopped this port
    std::string m_strUsbSerial;
};

class Station {
public:
    Station(const StationOptions& options, StationView& view, StationControl* control)
        : m_options(options),
          m_view(view),
          m_pControl(control),
          m_ports(options.m_ports.begin(), options.m_ports.end()),
          m_runs(options.m_ports.size()) {}

    int Run();

private:
    bool OpenOutputs();
    void WriteEventLine(const std::string& line);
    std::string EventsName() const;
    void StartRun(std::size_t index);
    void TakeEvents(std::size_t index);
    void EndRun(std::size_t index, const ChildExit& exit);
    bool Counts(const UnitOutcome& outcome) const;
    bool GoesOn(std::size_t index, const UnitOutcome& outcome) const;
    void Record(std::size_t index, const UnitOutcome& outcome);
    void WriteEnd(std::size_t index, const UnitOutcome& outcome, int exitStatus, double seconds);
    void ForwardCancel(int signal);
    void StopPort(std::size_t index);
    void TakeRequests();
    std::chrono::seconds SilenceLimit(std::size_t index) const;
    SteadyClock::time_point Deadline(std::size_t index) const;
    SteadyClock::time_point NextDeadline() const;
    void EnforceDeadlines();
    std::vector<StationChild*> Running() const;
    int ExitStatus() const;
    int RunPorts();
    // The station's own trouble, told to its view (the terminal's writes it
    // to standard error).
    template <typename... Values>
    void Trouble(const char* format, Values... values) {
        const int size = std::snprintf(nullptr, 0, format, values...);
        std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
        std::snprintf(text.data(), text.size() + 1, format, values...);
        m_view.Trouble(text);
    }

    const StationOptions& m_options;
    StationView& m_view;
    StationControl* m_pControl;
    std::vector<StationPort> m_ports;
    std::vector<PortRun> m_runs;
    UnitRecord m_record;
    bool m_bRecording = false;
    StationOutput m_events;             // Fd() -1 without --events
    StationLosses m_losses;             // lines that could not be written
    int m_nCancelSignal = 0;
};

void Station::StartRun(std::size_t index) {
    PortRun& run = m_runs[index];
    std::vector<std::string> args = {"--no-gui", "--port", m_ports[index].Port(), "--script", m_options.m_strScript};
    if (m_options.m_nTimeoutSeconds > 0)
        args.insert(args.end(), {"--timeout", std::to_string(m_options.m_nTimeoutSeconds)});
    std::string reason;
    run.m_lines = EventLineSplitter{};
    run.m_strEndedBy.clear();
    run.m_bEndCopied = false;
    run.m_killAt = kNever;
    run.m_keeper.Take(m_ports[index].Port());
    run.m_startedAt = run.m_heardAt = SteadyClock::now();
    run.m_child = StationChild::Start(m_options.m_strProgram, args, &reason);
    m_ports[index].BeginUnit();
    if (!run.m_child) {
        run.m_keeper.Release();
        const UnitOutcome outcome = m_ports[index].FailToStart(reason);
        m_ports[index].Count(outcome);
        Record(index, outcome);
        WriteEnd(index, outcome, kExitFailure, 0);
        run.m_bStopped = true;
        m_view.UnitEnded(index, outcome, true, false);
        return;
    }
    m_view.RunStarted(index);
}

void Station::TakeEvents(std::size_t index) {
    PortRun& run = m_runs[index];
    std::string data;
    run.m_child->ReadEvents(&data);
    if (!data.empty())
        run.m_heardAt = SteadyClock::now();
    std::vector<std::string> lines;
    run.m_lines.Feed(data.data(), data.size(), &lines);
    for (const std::string& line : lines) {
        const auto event = ParseStationEvent(line);
        if (!event)
            continue;
        if (event->m_strEvent == event::kEnd) {
            // A run the station ended gets the station's end, which says why.
            if (!run.m_strEndedBy.empty())
                continue;
            run.m_bEndCopied = true;
        }
        WriteEventLine(line);
        const bool worthPlainLine = m_ports[index].Apply(*event);
        m_view.PortChanged(index, *event, worthPlainLine);
        if (const std::string warning = m_ports[index].TakeWarning(); !warning.empty())
            m_view.Note(warning);
    }
}

bool Station::Counts(const UnitOutcome& outcome) const {
    if (!m_options.m_bRepeat || outcome.m_bConnected || !outcome.m_bWaited)
        return true;
    // Only waited: no receiver came (the wait timed out or was cancelled).
    return outcome.m_strOutcome != event::outcome::kWaitTimedOut && outcome.m_strResult != event::result::kCancelled;
}

bool Station::GoesOn(std::size_t index, const UnitOutcome& outcome) const {
    const StationPort& port = m_ports[index];
    return m_options.m_bRepeat && m_nCancelSignal == 0 && !m_runs[index].m_bStopAsked && outcome.m_bWaited && outcome.m_strResult != event::result::kCancelled &&
           m_runs[index].m_strEndedBy.empty() && (m_options.m_nUnits == 0 || port.Units() < m_options.m_nUnits);
}

void Station::EndRun(std::size_t index, const ChildExit& exit) {
    PortRun& run = m_runs[index];
    TakeEvents(index);  // what it wrote before it ended
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - run.m_startedAt).count();
    UnitOutcome outcome = m_ports[index].EndUnit(exit, run.m_strEndedBy, seconds);
    run.m_child.reset();
    if (run.m_lines.Dropped() > 0) {
        outcome.m_bSuccess = false;
        outcome.m_strResult = event::result::kError;
        outcome.m_strOutcome = event::outcome::kEventLost;
        outcome.m_strMessage = "the download wrote an event line over " +
                               std::to_string(EventLineSplitter::kMaxLine >> 20) +
                               " MiB, which the station could not take: " + outcome.m_strMessage;
    }
    // A child that did not end as a run ends (killed, crashed) has not given
    // its port back.
    if (!outcome.m_bReported || exit.m_bSignalled)
        run.m_keeper.Restore();
    run.m_keeper.Release();
    if (!run.m_bEndCopied)
        WriteEnd(index, outcome, exit.m_nStatus, seconds);
    const bool counted = Counts(outcome);
    if (counted) {
        m_ports[index].Count(outcome);
        Record(index, outcome);
    }
    // A run that ended without its result has crashed or been killed:
    // the port needs the operator.
    run.m_bStopped = !(outcome.m_bReported && GoesOn(index, outcome));
    m_view.UnitEnded(index, outcome, counted, !run.m_bStopped);
    if (!run.m_bStopped)
        StartRun(index);
}

void Station::Record(std::size_t index, const UnitOutcome& outcome) {
    if (!m_bRecording)
        return;
    UnitRecordLine line{std::chrono::system_clock::now(), m_ports[index].Port(), m_runs[index].m_strUsbSerial, outcome};
    if (line.m_outcome.m_strScript.empty())
        line.m_outcome.m_strScript = m_options.m_strScript;
    std::string reason;
    if (m_record.Append(line, &reason))
        return;
    const int unit = m_ports[index].Units();
    m_losses.m_lines.push_back({m_ports[index].Port(), unit, outcome.m_strResult, reason});
    Trouble("the record %s has no line for unit %d of %s: %s",
                 StationDisplay::Escaped(m_options.m_strRecordFile).c_str(), unit,
                 StationDisplay::Escaped(m_ports[index].Port()).c_str(), reason.c_str());
}

// The "end" event of a run that wrote none of its own (it was killed or
// crashed, or the station ended it), marked as the station's.
void Station::WriteEnd(std::size_t index, const UnitOutcome& outcome, int exitStatus, double seconds) {
    const RunEndReport end{exitStatus, outcome.m_strResult, outcome.m_strOutcome, outcome.m_strMessage};
    WriteEventLine(EndEventLine(m_ports[index].Port(), seconds, end, outcome.m_nBytes, "station"));
}

// One line of the events stream, whole or not at all. After a line that
// could not be written nothing more is: a program reading the stream would
// take a gap for events that never happened.
void Station::WriteEventLine(const std::string& line) {
    if (m_events.Fd() < 0 || !m_losses.m_strEventsError.empty())
        return;
    if (AppendWholeLine(m_events.Fd(), line + "\n", &m_losses.m_strEventsError)) {
        ++m_losses.m_nEventLines;
        return;
    }
    Trouble("cannot write the events to %s: %s; no further events are written",
                 StationDisplay::Escaped(EventsName()).c_str(), m_losses.m_strEventsError.c_str());
}

std::string Station::EventsName() const {
    return m_options.m_strEventsFile == "-" ? "standard output" : m_options.m_strEventsFile;
}

// The events and the record, each opened and tried before any port starts;
// when either is refused, neither has been changed (a file made for it is
// removed again).
bool Station::OpenOutputs() {
    std::string reason;
    const std::string& events = m_options.m_strEventsFile;
    if (!events.empty() &&
        !(events == "-" ? m_events.Adopt(STDOUT_FILENO, &reason) : m_events.Open(events, false, &reason))) {
        Trouble("cannot write the events to %s: %s",
                     StationDisplay::Escaped(EventsName()).c_str(), reason.c_str());
        return false;
    }
    const std::string& record = m_options.m_strRecordFile;
    if (!record.empty() && !m_record.Open(record, &reason)) {
        Trouble("cannot write the record %s: %s",
                     StationDisplay::Escaped(record).c_str(), reason.c_str());
        m_events.Discard();
        return false;
    }
    m_bRecording = !record.empty();
    m_losses.m_strRecord = record;
    m_losses.m_strEvents = EventsName();
    // A new stream of events, now that the station starts.
    if (events != "-" && m_events.IsRegular() && !CutWholeLinesFile(m_events.Fd(), 0, &reason)) {
        Trouble("cannot empty the events file %s: %s", StationDisplay::Escaped(events).c_str(), reason.c_str());
        m_record.Discard();
        m_events.Discard();
        return false;
    }
    return true;
}

void Station::ForwardCancel(int signal) {
    if (m_nCancelSignal != 0)
        return;
    m_nCancelSignal = signal;
    m_view.Note("Cancelling every port...");
    const SteadyClock::time_point killAt = SteadyClock::now() + kCancelBound;
    for (PortRun& run : m_runs) {
        run.m_bStopped = true;
        if (run.m_child) {
            run.m_child->Cancel(signal);
            run.m_killAt = std::min(run.m_killAt, killAt);
        }
    }
}

// How long a run may go without an event before the station ends it: with
// --timeout, that plus a grace (the run's own limits end it first, unless it
// hangs or is stopped); without, no limit while it waits for a receiver's
// power-on (with --repeat that may take all day), kStallLimit after.
std::chrono::seconds Station::SilenceLimit(std::size_t index) const {
    if (m_options.m_nTimeoutSeconds > 0)
        return std::chrono::seconds(m_options.m_nTimeoutSeconds) + kSilenceGrace;
    return m_ports[index].PastWaiting() ? kStallLimit : std::chrono::seconds(0);
}

// When the station next acts on a run by itself: the SIGKILL that is due,
// or the end of the run's allowed silence; kNever when neither applies.
SteadyClock::time_point Station::Deadline(std::size_t index) const {
    const PortRun& run = m_runs[index];
    if (!run.m_child)
        return kNever;
    if (run.m_killAt != kNever || !run.m_strEndedBy.empty() || m_nCancelSignal != 0)
        return run.m_killAt;
    const std::chrono::seconds limit = SilenceLimit(index);
    return limit.count() > 0 ? run.m_heardAt + limit : kNever;
}

SteadyClock::time_point Station::NextDeadline() const {
    SteadyClock::time_point next = kNever;
    for (std::size_t i = 0; i < m_runs.size(); ++i)
        next = std::min(next, Deadline(i));
    return next;
}

// A silent run is asked to end (SIGTERM, and SIGCONT for a stopped one);
// one that has not ended kEndGrace later, or kCancelBound after the cancel,
// is killed.
void Station::EnforceDeadlines() {
    const SteadyClock::time_point now = SteadyClock::now();
    for (std::size_t i = 0; i < m_runs.size(); ++i) {
        PortRun& run = m_runs[i];
        if (now < Deadline(i))
            continue;
        if (run.m_killAt == kNever) {
            run.m_strEndedBy =
                "no event for " + std::to_string(SilenceLimit(i).count()) + " s: ended by the station";
            run.m_child->Cancel(SIGTERM);
            run.m_killAt = now + kEndGrace;
        } else {
            if (run.m_strEndedBy.empty())
                run.m_strEndedBy = "no end " + std::to_string(kCancelBound.count()) +
                                   " s after the cancel: killed by the station";
            run.m_child->Kill();
            run.m_killAt = kNever;
        }
        m_view.Note(m_ports[i].Port() + ": " + run.m_strEndedBy);
    }
}

std::vector<StationChild*> Station::Running() const {
    std::vector<StationChild*> running;
    for (const PortRun& run : m_runs)
        if (run.m_child)
            running.push_back(run.m_child.get());
    return running;
}

int Station::ExitStatus() const {
    if (m_nCancelSignal != 0)
        return m_nCancelSignal == SIGINT ? kExitCancelled : kExitSignalBase + m_nCancelSignal;
    for (const StationPort& port : m_ports)
        if (port.UnitsFailed() > 0 || port.UnitsOk() == 0)
            return kExitFailure;
    // Units without their proof in the record, or a stream of events that
    // stops short, are no success.
    return m_losses.m_lines.empty() && m_losses.m_strEventsError.empty() ? kExitSuccess : kExitFailure;
}

// Stops one port at the operator's word: its run is cancelled as Ctrl-C
// cancels it (killed kCancelBound later if it has not ended), and no
// further run starts there.
void Station::StopPort(std::size_t index) {
    if (index >= m_runs.size())
        return;
    PortRun& run = m_runs[index];
    run.m_bStopAsked = true;
    run.m_bStopped = true;
    if (run.m_child && run.m_killAt == kNever) {
        run.m_child->Cancel(SIGINT);
        run.m_killAt = SteadyClock::now() + kCancelBound;
    }
}

void Station::TakeRequests() {
    if (m_pControl == nullptr)
        return;
    const StationControl::Requests requests = m_pControl->Take();
    if (requests.m_bStopAll)
        ForwardCancel(SIGINT);
    for (std::size_t index : requests.m_ports)
        StopPort(index);
}

int Station::Run() {
    m_view.RunBegins(m_ports);
    const int status = RunPorts();
    m_view.RunEnded(status);
    return status;
}

int Station::RunPorts() {
    InterruptWatcher interrupts;
    interrupts.SetForcedExitHook([](int status) { StationChild::EndAllAtOnce(status - kExitSignalBase); });
    interrupts.SetRequestHook(&StationChild::WakeWaiter);
    interrupts.KeepIgnoredSignalsIgnored();
    // The signals are held from the program's start for the watcher: a
    // station it cannot take them for could not be cancelled; nor could one
    // whose operator's commands cannot wake it.
    if (!interrupts.Start()) {
        m_view.Trouble(std::string("the station cannot watch for Ctrl-C: ") + std::strerror(errno));
        return kExitUsage;
    }
    if (!OpenOutputs())
        return kExitUsage;
    // A signal or Stop all that came while the station was setting up
    // cancels before any port starts.
    if (const int signal = interrupts.TakeInterrupt())
        ForwardCancel(signal);
    TakeRequests();
    for (std::size_t i = 0; i < m_ports.size() && m_nCancelSignal == 0; ++i) {
        m_runs[i].m_strUsbSerial = UsbSerialNumber(m_ports[i].Port());
        if (!m_runs[i].m_bStopAsked)
            StartRun(i);
    }
    for (std::vector<StationChild*> running = Running(); !running.empty(); running = Running()) {
        StationChild::WaitForAny(running, NextDeadline());
        if (const int signal = interrupts.TakeInterrupt())
            ForwardCancel(signal);
        TakeRequests();
        EnforceDeadlines();
        for (std::size_t i = 0; i < m_runs.size(); ++i) {
            if (!m_runs[i].m_child)
                continue;
            TakeEvents(i);
            ChildExit exit;
            if (m_runs[i].m_child->TryReap(&exit))
                EndRun(i, exit);
        }
    }
    interrupts.Stop();
    m_view.Summary(m_losses);
    return ExitStatus();
}

// The terminal's view: the live table (or plain lines) on out, the
// station's troubles on err.
class TerminalView : public StationView {
public:
    TerminalView(std::FILE* out, std::FILE* err) : m_pOut(out), m_pErr(err) {}

    void RunBegins(const std::vector<StationPort>& ports) override {
        m_display.emplace(m_pOut, EnableLiveConsole(m_pOut), ports);
    }
    void RunStarted(std::size_t index) override { m_display->Update(index, false); }
    void PortChanged(std::size_t index, const StationEvent&, bool worthPlainLine) override {
        m_display->Update(index, worthPlainLine);
    }
    void UnitEnded(std::size_t index, const UnitOutcome& outcome, bool counted, bool) override {
        m_display->UnitEnded(index, outcome, counted);
    }
    void Note(const std::string& text) override { m_display->Note(text); }
    void Trouble(const std::string& text) override {
        std::fprintf(m_pErr, "receiver-downloader: %s\n", text.c_str());
    }
    void Summary(const StationLosses& losses) override { m_display->Summary(losses); }
    void RunEnded(int) override {}

private:
    std::FILE* m_pOut;
    std::FILE* m_pErr;
    std::optional<StationDisplay> m_display;
};

}  // namespace

int RunStation(const StationOptions& options, std::FILE* out, std::FILE* err) {
    TerminalView view(out, err);
    return RunStation(options, view, nullptr);
}

int RunStation(const StationOptions& options, StationView& view, StationControl* control) {
    Station station(options, view, control);
    return station.Run();
}
