// UploadFault: why a script or one of its data files cannot be carried out.
//
// The upload layer reports faults as codes; the operator's words for them
// are the user interface's (ui/upload_fault_text.h). The same codes serve
// the upload itself and the check of a script before it is run.
#pragma once

#include <cstddef>
#include <string>

#include "platform/win_types.h"

enum class UploadFault {
    None = 0,
    // The script.
    ScriptUnopenable,     // cannot be opened (error says why)
    ScriptNotRegular,     // a directory, device, pipe ...: not a regular file
    ScriptUnreadable,     // a read failed (error says why)
    ScriptUtf16,          // saved as UTF-16 (Notepad's "Unicode"): its commands cannot be read
    NoCommand,            // the script holds no command at all
    UnknownCommand,       // a command letter other than E, Q, X (command says which)
    // A data file named by a file command.
    DataFileMissing,      // no such file (or the name holds a NUL byte)
    DataFileIsFolder,     // the name is a folder's
    DataFileNameTooLong,  // the path is longer than any path can be
    DataFileNotRegular,   // a directory, device, pipe ...: not a regular file
    DataFileUnopenable,   // exists but cannot be opened (error says why)
    DataFileUnreadable,   // a read failed (error says why)
    DataFileTooShort,     // fewer bytes than the 6 of a header frame
    DataFileTooLarge,     // 4 GiB or more: its length does not fit the progress counters
    DataFileEndedEarly,   // it ended before the length it had when it was opened
    DataFileChanged,      // its size or bytes differ from what the run checked at its start
    // Found only by a script check: the upload carries these out, but not as
    // the script's author meant.
    CommandAfterRestart,  // a command after the last X: the receiver has restarted
    DataFileCaseDiffers,  // the name finds its file only when letter case is ignored
    EArgumentCut,         // an E argument longer than the 6 bytes sent
    // Found only by a script check: a line the reader skips as a whole,
    // although it holds text (command says which text).
    CommandWithoutC,      // a bare command letter ("X", "Q", "E12"): a command needs C in front
    TextNotACommand,      // any other text
};

// One fault and where it was found.
struct UploadFaultReport {
    UploadFault m_code = UploadFault::None;
    // The command's number in the script, counted from 1; 0 for a fault of
    // the script as a whole.
    std::size_t m_nCommand = 0;
    // The command's text as the script reader gave it ("E...", "Z", or 'S' +
    // the data file's path as written).
    std::string m_strCommand;
    // The file concerned: the script, or the data file as found on disk
    // (letter case resolved) or, when it was not found, as named.
    std::string m_strPath;
    // The system's error number (errno) behind the fault, or 0.
    int m_nError = 0;
    // The script's line, counted from 1, for a finding that belongs to a
    // line rather than to a command; 0 otherwise.
    std::size_t m_nLine = 0;

    bool operator==(const UploadFaultReport&) const = default;
};

// WM_UPLOAD_FAILED carries the code and the error number in its wParam (the
// code in the low 16 bits) and the path as its text.
inline WPARAM PackFault(UploadFault code, int error) {
    return static_cast<WPARAM>(code) | (static_cast<WPARAM>(error < 0 ? 0 : error) << 16);
}
inline UploadFault FaultCodeOf(WPARAM wParam) { return static_cast<UploadFault>(wParam & 0xFFFF); }
inline int FaultErrorOf(WPARAM wParam) { return static_cast<int>(wParam >> 16); }
