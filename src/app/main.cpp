// receiver-downloader: loads code into a receiver over a serial line.
//
// Built twice: receiver-downloader, the terminal program, which links no GUI
// library and hands a run that wants the GUI over to receiver-downloader-gui
// (RD_GUI_HANDOVER); and receiver-downloader-gui itself (RD_WITH_GUI), which
// runs the GUI when a display is available and the terminal otherwise or with
// --no-gui. See
// app/command_line.h for the options and platform/exit_status.h for the exit
// status.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/port_setup.h"
#include "platform/serial_port.h"
#include "ui/gui_entry.h"
#include "ui/run_outcome.h"
#include "app/command_line.h"
#include "app/demo.h"
#include "app/frame_trace_file.h"
#include "app/gui_handover.h"
#include "app/output_guard.h"
#include "platform/inherited_stream.h"
#include "platform/interrupt_watcher.h"
#include "platform/port_list.h"
#include "events/event_names.h"
#include "platform/standard_descriptors.h"
#include "events/run_events.h"
#include "term/script_precheck.h"
#include "station/station.h"
#include "station/station_child.h"
#include "station/station_ports.h"
#ifdef RD_STATION_WINDOW
#include "station/wx/station_window.h"
#endif
#include "term/terminal_app.h"
#include "platform/utf8_path.h"

namespace {

#ifdef RD_WITH_GUI
constexpr bool kGuiBuilt = true;
#else
constexpr bool kGuiBuilt = false;
#endif

RunResult RunFrontEnd(const CommandLine& commandLine, const PortSettings& settings, const std::string& script,
                      const std::string& scriptFolder, bool demo, RunEvents* events, int argc, char** argv) {
#ifdef RD_WITH_GUI
    if (!WantsTerminal(commandLine, kGuiBuilt)) {
        GuiOptions options;
        options.m_settings = settings;
        options.m_strScriptFolder = scriptFolder;
        options.m_bDemo = demo;
        options.m_argc = argc;
        options.m_argv = argv;
        return RunGui(options);
    }
#else
    (void)scriptFolder;
    (void)demo;
    (void)argc;
    (void)argv;
#endif
    TerminalOptions options;
    options.m_strScript = script;
    options.m_bPromptForScript = isatty(STDIN_FILENO) == 1;
    options.m_nTimeoutSeconds = commandLine.m_nTimeoutSeconds;
    options.m_pEvents = events;
    options.m_pOperatorOut = OperatorStream(commandLine);
    return RunTerminal(settings, options);
}

// Every file the run writes ("-", standard output, names none).
std::vector<OutputFile> OutputsOf(const CommandLine& commandLine) {
    std::vector<OutputFile> outputs;
    const std::pair<const char*, const std::string*> options[] = {{"--trace", &commandLine.m_strTraceFile},
                                                                  {"--events", &commandLine.m_strEventsFile},
                                                                  {"--record", &commandLine.m_strRecordFile}};
    for (const auto& [option, path] : options)
        if (!path->empty() && *path != "-")
            outputs.push_back({option, {std::string("the ") + (option + 2) + " file", *path}});
    return outputs;
}

// Why the run must not write its outputs: one names a port, the ports
// file, the script, a data file or another output. "" when none does.
std::string OutputClash(const CommandLine& commandLine, const std::vector<std::string>& ports) {
    std::vector<NamedFile> inputs;
    for (const std::string& port : ports)
        inputs.push_back({"the serial port", ResolvePortName(port)});
    if (!commandLine.m_strPortsFrom.empty())
        inputs.push_back({"the ports file", commandLine.m_strPortsFrom});
    if (!commandLine.m_strScript.empty() && !commandLine.m_bDemo) {
        const std::vector<NamedFile> script = ScriptFiles(commandLine.m_strScript);
        inputs.insert(inputs.end(), script.begin(), script.end());
    }
    return FindOutputClash(OutputsOf(commandLine), inputs);
}

// The port --check estimates the time for: the one --port or --com names.
std::optional<CheckPort> CheckPortOf(const CommandLine& commandLine) {
    if (commandLine.m_strDevice.empty() && commandLine.m_nCom == 0)
        return std::nullopt;
    const std::string name = PortNameFor(PortSettingsFor(commandLine));
    return CheckPort{name, AdapterLatencyMs(name)};
}

// Tells the operator why the program stops before a run (on stderr) and
// ends the events with it. Returns status.
int Refuse(RunEvents* events, int status, const std::string& text) {
    std::fprintf(stderr, "receiver-downloader: %s\n", text.c_str());
    if (events)
        events->End({status, event::result::kError,
                     status == kExitUsage ? event::outcome::kUsage : event::outcome::kFailed, text});
    return status;
}

// The run's exit status, after its end event.
int Finish(RunEvents* events, const RunResult& result) {
    if (events)
        events->End(EndReportOf(result));
    return result.ExitStatus();
}

int RunDemo(const CommandLine& commandLine, RunEvents* events, int argc, char** argv) {
    std::string reason;
    std::unique_ptr<DemoSession> demo = DemoSession::Create(&reason);
    if (!demo)
        return Refuse(events, kExitFailure, "the demo cannot start: " + reason);
    std::FILE* out = OperatorStream(commandLine);
    const bool terminal = WantsTerminal(commandLine, kGuiBuilt);
    std::fprintf(out, "Demo: a simulated receiver is connected to %s.\n", demo->Device().c_str());
    std::fprintf(out, "Demo: sample script %s\n", demo->ScriptPath().c_str());
    if (!terminal)
        std::fprintf(out, "Demo: press Connect, then choose %s when asked for the script.\n",
                     Utf8FromPath(PathFromUtf8(demo->ScriptPath()).filename()).c_str());
    std::fflush(out);

    PortSettings settings = PortSettingsFor(commandLine);
    settings.m_strDevice = demo->Device();
    RunResult result =
        RunFrontEnd(commandLine, settings, demo->ScriptPath(), demo->Folder(), true, events, argc, argv);
    const bool received = demo->Finish(out, result.ExitStatus() == kExitSuccess);
    if (result.ExitStatus() == kExitSuccess && !received)
        result = {RunEnd::Failed, {0, "The simulated receiver did not get what the script sends."}};
    return Finish(events, result);
}

int UsageError(const std::string& text) { return Refuse(nullptr, kExitUsage, text + "\n(see --help)"); }

// The program each port's run is: this one; in the GUI program the terminal
// program installed beside it, which loads no GUI library.
std::string StationProgram(const char* argv0) {
    const std::string self = StationChild::OwnProgramPath(argv0);
#if defined(RD_WITH_GUI) && !defined(_WIN32)
    const std::filesystem::path beside = std::filesystem::path(self).parent_path() / kTerminalProgramName;
    std::error_code error;
    if (std::filesystem::is_regular_file(beside, error))
        return beside.string();
#endif
    return self;
}

// Many ports at once, unit after unit: in the station's window where the
// GUI is wanted, in the terminal otherwise. The window may be given no port
// and no script: it asks for them.
int RunStationMode(const CommandLine& commandLine, char** argv) {
#ifdef RD_GUI_HANDOVER
    if (!WantsTerminal(commandLine, true)) {
        std::string reason;
        HandOverToGui(argv, &reason);
        std::fprintf(stderr, "receiver-downloader: %s; running the station in the terminal\n", reason.c_str());
    }
#endif
#ifdef RD_STATION_WINDOW
    const bool window = !WantsTerminal(commandLine, kGuiBuilt);
#else
    const bool window = false;
#endif
    StationOptions options;
    options.m_ports = commandLine.m_ports;
    std::string reason;
    if (!commandLine.m_strPortsFrom.empty() && !ReadPortsFile(commandLine.m_strPortsFrom, &options.m_ports, &reason))
        return UsageError("--ports-from: " + reason);
    if (commandLine.m_bAllPorts)
        options.m_ports = PortsOfListing(ListSerialDevices());
    if (options.m_ports.empty() && !window)
        return UsageError(commandLine.m_bAllPorts ? "--all-ports: no serial devices found"
                                                  : "a station needs at least one --port or --ports-from");
    if (const std::string repeated = FindRepeatedPort(options.m_ports); !repeated.empty())
        return UsageError(repeated + " is given twice (two downloads cannot share a port)");
    if (commandLine.m_strScript.empty() && !window)
        return UsageError("a station needs --script FILE.cmd");
    if (commandLine.m_bDemo || !commandLine.m_strTraceFile.empty())
        return UsageError(std::string(commandLine.m_bDemo ? "--demo" : "--trace") + " runs on one port only");
    if (const std::string clash = OutputClash(commandLine, options.m_ports); !clash.empty())
        return Refuse(nullptr, kExitUsage, clash);
    if (!commandLine.m_strScript.empty())
        options.m_strScript = AbsoluteUtf8Path(commandLine.m_strScript);
    options.m_nTimeoutSeconds = commandLine.m_nTimeoutSeconds;
    options.m_bRepeat = commandLine.m_bRepeat;
    options.m_nUnits = commandLine.m_nUnits;
    options.m_strRecordFile = commandLine.m_strRecordFile;
    options.m_strEventsFile = commandLine.m_strEventsFile;
    options.m_strProgram = StationProgram(argv[0]);
#ifdef RD_STATION_WINDOW
    if (window) {
        StationWindowOptions windowOptions;
        windowOptions.m_station = options;
        windowOptions.m_bStartAtOnce = commandLine.m_bStart;
        windowOptions.m_strProgramName = argv[0];
        // The window's choices go through the same guard as the command line's.
        windowOptions.m_checkOutputs = [commandLine](const StationOptions& chosen) {
            CommandLine asChosen = commandLine;
            asChosen.m_strScript = chosen.m_strScript;
            asChosen.m_strRecordFile = chosen.m_strRecordFile;
            return OutputClash(asChosen, chosen.m_ports);
        };
        return RunStationWindow(windowOptions);
    }
#endif
    return RunStation(options, OperatorStream(commandLine), stderr);
}

// Everything after the options have been read and the events opened.
int RunCommandLine(const CommandLine& commandLine, RunEvents* events, int argc, char** argv) {
#ifdef RD_GUI_HANDOVER
    if (!WantsTerminal(commandLine, true)) {
        std::string reason;
        HandOverToGui(argv, &reason);
        std::fprintf(stderr, "receiver-downloader: %s; running in the terminal\n", reason.c_str());
    }
#endif

    FrameTraceFile trace;
    if (!commandLine.m_strTraceFile.empty()) {
        std::string reason;
        if (!trace.Open(commandLine.m_strTraceFile, &reason))
            return Refuse(events, kExitUsage,
                          "cannot write the trace file " + commandLine.m_strTraceFile + ": " + reason);
    }

    if (commandLine.m_bDemo)
        return RunDemo(commandLine, events, argc, argv);

    const bool terminal = WantsTerminal(commandLine, kGuiBuilt);
    if (terminal && commandLine.m_strScript.empty() && isatty(STDIN_FILENO) != 1)
        return Refuse(events, kExitUsage,
                      "--script FILE.cmd is needed in terminal mode when input is not a terminal\n(see --help)");
    std::string scriptFolder;
    if (!commandLine.m_strScript.empty())
        scriptFolder = Utf8FromPath(PathFromUtf8(AbsoluteUtf8Path(commandLine.m_strScript)).parent_path());
    return Finish(events, RunFrontEnd(commandLine, PortSettingsFor(commandLine), commandLine.m_strScript,
                                      scriptFolder, false, events, argc, argv));
}

}  // namespace

int main(int argc, char** argv) {
    OpenStandardDescriptors();
    // From here Ctrl-C, SIGTERM and SIGHUP wait for the station's interrupt
    // watcher, which takes one that came while the station was setting up
    // as its cancel; every other mode lets them through again once the
    // command line has been read, and they take their effect then.
    std::optional<WatchedSignalsBlocked> held(std::in_place);
    // A reader that went away (stdout into `head`, a trace FIFO) shows as a
    // failed write, which the output code tolerates: the download goes on.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // A file size limit (ulimit -f) reached by an output file shows as a
    // failed write, which is reported, instead of killing the program.
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // Until a front end handles them, these signals still put the port back.
    RestorePortsOnFatalSignals();
    CommandLine commandLine;
    int status = 0;
    if (!ParseCommandLine(argc, argv, &commandLine, &status))
        return status;
    if (!WantsStation(commandLine))
        held.reset();
    if (commandLine.m_bVersion) {
        std::printf("%s\n", VersionText().c_str());
        return kExitSuccess;
    }
    if (!commandLine.m_strCheckScript.empty())
        return ReportScriptCheck(commandLine.m_strCheckScript, stdout, CheckPortOf(commandLine));
    if (commandLine.m_bListPorts) {
        std::fputs(FormatSerialDeviceList(ListSerialDevices()).c_str(), stdout);
        return kExitSuccess;
    }

    if (WantsStation(commandLine))
        return RunStationMode(commandLine, argv);

    // The demo's port and script are its own, made when it starts.
    const std::vector<std::string> port = {commandLine.m_bDemo ? "" : PortNameFor(PortSettingsFor(commandLine))};
    if (const std::string clash = OutputClash(commandLine, port); !clash.empty())
        return Refuse(nullptr, kExitUsage, clash);
    std::unique_ptr<RunEvents> events;
    if (!commandLine.m_strEventsFile.empty()) {
        std::string reason;
        events = RunEvents::Open(commandLine.m_strEventsFile, &reason);
        if (!events)
            return Refuse(nullptr, kExitUsage,
                          "cannot write the events file " + commandLine.m_strEventsFile + ": " + reason);
    } else if (commandLine.m_nEventsHandle != 0) {
        // A station's child run.
        std::string reason;
        std::FILE* stream = OpenInheritedStream(commandLine.m_nEventsHandle, &reason);
        if (stream == nullptr)
            return Refuse(nullptr, kExitUsage, "--events-handle: " + reason);
        events = std::make_unique<RunEvents>(stream);
    }
    if (events)
        events->SetPort(PortNameFor(PortSettingsFor(commandLine)));
#ifdef _WIN32
    // A station's child run gets its station's signals over its standard
    // input.
    if (commandLine.m_nEventsHandle != 0 && !WatchStationLifeline())
        return Refuse(events.get(), kExitUsage, "cannot watch the station's lifeline");
#endif
    status = RunCommandLine(commandLine, events.get(), argc, argv);
    if (events && !events->WriteError().empty()) {
        // A program reading the events cannot know how the run ended.
        std::fprintf(stderr, "receiver-downloader: cannot write the events to %s: %s\n",
                     commandLine.m_strEventsFile.c_str(), events->WriteError().c_str());
        if (status == kExitSuccess)
            status = kExitFailure;
    }
    return status;
}
