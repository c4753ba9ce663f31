// The simulated receiver's behaviour and the faults it injects.
#pragma once

#include <functional>
#include <string>

struct SimOptions {
    // Frames are counted from 1 in the order the simulator sends them.
    unsigned strayEvery = 0;        // every Nth frame is preceded by stray bytes (0 = never)
    bool nulBytes = false;          // sprinkle 0x00 bytes on the line (the tool's port discards them)
    unsigned badChecksumEvery = 0;  // every Nth frame carries a wrong checksum (0 = never)
    unsigned errorAfter = 0;        // send "ERROR" as frame N (0 = never)
    bool silent = false;            // never send anything
    unsigned hangupAfter = 0;       // close the line (hang-up) after N frames (0 = never)
    unsigned silentAfter = 0;       // send nothing more after N frames, line kept open (0 = never)
    bool paced = false;             // 11 bit times per byte at the current baud
    unsigned framesBeforeMon = 2;   // frames of other text ("BOOT1" ...) before "MON:"
    int answerTimeoutMs = 200;      // how long to wait for an answer before the next frame
    int idleDelayMs = 2;            // pause after a ";" answer before the next frame
    bool keepFileData = false;      // keep the data files' bytes in the report (else size and SHA-256 only)
    // Optional: one line per event, for the program's output. Called on the
    // simulator's thread.
    std::function<void(const std::string&)> log;
};
