#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>

#include <CLI/CLI.hpp>

#include "link/port_setup.h"
#include "res/strings.h"
#include "ui/run_outcome.h"

namespace {

[[maybe_unused]] bool EnvironmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// A check that refuses an empty value: "the <what> must not be empty".
std::function<std::string(const std::string&)> RefuseEmpty(const std::string& what) {
    return [what](const std::string& value) {
        return value.empty() ? "the " + what + " must not be empty" : std::string();
    };
}

// The help's words for what differs between the systems: Windows has COM
// ports, a console's Ctrl-C and Ctrl-Break, and one program for the GUI and
// the console.
#ifdef _WIN32
constexpr char kDemoHelp[] = "Run a whole download against a simulated receiver inside the program";
constexpr char kPortHelp[] = "Serial port to open, e.g. COM7 (also com7, COM7: or \\\\.\\COM7;\n"
                             "default: COM1). Given more than once: a station, one download per\n"
                             "port at the same time";
constexpr char kComHelp[] = "COM port 1..4 (COM1..COM4)";
constexpr char kNoGuiHelp[] = "Run in the console window instead of the GUI (the default with --events);\n"
                              "this one program holds both.";
constexpr char kTimeoutHelp[] = "Terminal mode: give up when the receiver has not connected within SECONDS, or\n"
                                "has sent nothing for SECONDS during the upload (exit 1). 0, the default: no\n"
                                "limit, wait until Ctrl-C or Ctrl-Break";
constexpr char kCancelStatusHelp[] = "  130    cancelled: Ctrl-C, Ctrl-Break or Cancel\n"
                                     "  129    the console window was closed\n";
constexpr char kSeeAlso[] = "See README.md beside the program.\n";
#else
constexpr char kDemoHelp[] = "Run a whole download against a simulated receiver on a pseudo-terminal";
constexpr char kPortHelp[] = "Serial device to open, e.g. /dev/ttyUSB0 or /dev/serial/by-id/... \n"
                             "(default: COM1, /dev/ttyS0). Given more than once: a station, one\n"
                             "download per port at the same time";
constexpr char kComHelp[] = "COM port 1..4 (/dev/ttyS0../dev/ttyS3)";
constexpr char kNoGuiHelp[] = "Run in the terminal (the default when no display is available). With a display, the\n"
                              "GUI program receiver-downloader-gui, installed beside this one, is started with the\n"
                              "same arguments; when it is missing, a note says so and the terminal is used.";
constexpr char kTimeoutHelp[] = "Terminal mode: give up when the receiver has not connected within SECONDS, or\n"
                                "has sent nothing for SECONDS during the upload (exit 1). 0, the default: no\n"
                                "limit, wait until Ctrl-C";
constexpr char kCancelStatusHelp[] = "  128+N  cancelled by signal N: 130 Ctrl-C or Cancel, 143 SIGTERM, 129 SIGHUP\n";
constexpr char kSeeAlso[] = "See receiver-downloader(1).\n";
#endif

}  // namespace

std::string VersionText() { return std::string(kApplicationName) + " " RD_VERSION; }

bool ParseCommandLine(int argc, char** argv, CommandLine* commandLine, int* exitStatus) {
    CommandLine parsed;
    CLI::App app{"receiver-downloader loads new code into a receiver over an RS-232 serial line: it waits\n"
                 "for the receiver to power up, then carries out a command script (.cmd) and sends the\n"
                 "data files the script names.",
                 "receiver-downloader"};
    app.get_formatter()->column_width(28);
    const std::string load = "What to load";
    const std::string where = "Where: the serial port and the front end";
    const std::string diagnose = "Diagnostics";
    app.add_option("--script", parsed.m_strScript, "Command script to carry out (terminal mode)")
        ->type_name("FILE.cmd")
        ->group(load);
    app.add_option("--check", parsed.m_strCheckScript,
                   "Open no port: list what FILE.cmd would send (each command, each data file with\n"
                   "its path, size, chunks and time at 38400 baud, a total), every fault and every\n"
                   "warning; exit 0 when the script is sound (neither), 1 otherwise")
        ->type_name("FILE.cmd")
        ->group(load);
    app.add_flag("--demo", parsed.m_bDemo, kDemoHelp)
        ->group(load);
    auto* port = app.add_option("--port", parsed.m_ports, kPortHelp)
                     ->check(RefuseEmpty("device"))
                     ->type_name("DEVICE")
                     ->allow_extra_args(false)
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                     ->group(where);
    auto* com = app.add_option("--com", parsed.m_nCom, kComHelp)
                    ->check(CLI::Range(1, 4))
                    ->type_name("N")
                    ->group(where);
    port->excludes(com);
    app.add_flag("--list-ports", parsed.m_bListPorts, "List the serial devices present and exit")->group(where);
    const std::string station = "Station: many receivers at once, unit after unit";
    app.add_flag("--station", parsed.m_bStation,
                 "Run a station, even of one port: with a display (and without --no-gui) in a\n"
                 "window that chooses the script, ports, record and units, then shows one tile\n"
                 "per port; in the terminal otherwise")
        ->group(station);
    app.add_flag("--start", parsed.m_bStart,
                 "The station's window starts at once with the options given, without waiting\n"
                 "for its Start button")
        ->group(station);
    auto* portsFrom = app.add_option("--ports-from", parsed.m_strPortsFrom,
                                     "Run on every port named in FILE, one per line (# starts a comment);\n"
                                     "with --port, on those too")
                          ->check(RefuseEmpty("file"))
                          ->type_name("FILE")
                          ->group(station);
    auto* allPorts = app.add_flag("--all-ports", parsed.m_bAllPorts,
                                  "Run on every port --list-ports shows (a by-id link only when the\n"
                                  "device it points at is not listed itself)")
                         ->group(station);
    auto* repeat = app.add_flag("--repeat", parsed.m_bRepeat,
                                "After each unit, wait on the same port for the next one (its power-on)\n"
                                "and load it; until Ctrl-C or --units")
                       ->group(station);
    app.add_option("--units", parsed.m_nUnits, "With --repeat: stop each port after N units")
        ->check(CLI::Range(1, 1000000))
        ->type_name("N")
        ->needs(repeat)
        ->group(station);
    app.add_option("--record", parsed.m_strRecordFile,
                   "Append one CSV line per unit to FILE: time, port, USB serial number,\n"
                   "script, data files with SHA-256, bytes, result, message, seconds")
        ->check(RefuseEmpty("file"))
        ->type_name("FILE")
        ->group(station);
    allPorts->excludes(port)->excludes(portsFrom)->excludes(com);
    portsFrom->excludes(com);
    app.add_flag("--no-gui", parsed.m_bNoGui, kNoGuiHelp)
        ->group(where);
    app.add_option("--timeout", parsed.m_nTimeoutSeconds, kTimeoutHelp)
        ->check(CLI::Range(0, 24 * 3600))
        ->type_name("SECONDS")
        ->group(where);
    app.add_option("--trace", parsed.m_strTraceFile,
                   "Write every frame sent and received, with a timestamp, to FILE")
        ->type_name("FILE")
        ->group(diagnose);
    app.add_option("--events", parsed.m_strEventsFile,
                   "Write each step of the run as one JSON object per line to FILE (- for\n"
                   "stdout; the operator texts then go to stderr): started, port opened,\n"
                   "waiting, connected, each command, progress, each data file sent, and\n"
                   "the end with its result and exit status. Runs in the terminal.")
        ->check(RefuseEmpty("file"))
        ->type_name("FILE")
        ->group(diagnose);
    // A station's child run: the events into the pipe the station reads
    // (an inherited handle on Windows, a descriptor elsewhere). Not for
    // operators, so not in the help.
    app.add_option("--events-handle", parsed.m_nEventsHandle)
        ->check(CLI::Range(1ULL, ~0ULL))
        ->excludes("--events")
        ->group("");
    app.add_flag("--version", parsed.m_bVersion, "Print the version and exit")->group(diagnose);
    app.set_help_flag("-h,--help", "Print this help and exit")->group(diagnose);
    app.footer(std::string("Exit status:\n"
                           "  0      the download completed (--check: the script is sound; a station:\n"
                           "         every unit on every port)\n"
                           "  1      an error message, a time-out, an events line that could not be\n"
                           "         written, or a script with faults or warnings (a station: a unit\n"
                           "         failed on a port, a port loaded none, or a record line could not\n"
                           "         be written; the summary says why)\n"
                           "  2      usage error (a station: also a record or events file that takes\n"
                           "         no line)\n") +
               kCancelStatusHelp + "\n" + kSeeAlso);

    try {
        app.parse(argc, argv);
        // Events are a run's: these options end before any run.
        if ((!parsed.m_strEventsFile.empty() || parsed.m_nEventsHandle != 0) &&
            (parsed.m_bVersion || parsed.m_bListPorts || !parsed.m_strCheckScript.empty()))
            throw CLI::ExcludesError("--events", "--check, --list-ports and --version");
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        *exitStatus = kExitSuccess;
        return false;
    } catch (const CLI::ParseError& error) {
        // The error alone: the whole help would push it off the screen.
        std::cerr << "receiver-downloader: " << error.what() << "\n(see --help)\n";
        *exitStatus = kExitUsage;
        return false;
    }
    if (!parsed.m_ports.empty())
        parsed.m_strDevice = parsed.m_ports.front();
    *commandLine = parsed;
    return true;
}

bool WantsStation(const CommandLine& commandLine) {
    return commandLine.m_bStation || commandLine.m_ports.size() > 1 || !commandLine.m_strPortsFrom.empty() ||
           commandLine.m_bAllPorts || commandLine.m_bRepeat || !commandLine.m_strRecordFile.empty();
}

bool WantsTerminal(const CommandLine& commandLine, bool guiBuilt) {
    if (commandLine.m_bNoGui || !guiBuilt || !commandLine.m_strEventsFile.empty() || commandLine.m_nEventsHandle != 0)
        return true;
#ifdef _WIN32
    // Windows always has its desktop.
    return false;
#else
    return !EnvironmentSet("DISPLAY") && !EnvironmentSet("WAYLAND_DISPLAY");
#endif
}

std::FILE* OperatorStream(const CommandLine& commandLine) {
    return commandLine.m_strEventsFile == "-" ? stderr : stdout;
}

PortSettings PortSettingsFor(const CommandLine& commandLine) {
    PortSettings settings;
    if (commandLine.m_nCom >= 1 && commandLine.m_nCom <= 4)
        settings.m_nComPort = commandLine.m_nCom - 1;
    settings.m_strDevice = commandLine.m_strDevice;
    return settings;
}
