// The simulated receiver's behaviour and the faults it injects.
#pragma once

#include <functional>
#include <string>

// A fault of the receiver's own, set off by the tool's progress (see
// SimOptions::faultAfterUploadFrames).
enum class SimFault {
    None,
    HangUp,  // the line is closed (as with hangupAfter)
    HangUpAfterNextFrame,  // one more frame, then the line is closed at once:
                           // the tool's answer to it finds no line
    Silent,  // nothing more is sent; what the tool sends is still read
    Error,   // the next frame is "ERROR" (the simulator then stops talking)
};

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
    // A USB adapter between the receiver and the tool with this latency
    // timer, in ms (sim/usb_adapter.h): each frame the receiver sends reaches
    // the tool at the adapter's next transfer. 0: no adapter.
    int adapterLatencyMs = 0;
    unsigned framesBeforeMon = 2;   // frames of other text ("BOOT1" ...) before "MON:"
    int answerTimeoutMs = 200;      // how long to wait for an answer before the next frame
    int idleDelayMs = 2;            // pause after a ";" answer before the next frame
    bool keepFileData = false;      // keep the data files' bytes in the report (else size and SHA-256 only)
    // The fault starts once the tool has sent this many upload frames
    // (commands, file headers and chunks; ";" does not count), before the
    // simulator's next frame. 0: from power-on.
    SimFault fault = SimFault::None;
    unsigned faultAfterUploadFrames = 0;
    // With the HangUp fault: the line stays open and quiet this long first
    // (what the tool sends is read), as a receiver that stops before its
    // line drops, so that the tool has queued its next frame by then.
    int hangupQuietMs = 0;
    // Next-unit mode (a production line): once the tool has sent "X" (the
    // end of a download), the unit is done and taken away; after this many
    // ms the next unit is powered on: a new session from its first frame at
    // 19200 baud, with counters (frame numbers, upload frames, and so every
    // fault option above) of its own. -1: off (the one unit stays on).
    int nextUnitDelayMs = -1;
    // Next-unit mode: units to serve; once that many are done the simulator
    // stays off and its thread ends (the line stays open). 0: no end.
    unsigned units = 0;
    // Optional: called on the simulator's thread after each upload frame the
    // tool sent has been recorded, with the count so far, before the
    // simulator sends its next frame. Lets a caller act at an exact point of
    // the upload (the tool sends nothing more until that frame).
    std::function<void(unsigned uploadFrames)> onUploadFrame;
    // Optional: one line per event, for the program's output. Called on the
    // simulator's thread.
    std::function<void(const std::string&)> log;
};
