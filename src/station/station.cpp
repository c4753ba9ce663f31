#include "station/station.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <atomic>
#include <memory>

#include "events/event_names.h"
#include "platform/exit_status.h"
#include "platform/interrupt_watcher.h"
#include "platform/port_list.h"
#include "station/station_child.h"
#include "station/station_display.h"
#include "station/station_port.h"
#include "station/unit_record.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// A port's run: its child and the part of an event line read so far.
struct PortRun {
    std::unique_ptr<StationChild> m_child;
    EventLineSplitter m_lines;
    bool m_bKilled = false;   // killed when it did not end after the cancel
    bool m_bStopped = false;  // no further run on this port
    std::string m_strUsbSerial;
};

class Station {
public:
    Station(const StationOptions& options, std::FILE* out, std::FILE* err)
        : m_options(options),
          m_pErr(err),
          m_ports(options.m_ports.begin(), options.m_ports.end()),
          m_runs(options.m_ports.size()),
          m_display(out, isatty(fileno(out)) == 1, m_ports),
          m_childIds(new std::atomic<int>[options.m_ports.size()]()) {}

    int Run();

private:
    void StartRun(std::size_t index);
    void TakeEvents(std::size_t index);
    void EndRun(std::size_t index, const ChildExit& exit);
    bool Counts(const UnitOutcome& outcome) const;
    bool GoesOn(std::size_t index, const UnitOutcome& outcome) const;
    void Record(std::size_t index, const UnitOutcome& outcome);
    void ForwardCancel(int signal);
    void KillTheRest();
    std::vector<StationChild*> Running() const;
    int ExitStatus() const;

    const StationOptions& m_options;
    std::FILE* m_pErr;
    std::vector<StationPort> m_ports;
    std::vector<PortRun> m_runs;
    StationDisplay m_display;
    UnitRecord m_record;
    bool m_bRecording = false;
    std::FILE* m_pEvents = nullptr;
    bool m_bOwnEvents = false;
    int m_nCancelSignal = 0;
    SteadyClock::time_point m_killAt = SteadyClock::time_point::max();
    // The running children's process ids (0: none), for the interrupt
    // watcher's thread when a second signal ends the station.
    std::unique_ptr<std::atomic<int>[]> m_childIds;
};

void Station::StartRun(std::size_t index) {
    PortRun& run = m_runs[index];
    std::vector<std::string> args = {"--no-gui", "--port", m_ports[index].Port(), "--script", m_options.m_strScript};
    if (m_options.m_nTimeoutSeconds > 0)
        args.insert(args.end(), {"--timeout", std::to_string(m_options.m_nTimeoutSeconds)});
    std::string reason;
    run.m_lines = EventLineSplitter{};
    run.m_bKilled = false;
    run.m_child = StationChild::Start(m_options.m_strProgram, args, &reason);
    m_childIds[index].store(run.m_child ? run.m_child->Id() : 0, std::memory_order_release);
    m_ports[index].BeginUnit();
    if (!run.m_child) {
        const UnitOutcome outcome = m_ports[index].FailToStart(reason);
        m_ports[index].Count(outcome);
        Record(index, outcome);
        run.m_bStopped = true;
        m_display.UnitEnded(index, outcome, true);
        return;
    }
    m_display.Update(index, false);
}

void Station::TakeEvents(std::size_t index) {
    PortRun& run = m_runs[index];
    std::string data;
    run.m_child->ReadEvents(&data);
    std::vector<std::string> lines;
    run.m_lines.Feed(data.data(), data.size(), &lines);
    for (const std::string& line : lines) {
        const auto event = ParseStationEvent(line);
        if (!event)
            continue;
        if (m_pEvents != nullptr) {
            std::fprintf(m_pEvents, "%s\n", line.c_str());
            std::fflush(m_pEvents);
        }
        m_display.Update(index, m_ports[index].Apply(*event));
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
    return m_options.m_bRepeat && m_nCancelSignal == 0 && outcome.m_bWaited && outcome.m_strResult != "cancelled" &&
           !m_runs[index].m_bKilled && (m_options.m_nUnits == 0 || port.Units() < m_options.m_nUnits);
}

void Station::EndRun(std::size_t index, const ChildExit& exit) {
    PortRun& run = m_runs[index];
    TakeEvents(index);  // what it wrote before it ended
    UnitOutcome outcome = m_ports[index].EndUnit(exit, run.m_bKilled);
    m_childIds[index].store(0, std::memory_order_release);
    run.m_child.reset();
    const bool counted = Counts(outcome);
    if (counted) {
        m_ports[index].Count(outcome);
        Record(index, outcome);
    }
    // A run that ended without its result has crashed or been killed:
    // the port needs the operator.
    run.m_bStopped = !(outcome.m_bReported && GoesOn(index, outcome));
    m_display.UnitEnded(index, outcome, counted);
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
    if (!m_record.Append(line, &reason))
        std::fprintf(m_pErr, "receiver-downloader: cannot write to the record %s: %s\n",
                     m_options.m_strRecordFile.c_str(), reason.c_str());
}

void Station::ForwardCancel(int signal) {
    if (m_nCancelSignal != 0)
        return;
    m_nCancelSignal = signal;
    m_display.Note("Cancelling every port...");
    for (PortRun& run : m_runs) {
        run.m_bStopped = true;
        if (run.m_child)
            run.m_child->Cancel(signal);
    }
    m_killAt = SteadyClock::now() + kCancelBound;
}

void Station::KillTheRest() {
    for (std::size_t i = 0; i < m_runs.size(); ++i) {
        if (!m_runs[i].m_child || m_runs[i].m_bKilled)
            continue;
        m_display.Note(m_ports[i].Port() + ": no end " + std::to_string(kCancelBound.count()) +
                       " s after the cancel: killed");
        m_runs[i].m_bKilled = true;
        m_runs[i].m_child->Kill();
    }
    m_killAt = SteadyClock::time_point::max();
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
    return kExitSuccess;
}

int Station::Run() {
    if (!m_options.m_strRecordFile.empty()) {
        std::string reason;
        if (!m_record.Open(m_options.m_strRecordFile, &reason)) {
            std::fprintf(m_pErr, "receiver-downloader: cannot write the record %s: %s\n",
                         m_options.m_strRecordFile.c_str(), reason.c_str());
            return kExitUsage;
        }
        m_bRecording = true;
    }
    if (m_options.m_strEventsFile == "-") {
        m_pEvents = stdout;
    } else if (!m_options.m_strEventsFile.empty()) {
        m_pEvents = std::fopen(m_options.m_strEventsFile.c_str(), "we");
        if (m_pEvents == nullptr) {
            std::fprintf(m_pErr, "receiver-downloader: cannot write the events to %s: %s\n",
                         m_options.m_strEventsFile.c_str(), std::strerror(errno));
            return kExitUsage;
        }
        m_bOwnEvents = true;
    }
    InterruptWatcher interrupts;
    interrupts.SetForcedExitHook([this](int status) {
        for (std::size_t i = 0; i < m_ports.size(); ++i)
            StationChild::SignalProcess(m_childIds[i].load(std::memory_order_acquire), status - kExitSignalBase);
    });
    interrupts.Start();
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        m_runs[i].m_strUsbSerial = UsbSerialNumber(m_ports[i].Port());
        StartRun(i);
    }
    for (std::vector<StationChild*> running = Running(); !running.empty(); running = Running()) {
        StationChild::WaitForAny(running, interrupts.WakeFd(), m_killAt);
        if (const int signal = interrupts.TakeInterrupt())
            ForwardCancel(signal);
        if (SteadyClock::now() >= m_killAt)
            KillTheRest();
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
    if (m_bOwnEvents)
        std::fclose(m_pEvents);
    m_display.Summary();
    return ExitStatus();
}

}  // namespace

int RunStation(const StationOptions& options, std::FILE* out, std::FILE* err) {
    Station station(options, out, err);
    return station.Run();
}
