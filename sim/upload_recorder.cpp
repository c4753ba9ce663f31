#include "sim/upload_recorder.h"

#include <algorithm>

#include "link/frame_format.h"

std::string UploadRecorder::Record(const ToolFrame& frame) {
    const std::vector<std::uint8_t>& p = frame.payload;
    const std::size_t length = p.size();
    const std::string text = frame.Text();
    const char first = text.empty() ? '\0' : text[0];

    if (length == frame::kLengthLetter && first == ';')
        return "";
    if (first == static_cast<char>(frame::kChunkMarker) && m_openFile && length > frame::kLengthLetter &&
        length <= frame::kLengthFullChunk) {
        m_openFile->data.insert(m_openFile->data.end(), p.begin() + frame::kTextOffset + 1, p.end());
        if (length < frame::kLengthFullChunk) {
            // A short chunk is the last one.
            m_openFile->complete = true;
            m_files.push_back(std::move(*m_openFile));
            m_openFile.reset();
        }
        return "";
    }
    if (length == frame::kLengthHeader) {
        CloseOpenFileAsComplete();
        SimFile file;
        file.data.assign(p.begin() + frame::kTextOffset, p.end());
        m_openFile = std::move(file);
        return "";
    }
    // With no file open, an L=8 frame is a header even if it begins with '*'
    // (its first data byte); any other '*' frame is a chunk out of place.
    if (first == static_cast<char>(frame::kChunkMarker) && !m_openFile && length > frame::kLengthLetter &&
        length <= frame::kLengthFullChunk) {
        return m_files.empty() ? "chunk frame before any header frame"
                               : "chunk frame after the file was complete (after its short last chunk)";
    }
    if ((length == frame::kLengthLetter && (first == 'Q' || first == 'X')) ||
        (length == frame::kLengthE && first == 'E')) {
        CloseOpenFileAsComplete();
        m_commands.push_back(BytesAsText(p.data() + frame::kTextOffset, length - frame::kTextOffset));
        return "";
    }
    return "unexpected frame from the tool (L=" + std::to_string(length) + ", text \"" +
           BytesAsText(p.data() + std::min(p.size(), frame::kTextOffset),
                       std::min<std::size_t>(length > 2 ? length - 2 : 0, 16)) +
           "\")";
}

void UploadRecorder::CloseOpenFileAsComplete() {
    // A file whose length after the header is a multiple of 64 has no short
    // chunk: the next command or header tells that it is over.
    if (!m_openFile)
        return;
    m_openFile->complete = true;
    m_files.push_back(std::move(*m_openFile));
    m_openFile.reset();
}

void UploadRecorder::AbandonOpenFile(const std::string& reason) {
    if (!m_openFile)
        return;
    m_openFile->complete = false;
    m_openFile->problem = reason;
    m_files.push_back(std::move(*m_openFile));
    m_openFile.reset();
}

void UploadRecorder::Snapshot(SimReport* report) const {
    report->commands = m_commands;
    report->files = m_files;
    if (m_openFile) {
        SimFile open = *m_openFile;
        open.complete = false;
        open.problem = "still open (no short chunk or following command yet)";
        report->files.push_back(std::move(open));
    }
}
