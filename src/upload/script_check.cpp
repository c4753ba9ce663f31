#include "upload/script_check.h"

#include "link/frame_format.h"
#include "upload/data_file.h"
#include "upload/script_reader.h"

namespace {

// The command letters the upload carries out; 'S' stands for every file
// command.
bool IsKnownCommand(char letter) {
    return letter == 'E' || letter == 'Q' || letter == 'X' || letter == 'S';
}

// Opens the data file of a file command and reads its header, as the upload
// would before its first frame. Adds either the file or its fault.
void CheckDataFile(const ScriptReader& reader, std::size_t number, ScriptCheckResult& result) {
    DataFile file;
    UploadFault fault = file.Open(reader.m_strCommand.substr(1));
    if (fault == UploadFault::None) {
        unsigned char header[frame::kHeaderDataSize];
        if (file.Read(header, sizeof header) != static_cast<long>(sizeof header))
            fault = file.Fault();
    }
    if (fault != UploadFault::None) {
        result.m_faults.push_back({fault, number, reader.m_strCommand, file.Path(), file.Error()});
        return;
    }
    result.m_dataFiles.push_back({number, file.Path(), file.Length()});
}

}  // namespace

ScriptCheckResult CheckScript(const std::string& scriptPath) {
    ScriptCheckResult result;
    ScriptReader reader(scriptPath);
    for (int length = reader.GetFirstCommand(); length != 0; length = reader.GetNextCommand()) {
        const std::size_t number = ++result.m_nCommands;
        const char letter = reader.m_strCommand[0];
        if (letter == 'S')
            CheckDataFile(reader, number, result);
        else if (!IsKnownCommand(letter))
            result.m_faults.push_back({UploadFault::UnknownCommand, number, reader.m_strCommand, scriptPath, 0});
    }
    if (reader.HasFailed())
        result.m_faults.push_back({reader.Fault(), 0, "", scriptPath, reader.Error()});
    else if (result.m_nCommands == 0)
        result.m_faults.push_back({UploadFault::NoCommand, 0, "", scriptPath, 0});
    return result;
}
