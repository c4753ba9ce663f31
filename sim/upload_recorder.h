// Rebuilds what the tool lets out of its Outbox: commands and data files.
// The classification rules are described in sim/receiver_sim.h.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_frames.h"
#include "sim/sim_report.h"

class UploadRecorder {
public:
    using Clock = std::chrono::steady_clock;

    // keepFileData: keep each file's bytes besides its size and SHA-256.
    explicit UploadRecorder(bool keepFileData = false) : m_bKeepFileData(keepFileData) {}

    // Records one frame the tool sent in answer to "OK:" (";" included, which
    // records nothing); at is when it arrived (for the files' transfer time).
    // Returns a problem text for a frame that breaks the order of an upload
    // or is not an upload frame at all, else "".
    std::string Record(const ToolFrame& frame, Clock::time_point at = {});

    // The file being received is not going to get any further (the session
    // ended): it is kept with complete false and this reason.
    void AbandonOpenFile(const std::string& reason);

    // Commands and files so far; a file still open is listed as incomplete.
    void Snapshot(SimReport* report) const;

private:
    struct OpenFile {
        SimFile file;
        Sha256Stream hash;
        Clock::time_point start;
    };

    void Append(const std::uint8_t* data, std::size_t size);
    void CloseOpenFile(bool complete, const std::string& problem);

    bool m_bKeepFileData;
    std::vector<std::string> m_commands;
    std::vector<SimFile> m_files;
    std::optional<OpenFile> m_openFile;
};
