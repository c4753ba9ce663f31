#include "ui/term/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "link/port_setup.h"
#include "res/strings.h"
#include "ui/run_outcome.h"

namespace {

bool EnvironmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

std::string VersionText() { return std::string(kApplicationName) + " 1.1"; }

bool ParseCommandLine(int argc, char** argv, CommandLine* commandLine, int* exitStatus) {
    CommandLine parsed;
    CLI::App app{"Loads code into a receiver over a serial line: waits for the receiver to come up,\n"
                 "then carries out a command script (.cmd) and sends the data files it names.",
                 "receiver-downloader"};
    app.add_flag("--no-gui", parsed.m_bNoGui,
                 "Run in the terminal (the default when no display is available). With a display, the\n"
                 "GUI program receiver-downloader-gui, installed beside this one, is started with the\n"
                 "same arguments; when it is missing, a note says so and the terminal is used.");
    auto* port = app.add_option("--port", parsed.m_strDevice,
                                "Serial device to open, e.g. /dev/ttyUSB0 (default: COM1, /dev/ttyS0)")
                     ->check([](const std::string& device) {
                         return device.empty() ? std::string("the device must not be empty") : std::string();
                     })
                     ->type_name("DEVICE");
    auto* com = app.add_option("--com", parsed.m_nCom, "COM port 1..4 (/dev/ttyS0../dev/ttyS3)")
                    ->check(CLI::Range(1, 4))
                    ->type_name("N");
    port->excludes(com);
    app.add_option("--script", parsed.m_strScript, "Command script to carry out (terminal mode)")
        ->type_name("FILE.cmd");
    app.add_option("--timeout", parsed.m_nTimeoutSeconds,
                   "Terminal mode: give up when the receiver has not connected within SECONDS, or\n"
                   "has sent nothing for SECONDS during the upload (exit 1). 0, the default: no\n"
                   "limit, wait until Ctrl-C")
        ->check(CLI::Range(0, 24 * 3600))
        ->type_name("SECONDS");
    app.add_option("--trace", parsed.m_strTraceFile,
                   "Write every frame sent and received, with a timestamp, to FILE")
        ->type_name("FILE");
    app.add_flag("--list-ports", parsed.m_bListPorts, "List the serial devices present and exit");
    app.add_flag("--demo", parsed.m_bDemo,
                 "Run a whole download against a simulated receiver on a pseudo-terminal");
    app.add_flag("--version", parsed.m_bVersion, "Print the version and exit");
    app.footer("Exit status: 0 download completed, 1 error, 2 usage error, 128+N cancelled by signal N\n"
               "(130 Ctrl-C or Cancel, 143 SIGTERM, 129 SIGHUP).\n");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        *exitStatus = kExitSuccess;
        return false;
    } catch (const CLI::ParseError& error) {
        std::cerr << "receiver-downloader: " << error.what() << "\n\n" << app.help();
        *exitStatus = kExitUsage;
        return false;
    }
    *commandLine = parsed;
    return true;
}

bool WantsTerminal(const CommandLine& commandLine, bool guiBuilt) {
    if (commandLine.m_bNoGui || !guiBuilt)
        return true;
    return !EnvironmentSet("DISPLAY") && !EnvironmentSet("WAYLAND_DISPLAY");
}

PortSettings PortSettingsFor(const CommandLine& commandLine) {
    PortSettings settings;
    if (commandLine.m_nCom >= 1 && commandLine.m_nCom <= 4)
        settings.m_nComPort = commandLine.m_nCom - 1;
    settings.m_strDevice = commandLine.m_strDevice;
    return settings;
}
