// CheckScript: a script looked through before it is run, so that its faults
// are known before the receiver is involved.
//
// It reads the script with the same ScriptReader the upload uses and opens
// each data file as the upload does (DataFile::Open, then its 6 header
// bytes), but sends nothing and touches no shared state. The upload itself
// checks everything again as it goes: files may change in between.
//
// Wire time: each frame the tool sends answers one request frame of the
// receiver (tag + "OK:", 11 bytes on the wire), so a step costs the tool's
// frame (payload + 6) plus 11 bytes: an E command 26, a Q or X 20, a data
// file's header frame 25, a full 64-byte chunk 84 and a last chunk of n
// bytes n + 20. A byte is counted as 11 bit times at 38400 baud (start,
// data and framing bits). The receiver's own processing time is not counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "upload/upload_fault.h"

// A data file the script names, as the upload would send it.
struct ScriptDataFile {
    std::size_t m_nCommand = 0;  // the file command's number, from 1
    std::string m_strPath;       // as found on disk (letter case resolved)
    std::uint64_t m_qwLength = 0;

    bool operator==(const ScriptDataFile&) const = default;
};

// One command as read, and what carrying it out puts on the line.
struct ScriptCommand {
    std::string m_strText;         // the reader's text ('S' + path for a file command)
    std::uint64_t m_qwChunks = 0;  // a data file's 64-byte chunk frames
    std::uint64_t m_qwWireBytes = 0;  // both directions, 0 when it is not sent
    std::uint64_t m_qwFrames = 0;     // frames the tool sends for it, each the answer to a request
};

struct ScriptCheckResult {
    // Every fault the upload would stop at, in script order. A fault of the
    // script as a whole (it cannot be opened or read, or holds no command)
    // ends the walk.
    std::vector<UploadFaultReport> m_faults;
    // What the upload carries out but not as meant (CommandAfterRestart,
    // DataFileCaseDiffers, EArgumentCut), and the lines it skips although
    // they hold text (CommandWithoutC, TextNotACommand: m_nLine says where,
    // m_strCommand holds the text), in script order.
    std::vector<UploadFaultReport> m_warnings;
    // Every data file that opened and passed, in script order.
    std::vector<ScriptDataFile> m_dataFiles;
    // Every command read, in order (m_nCommand - 1 is its index).
    std::vector<ScriptCommand> m_commands;

    bool Passed() const { return m_faults.empty(); }
    bool Sound() const { return m_faults.empty() && m_warnings.empty(); }
    std::uint64_t WireBytes() const;
    // Frames the tool sends for the whole script: each waits for one
    // request of the receiver.
    std::uint64_t Frames() const;
};

// Line bytes (both directions) of the frames that send a data file of this
// length, and its number of chunk frames.
std::uint64_t DataFileWireBytes(std::uint64_t length);
std::uint64_t DataFileChunks(std::uint64_t length);
// Seconds these line bytes take at the fast speed.
double WireSeconds(std::uint64_t wireBytes);

// Walks the whole script at scriptPath (never blocks on a FIFO, never reads
// a device). The first fault in the result is the one the upload would stop
// at, had nothing changed.
ScriptCheckResult CheckScript(const std::string& scriptPath);
