// receiver-downloader: loads code into a receiver over a serial line.
//
// Built twice: receiver-downloader, the terminal program, which links no GUI
// library and hands a run that wants the GUI over to receiver-downloader-gui
// (RD_GUI_HANDOVER); and receiver-downloader-gui itself (RD_WITH_GUI), which
// runs the GUI when a display is available and the terminal otherwise or with
// --no-gui. See
// ui/term/command_line.h for the options and ui/run_outcome.h for the exit
// status.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/port_setup.h"
#include "platform/serial_port.h"
#include "ui/gui_entry.h"
#include "ui/run_outcome.h"
#include "ui/term/command_line.h"
#include "ui/term/demo.h"
#include "ui/term/frame_trace_file.h"
#include "ui/term/gui_handover.h"
#include "ui/term/port_list.h"
#include "ui/term/script_precheck.h"
#include "ui/term/terminal_app.h"
#include "upload/script_check.h"

namespace {

#ifdef RD_WITH_GUI
constexpr bool kGuiBuilt = true;
#else
constexpr bool kGuiBuilt = false;
#endif

int RunFrontEnd(const CommandLine& commandLine, const PortSettings& settings, const std::string& script,
                const std::string& scriptFolder, bool demo, int argc, char** argv) {
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
    return RunTerminal(settings, options);
}

// The files --trace must not be written into: the port and, when a script
// was given, the script and its data files.
std::vector<TraceGuardedFile> TraceGuardedFiles(const CommandLine& commandLine) {
    const std::string device = ResolvePortName(PortNameFor(PortSettingsFor(commandLine)));
    std::vector<TraceGuardedFile> guarded{{"the serial port", device}};
    if (!commandLine.m_strScript.empty()) {
        guarded.push_back({"the script", commandLine.m_strScript});
        for (const ScriptDataFile& file : CheckScript(commandLine.m_strScript).m_dataFiles)
            guarded.push_back({"a data file of the script", file.m_strPath});
    }
    return guarded;
}

int RunDemo(const CommandLine& commandLine, int argc, char** argv) {
    std::string reason;
    std::unique_ptr<DemoSession> demo = DemoSession::Create(&reason);
    if (!demo) {
        std::fprintf(stderr, "receiver-downloader: the demo cannot start: %s\n", reason.c_str());
        return kExitFailure;
    }
    const bool terminal = WantsTerminal(commandLine, kGuiBuilt);
    std::printf("Demo: a simulated receiver is connected to %s.\n", demo->Device().c_str());
    std::printf("Demo: sample script %s\n", demo->ScriptPath().c_str());
    if (!terminal)
        std::printf("Demo: press Connect, then choose %s when asked for the script.\n",
                    std::filesystem::path(demo->ScriptPath()).filename().string().c_str());
    std::fflush(stdout);

    PortSettings settings = PortSettingsFor(commandLine);
    settings.m_strDevice = demo->Device();
    const int status =
        RunFrontEnd(commandLine, settings, demo->ScriptPath(), demo->Folder(), true, argc, argv);
    const bool received = demo->Finish(stdout);
    if (status == kExitSuccess && !received)
        return kExitFailure;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that went away (stdout into `head`, a trace FIFO) shows as a
    // failed write, which the output code tolerates: the download goes on.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Until a front end handles them, these signals still put the port back.
    RestorePortsOnFatalSignals();
    CommandLine commandLine;
    int status = 0;
    if (!ParseCommandLine(argc, argv, &commandLine, &status))
        return status;
    if (commandLine.m_bVersion) {
        std::printf("%s\n", VersionText().c_str());
        return kExitSuccess;
    }
    if (!commandLine.m_strCheckScript.empty())
        return ReportScriptCheck(commandLine.m_strCheckScript, stdout);
    if (commandLine.m_bListPorts) {
        std::fputs(FormatSerialDeviceList(ListSerialDevices()).c_str(), stdout);
        return kExitSuccess;
    }

#ifdef RD_GUI_HANDOVER
    if (!WantsTerminal(commandLine, true)) {
        std::string reason;
        HandOverToGui(argv, &reason);
        std::fprintf(stderr, "receiver-downloader: %s; running in the terminal\n", reason.c_str());
    }
#endif

    FrameTraceFile trace;
    if (!commandLine.m_strTraceFile.empty()) {
        const std::vector<TraceGuardedFile> guarded = TraceGuardedFiles(commandLine);
        if (const TraceGuardedFile* file = FrameTraceFile::FindGuardedFile(commandLine.m_strTraceFile, guarded)) {
            std::fprintf(stderr, "receiver-downloader: --trace %s names %s (%s); choose another file\n",
                         commandLine.m_strTraceFile.c_str(), file->m_strWhat.c_str(), file->m_strPath.c_str());
            return kExitUsage;
        }
        std::string reason;
        if (!trace.Open(commandLine.m_strTraceFile, &reason)) {
            std::fprintf(stderr, "receiver-downloader: cannot write the trace file %s: %s\n",
                         commandLine.m_strTraceFile.c_str(), reason.c_str());
            return kExitUsage;
        }
    }

    if (commandLine.m_bDemo)
        return RunDemo(commandLine, argc, argv);

    const bool terminal = WantsTerminal(commandLine, kGuiBuilt);
    if (terminal && commandLine.m_strScript.empty() && isatty(STDIN_FILENO) != 1) {
        std::fprintf(stderr,
                     "receiver-downloader: --script FILE.cmd is needed in terminal mode when input is "
                     "not a terminal\n(see --help)\n");
        return kExitUsage;
    }
    std::string scriptFolder;
    if (!commandLine.m_strScript.empty())
        scriptFolder = std::filesystem::absolute(commandLine.m_strScript).parent_path().string();
    return RunFrontEnd(commandLine, PortSettingsFor(commandLine), commandLine.m_strScript, scriptFolder, false,
                       argc, argv);
}
