// The program's command line.
//
//   receiver-downloader [--no-gui] [--port DEVICE | --com N] [--script FILE.cmd]
//                       [--timeout SECONDS] [--trace FILE] [--events FILE|-]
//   receiver-downloader [--no-gui] [--station [--start]] --script FILE.cmd --port DEVICE --port DEVICE ... |
//                       --ports-from FILE | --all-ports
//                       [--repeat [--units N]] [--record FILE.csv] [--timeout SECONDS]
//                       [--events FILE|-]
//   receiver-downloader --demo [--no-gui] [--trace FILE]
//   receiver-downloader --no-gui --port DEVICE --script FILE.cmd --events-handle N
//                       (a station's child run on Windows; not in --help)
//   receiver-downloader --check FILE.cmd
//   receiver-downloader --list-ports | --version | --help
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct CommandLine {
    bool m_bNoGui = false;        // --no-gui given
    bool m_bDemo = false;
    bool m_bListPorts = false;
    bool m_bVersion = false;
    std::string m_strDevice;      // the first --port DEVICE ("" when not given; an empty DEVICE is a usage error)
    std::vector<std::string> m_ports;  // every --port DEVICE, in order
    std::string m_strPortsFrom;   // --ports-from FILE ("" when not given)
    bool m_bAllPorts = false;     // --all-ports
    bool m_bStation = false;      // --station: a station, even of one port (or none yet, in its window)
    bool m_bStart = false;        // --start: the station's window starts at once
    bool m_bRepeat = false;       // --repeat
    int m_nUnits = 0;             // --units N: with --repeat, units per port (0: until a cancel)
    std::string m_strRecordFile;  // --record FILE ("" when not given)
    int m_nCom = 0;               // --com N, 1..4 (0 when not given)
    std::string m_strScript;      // --script FILE ("" when not given)
    int m_nTimeoutSeconds = 0;    // --timeout: limit of the connection wait and of the receiver's silence, 0 = none
    std::string m_strTraceFile;   // --trace FILE ("" when not given)
    std::string m_strEventsFile;  // --events FILE, "-" for stdout ("" when not given)
    unsigned long long m_nEventsHandle = 0;  // --events-handle N: a station's child run (0 when not given)
    std::string m_strCheckScript; // --check FILE ("" when not given)
};

// Parses argv. Returns true when the program should go on with *commandLine.
// Returns false with *exitStatus set when it is done: 0 after --help (the
// help text on stdout), 2 after a usage error (one line with the error,
// then a pointer to --help, on stderr).
bool ParseCommandLine(int argc, char** argv, CommandLine* commandLine, int* exitStatus);

// True when the command line asks for the station: --station, more than one
// port, or any of --ports-from, --all-ports, --repeat, --record.
bool WantsStation(const CommandLine& commandLine);

// True when the program should run in the terminal: --no-gui, --events or
// --events-handle was given, or no display is available ($DISPLAY and $WAYLAND_DISPLAY unset or
// empty; on Windows there always is one), or the program was built without
// the GUI (guiBuilt false). The one place where the run's front end is chosen.
bool WantsTerminal(const CommandLine& commandLine, bool guiBuilt);

// Where the operator's texts go: stdout, or stderr when stdout carries the
// events (--events -).
std::FILE* OperatorStream(const CommandLine& commandLine);

// The line --version prints: the program's name and its version ("Receiver
// Downloader 1.2.0"), the version as the build gives it.
std::string VersionText();

struct PortSettings;

// The Port Setup dialog's initial settings for this command line: the
// defaults, with --com N selecting COM N and --port DEVICE as the device.
PortSettings PortSettingsFor(const CommandLine& commandLine);
