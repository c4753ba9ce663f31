// What the simulated receiver saw of the tool: its record of one run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sha256.h"

// One data file as the tool sent it. Its bytes are hashed as they arrive;
// the bytes themselves are kept only when SimOptions::keepFileData asks for
// them, so that a long upload costs the simulator no memory.
struct SimFile {
    std::uint64_t size = 0;          // bytes received (header and chunks)
    std::string sha256;              // lower-case hex SHA-256 of those bytes
    std::vector<std::uint8_t> data;  // the bytes, with keepFileData only (else empty)
    bool complete = false;
    std::string problem;             // why it is not complete ("" if it is)
    unsigned chunks = 0;             // chunk frames after the header
    double seconds = 0;              // from the header's arrival to the last chunk's
};

// A unit done in next-unit mode: what the tool sent it.
struct SimUnit {
    unsigned handshakes = 0;
    std::vector<std::string> commands;
    std::vector<SimFile> files;
    std::vector<std::string> errors;
};

// In next-unit mode the fields up to hungUp are those of the unit being
// served now; each unit done is kept in units.
struct SimReport {
    bool handshakeDone = false;      // FAST answered, OK answered, switched to 38400
    unsigned handshakes = 0;         // handshakes completed (one per power-on at most)
    std::vector<std::string> commands;   // "E<6 bytes as text>", "Q", "X" in order received
    std::vector<SimFile> files;      // each data file rebuilt from its header and chunk frames
    std::vector<std::string> errors; // protocol violations seen
    unsigned framesSent = 0, framesReceived = 0;
    unsigned errorsSent = 0;         // "ERROR" frames sent
    bool hungUp = false;             // the line has been closed
    std::vector<SimUnit> units;      // next-unit mode: the units done so far, in order
    std::string Summary() const;     // commands, file sizes, SHA-256, transfer rates, errors
    std::string UnitsSummary() const;  // a line for each unit done
};
