#include "app/output_guard.h"

#include "platform/file_identity.h"
#include "upload/script_check.h"

std::vector<NamedFile> ScriptFiles(const std::string& script) {
    std::vector<NamedFile> files{{"the script", script}};
    const ScriptCheckResult check = CheckScript(script);
    for (const ScriptDataFile& file : check.m_dataFiles)
        files.push_back({"a data file of the script", file.m_strPath});
    for (const UploadFaultReport& fault : check.m_faults)
        if (fault.m_code >= UploadFault::DataFileMissing && fault.m_code <= UploadFault::DataFileEndedEarly)
            files.push_back({"a data file of the script", fault.m_strPath});
    return files;
}

std::string FindOutputClash(const std::vector<OutputFile>& outputs, const std::vector<NamedFile>& inputs) {
    std::vector<NamedFile> taken = inputs;
    for (const OutputFile& output : outputs) {
        for (const NamedFile& file : taken)
            if (!file.m_strPath.empty() && SameFile(output.m_file.m_strPath, file.m_strPath))
                return output.m_strOption + " " + output.m_file.m_strPath + " names " + file.m_strWhat + " (" +
                       file.m_strPath + "); choose another file";
        taken.push_back(output.m_file);
    }
    return {};
}
