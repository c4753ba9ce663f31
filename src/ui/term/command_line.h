// The program's command line.
//
//   receiver-downloader [--no-gui] [--port DEVICE | --com N] [--script FILE.cmd]
//                       [--timeout SECONDS] [--trace FILE]
//   receiver-downloader --demo [--no-gui] [--trace FILE]
//   receiver-downloader --check FILE.cmd
//   receiver-downloader --list-ports | --version | --help
#pragma once

#include <string>

struct CommandLine {
    bool m_bNoGui = false;        // --no-gui given
    bool m_bDemo = false;
    bool m_bListPorts = false;
    bool m_bVersion = false;
    std::string m_strDevice;      // --port DEVICE ("" when not given; an empty DEVICE is a usage error)
    int m_nCom = 0;               // --com N, 1..4 (0 when not given)
    std::string m_strScript;      // --script FILE ("" when not given)
    int m_nTimeoutSeconds = 0;    // --timeout: limit of the connection wait and of the receiver's silence, 0 = none
    std::string m_strTraceFile;   // --trace FILE ("" when not given)
    std::string m_strCheckScript; // --check FILE ("" when not given)
};

// Parses argv. Returns true when the program should go on with *commandLine.
// Returns false with *exitStatus set when it is done: 0 after --help (the
// help text on stdout), 2 after a usage error (the error and the help text
// on stderr).
bool ParseCommandLine(int argc, char** argv, CommandLine* commandLine, int* exitStatus);

// True when the program should run in the terminal: --no-gui was given, or
// no display is available ($DISPLAY and $WAYLAND_DISPLAY unset or empty;
// on Windows there always is one), or the program was built without the GUI
// (guiBuilt false). The one place where the run's front end is chosen.
bool WantsTerminal(const CommandLine& commandLine, bool guiBuilt);

// "Receiver Downloader  Version 1.1" style line for --version.
std::string VersionText();

struct PortSettings;

// The Port Setup dialog's initial settings for this command line: the
// defaults, with --com N selecting COM N and --port DEVICE as the device.
PortSettings PortSettingsFor(const CommandLine& commandLine);
