// DemoSession: everything `receiver-downloader --demo` needs besides the
// front end: a simulated receiver inside the process, on a pseudo-terminal
// (or, on Windows, on a line inside the process named "DEMO") and, in a temporary folder, a sample script and the data file it names.
//
// The script: an 'E' command, a 'Q', the data file (about 20 KB of
// reproducible bytes) and an 'X'.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/receiver_sim.h"

class DemoSession {
public:
    // Writes the files and starts the simulated receiver. nullptr on
    // failure, with *reason set.
    static std::unique_ptr<DemoSession> Create(std::string* reason);
    // Stops the simulated receiver and removes the temporary folder.
    ~DemoSession();
    DemoSession(const DemoSession&) = delete;
    DemoSession& operator=(const DemoSession&) = delete;

    // The device the tool opens (the pseudo-terminal's tool side, or the
    // line's name).
    const std::string& Device() const;
    const std::string& Folder() const { return m_strFolder; }
    const std::string& ScriptPath() const { return m_strScriptPath; }

    // The commands the receiver should get, in order, and the data file.
    static std::vector<std::string> ExpectedCommands();
    static std::vector<unsigned char> DemoData();

    // Prints the receiver's record (commands, files, SHA-256) and a verdict
    // to out, after waiting briefly for it to take the last frame when the
    // run succeeded. True when the receiver got every command and the data
    // file whole and unchanged.
    bool Finish(std::FILE* out, bool runSucceeded);

private:
    DemoSession() = default;

    std::unique_ptr<ReceiverSim> m_pSim;
    std::string m_strFolder;
    std::string m_strScriptPath;
};
