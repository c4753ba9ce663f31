#include "ui/upload_fault_text.h"

#include <cstring>

#include "res/strings.h"
#include "upload/script_reader.h"

namespace {

// Enough of an over-long path to recognise it.
constexpr std::size_t kShownPathBytes = 120;

UINT HeadingId(UploadFault code) {
    switch (code) {
    case UploadFault::ScriptUnopenable: return IDS_SCRIPT_UNOPENABLE;
    case UploadFault::ScriptNotRegular: return IDS_SCRIPT_NOT_REGULAR;
    case UploadFault::ScriptUnreadable: return IDS_SCRIPT_UNREADABLE;
    case UploadFault::ScriptUtf16: return IDS_SCRIPT_UTF16;
    case UploadFault::NoCommand: return IDS_SCRIPT_NO_COMMAND;
    case UploadFault::UnknownCommand: return IDS_UNKNOWN_COMMAND;
    case UploadFault::DataFileMissing: return IDS_LZSS_FILE_NOT_FOUND;
    case UploadFault::DataFileIsFolder: return IDS_LZSS_IS_FOLDER;
    case UploadFault::DataFileNameTooLong: return IDS_LZSS_NAME_TOO_LONG;
    case UploadFault::DataFileNotRegular: return IDS_LZSS_NOT_REGULAR;
    case UploadFault::DataFileUnopenable: return IDS_LZSS_UNOPENABLE;
    case UploadFault::DataFileUnreadable: return IDS_LZSS_UNREADABLE;
    case UploadFault::DataFileTooShort: return IDS_LZSS_TOO_SHORT;
    case UploadFault::DataFileTooLarge: return IDS_LZSS_TOO_LARGE;
    case UploadFault::DataFileEndedEarly: return IDS_LZSS_ENDED_EARLY;
    case UploadFault::DataFileChanged: return IDS_LZSS_CHANGED;
    case UploadFault::CommandAfterRestart: return IDS_COMMAND_AFTER_RESTART;
    case UploadFault::DataFileCaseDiffers: return IDS_LZSS_CASE_DIFFERS;
    case UploadFault::EArgumentCut: return IDS_E_ARGUMENT_CUT;
    case UploadFault::CommandWithoutC: return IDS_COMMAND_WITHOUT_C;
    case UploadFault::TextNotACommand: return IDS_TEXT_NOT_A_COMMAND;
    case UploadFault::None: break;
    }
    return IDS_LZSS_UNREADABLE;  // not posted with a code: nothing better to say
}

// "'X' is skipped: a command needs C in front (CX)": the line's text with
// control bytes as '?', and what would be sent instead.
std::string SkippedLineText(const UploadFaultReport& fault) {
    std::string shown = fault.m_strCommand.substr(0, ScriptReader::kSkippedTextBytes);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    if (fault.m_strCommand.size() > ScriptReader::kSkippedTextBytes)
        shown += "...";
    std::string text = "'" + shown + "' " + LoadResString(HeadingId(fault.m_code));
    if (fault.m_code == UploadFault::CommandWithoutC)
        text += " (C" + shown + ")";
    return text;
}

}  // namespace

OperatorMessage UploadFaultMessage(const UploadFaultReport& fault) {
    return {HeadingId(fault.m_code), UploadFaultText(fault)};
}

std::string UploadFaultText(const UploadFaultReport& fault) {
    if (fault.m_code == UploadFault::CommandWithoutC || fault.m_code == UploadFault::TextNotACommand)
        return SkippedLineText(fault);
    std::string text = LoadResString(HeadingId(fault.m_code));
    if (fault.m_code == UploadFault::UnknownCommand || fault.m_code == UploadFault::DataFileMissing)
        return text;
    if (!fault.m_strPath.empty()) {
        text += "\n\n" + fault.m_strPath.substr(0, kShownPathBytes);
        if (fault.m_strPath.size() > kShownPathBytes)
            text += "...";
    }
    if (fault.m_nError != 0)
        text += std::string("\n\n") + std::strerror(fault.m_nError);
    return text;
}
