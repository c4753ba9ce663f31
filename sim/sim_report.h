// What the simulated receiver saw of the tool: its record of one run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One data file as the tool sent it.
struct SimFile {
    std::vector<std::uint8_t> data;
    bool complete = false;
    std::string problem;             // why it is not complete ("" if it is)
    std::string Sha256Hex() const;   // lower-case hex of SHA-256(data)
};

struct SimReport {
    bool handshakeDone = false;      // FAST answered, OK answered, switched to 38400
    unsigned handshakes = 0;         // handshakes completed (one per power-on at most)
    std::vector<std::string> commands;   // "E<6 bytes as text>", "Q", "X" in order received
    std::vector<SimFile> files;      // each data file rebuilt from its header and chunk frames
    std::vector<std::string> errors; // protocol violations seen
    unsigned framesSent = 0, framesReceived = 0;
    unsigned errorsSent = 0;         // "ERROR" frames sent
    bool hungUp = false;             // the line has been closed
    std::string Summary() const;     // commands, file sizes, SHA-256, errors
};
