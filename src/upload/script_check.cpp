#include "upload/script_check.h"

#include <algorithm>
#include <cctype>

#include "link/frame_format.h"
#include "upload/data_file.h"
#include "upload/script_reader.h"

namespace {

// The receiver's request frame that each frame of the tool answers: tag and
// "OK:".
constexpr std::uint64_t kRequestWireBytes = frame::kOverhead + frame::kTagSize + frame::kWordOk.size();
constexpr unsigned kBitsPerByte = 11;

constexpr std::uint64_t StepWireBytes(std::uint64_t payload) {
    return payload + frame::kOverhead + kRequestWireBytes;
}
static_assert(StepWireBytes(frame::kLengthFullChunk) == 84, "a full chunk costs 84 bytes on the line");

// Opens the data file of a file command and reads its header, as the upload
// would before its first frame. Adds either the file or its fault.
void CheckDataFile(const ScriptReader& reader, std::size_t number, ScriptCheckResult& result) {
    DataFile file;
    const std::string named = reader.m_strCommand.substr(1);
    UploadFault fault = file.Open(named);
    if (fault == UploadFault::None) {
        unsigned char header[frame::kHeaderDataSize];
        if (file.Read(header, sizeof header) != static_cast<long>(sizeof header))
            fault = file.Fault();
    }
    if (fault != UploadFault::None) {
        result.m_faults.push_back({fault, number, reader.m_strCommand, file.Path(), file.Error()});
        return;
    }
    if (file.Path() != named)
        result.m_warnings.push_back({UploadFault::DataFileCaseDiffers, number, reader.m_strCommand, file.Path(), 0});
    result.m_dataFiles.push_back({number, file.Path(), file.Length()});
    ScriptCommand& command = result.m_commands.back();
    command.m_qwChunks = DataFileChunks(file.Length());
    command.m_qwWireBytes = DataFileWireBytes(file.Length());
    command.m_qwFrames = 1 + command.m_qwChunks;  // the header, then the chunks
}

// Checks a letter command and counts what it sends.
void CheckLetterCommand(const ScriptReader& reader, std::size_t number, const std::string& scriptPath,
                        ScriptCheckResult& result) {
    ScriptCommand& command = result.m_commands.back();
    switch (reader.m_strCommand[0]) {
    case 'E':
        if (reader.m_strCommand.size() > frame::kEFieldSize)
            result.m_warnings.push_back({UploadFault::EArgumentCut, number, reader.m_strCommand, scriptPath, 0});
        command.m_qwWireBytes = StepWireBytes(frame::kLengthE);
        command.m_qwFrames = 1;
        break;
    case 'Q':
    case 'X':
        command.m_qwWireBytes = StepWireBytes(frame::kLengthLetter);
        command.m_qwFrames = 1;
        break;
    default:
        result.m_faults.push_back({UploadFault::UnknownCommand, number, reader.m_strCommand, scriptPath, 0});
    }
}

// A command letter written without its 'C': Q or X alone, or E with its
// argument as one word ("E12").
bool IsBareCommandLetter(const std::string& text) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter == 'Q' || letter == 'X')
        return text.size() == 1;
    return letter == 'E' &&
           std::none_of(text.begin(), text.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

// The lines the reader has skipped although they hold text: nothing of
// them is sent.
void CheckSkippedLines(ScriptReader& reader, const std::string& scriptPath, ScriptCheckResult& result) {
    for (ScriptReader::SkippedLine& line : reader.TakeSkippedLines()) {
        const UploadFault code =
            IsBareCommandLetter(line.m_strText) ? UploadFault::CommandWithoutC : UploadFault::TextNotACommand;
        result.m_warnings.push_back({code, 0, std::move(line.m_strText), scriptPath, 0, line.m_nLine});
    }
}

}  // namespace

std::uint64_t DataFileChunks(std::uint64_t length) {
    if (length <= frame::kHeaderDataSize)
        return 0;
    return (length - frame::kHeaderDataSize + frame::kChunkDataSize - 1) / frame::kChunkDataSize;
}

std::uint64_t DataFileWireBytes(std::uint64_t length) {
    if (length < frame::kHeaderDataSize)
        return 0;
    const std::uint64_t rest = length - frame::kHeaderDataSize;
    const std::uint64_t full = rest / frame::kChunkDataSize;
    const std::uint64_t last = rest % frame::kChunkDataSize;
    std::uint64_t bytes = StepWireBytes(frame::kLengthHeader) + full * StepWireBytes(frame::kLengthFullChunk);
    if (last != 0)
        bytes += StepWireBytes(frame::kTagSize + 1 + last);
    return bytes;
}

double WireSeconds(std::uint64_t wireBytes) {
    return static_cast<double>(wireBytes) * kBitsPerByte / frame::kFastBaudRate;
}

std::uint64_t ScriptCheckResult::WireBytes() const {
    std::uint64_t total = 0;
    for (const ScriptCommand& command : m_commands)
        total += command.m_qwWireBytes;
    return total;
}

std::uint64_t ScriptCheckResult::Frames() const {
    std::uint64_t total = 0;
    for (const ScriptCommand& command : m_commands)
        total += command.m_qwFrames;
    return total;
}

ScriptCheckResult CheckScript(const std::string& scriptPath) {
    ScriptCheckResult result;
    ScriptReader reader(scriptPath);
    reader.KeepSkippedLines();
    bool restarted = false;
    for (int length = reader.GetFirstCommand(); length != 0; length = reader.GetNextCommand()) {
        CheckSkippedLines(reader, scriptPath, result);
        result.m_commands.push_back({reader.m_strCommand});
        const std::size_t number = result.m_commands.size();
        const char letter = reader.m_strCommand[0];
        if (restarted)
            result.m_warnings.push_back(
                {UploadFault::CommandAfterRestart, number, reader.m_strCommand, scriptPath, 0});
        if (letter == 'S')
            CheckDataFile(reader, number, result);
        else
            CheckLetterCommand(reader, number, scriptPath, result);
        restarted = restarted || letter == 'X';
    }
    CheckSkippedLines(reader, scriptPath, result);
    if (reader.HasFailed())
        result.m_faults.push_back({reader.Fault(), 0, "", scriptPath, reader.Error()});
    else if (result.m_commands.empty())
        result.m_faults.push_back({UploadFault::NoCommand, 0, "", scriptPath, 0});
    return result;
}
