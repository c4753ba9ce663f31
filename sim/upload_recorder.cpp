#include "sim/upload_recorder.h"

#include <algorithm>

#include "link/frame_format.h"

std::string UploadRecorder::Record(const ToolFrame& frame, Clock::time_point at) {
    const std::vector<std::uint8_t>& p = frame.payload;
    const std::size_t length = p.size();
    const char first = length > frame::kTextOffset ? static_cast<char>(p[frame::kTextOffset]) : '\0';
    const bool chunkShaped = first == static_cast<char>(frame::kChunkMarker) && length > frame::kLengthLetter &&
                             length <= frame::kLengthFullChunk;

    if (length == frame::kLengthLetter && first == ';')
        return "";
    if (chunkShaped && m_openFile) {
        const std::size_t dataOffset = frame::kTextOffset + 1;
        Append(p.data() + dataOffset, length - dataOffset);
        ++m_openFile->file.chunks;
        m_openFile->file.seconds = std::chrono::duration<double>(at - m_openFile->start).count();
        if (length < frame::kLengthFullChunk)
            CloseOpenFile(true, "");  // a short chunk is the last one
        return "";
    }
    if (length == frame::kLengthHeader) {
        // A file whose length after the header is a multiple of 64 has no
        // short chunk: the next header (or command) tells that it is over.
        if (m_openFile)
            CloseOpenFile(true, "");
        m_openFile.emplace();
        m_openFile->start = at;
        Append(p.data() + frame::kTextOffset, length - frame::kTextOffset);
        return "";
    }
    // With no file open, an L=8 frame is a header even if it begins with '*'
    // (its first data byte); any other '*' frame is a chunk out of place.
    if (chunkShaped) {
        return m_files.empty() ? "chunk frame before any header frame"
                               : "chunk frame after the file was complete (after its short last chunk)";
    }
    if ((length == frame::kLengthLetter && (first == 'Q' || first == 'X')) ||
        (length == frame::kLengthE && first == 'E')) {
        if (m_openFile)
            CloseOpenFile(true, "");
        m_commands.push_back(BytesAsText(p.data() + frame::kTextOffset, length - frame::kTextOffset));
        return "";
    }
    return "unexpected frame from the tool (L=" + std::to_string(length) + ", text \"" +
           BytesAsText(p.data() + std::min(p.size(), frame::kTextOffset),
                       std::min<std::size_t>(length > 2 ? length - 2 : 0, 16)) +
           "\")";
}

void UploadRecorder::Append(const std::uint8_t* data, std::size_t size) {
    SimFile& file = m_openFile->file;
    file.size += size;
    m_openFile->hash.Update(data, size);
    if (m_bKeepFileData)
        file.data.insert(file.data.end(), data, data + size);
}

void UploadRecorder::CloseOpenFile(bool complete, const std::string& problem) {
    SimFile& file = m_openFile->file;
    file.complete = complete;
    file.problem = problem;
    file.sha256 = m_openFile->hash.Hex();
    m_files.push_back(std::move(file));
    m_openFile.reset();
}

void UploadRecorder::AbandonOpenFile(const std::string& reason) {
    if (m_openFile)
        CloseOpenFile(false, reason);
}

void UploadRecorder::Snapshot(SimReport* report) const {
    report->commands = m_commands;
    report->files = m_files;
    if (m_openFile) {
        SimFile open = m_openFile->file;
        open.complete = false;
        open.problem = "still open (no short chunk or following command yet)";
        open.sha256 = m_openFile->hash.Hex();
        report->files.push_back(std::move(open));
    }
}
