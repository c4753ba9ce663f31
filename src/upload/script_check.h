// CheckScript: a script looked through before it is run, so that its faults
// are known before the receiver is involved.
//
// It reads the script with the same ScriptReader the upload uses and opens
// each data file as the upload does (DataFile::Open, then its 6 header
// bytes), but sends nothing and touches no shared state. The upload itself
// checks everything again as it goes: files may change in between.
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

struct ScriptCheckResult {
    // Every fault found, in script order. A fault of the script as a whole
    // (it cannot be opened or read, or holds no command) ends the walk.
    std::vector<UploadFaultReport> m_faults;
    // Every data file that opened and passed, in script order.
    std::vector<ScriptDataFile> m_dataFiles;
    // The commands read.
    std::size_t m_nCommands = 0;

    bool Passed() const { return m_faults.empty(); }
};

// Walks the whole script at scriptPath (never blocks on a FIFO, never reads
// a device). The first fault in the result is the one the upload would stop
// at, had nothing changed.
ScriptCheckResult CheckScript(const std::string& scriptPath);
