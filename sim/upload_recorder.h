// Rebuilds what the tool lets out of its Outbox: commands and data files.
// The classification rules are described in sim/receiver_sim.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/sim_frames.h"
#include "sim/sim_report.h"

class UploadRecorder {
public:
    // Records one frame the tool sent in answer to "OK:" (";" included, which
    // records nothing). Returns a problem text for a frame that breaks the
    // order of an upload or is not an upload frame at all, else "".
    std::string Record(const ToolFrame& frame);

    // The file being received is not going to get any further (the session
    // ended): it is kept with complete false and this reason.
    void AbandonOpenFile(const std::string& reason);

    // Commands and files so far; a file still open is listed as incomplete.
    void Snapshot(SimReport* report) const;

private:
    void CloseOpenFileAsComplete();

    std::vector<std::string> m_commands;
    std::vector<SimFile> m_files;
    std::optional<SimFile> m_openFile;
};
