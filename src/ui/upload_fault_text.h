// The operator's text for a fault of a script or one of its data files, the
// same whether the upload met it or the script was checked before the run.
#pragma once

#include <string>

#include "platform/message_box.h"
#include "upload/upload_fault.h"

// "LZSS file not found" and "Unknown command in the script file" alone (as
// the upload has always shown them); every other fault as its heading, the
// path of the file concerned and, when there is one, the system's reason,
// separated by blank lines. An over-long path is shown cut. A skipped
// line (CommandWithoutC, TextNotACommand) is its text, quoted, and why it is
// skipped.
std::string UploadFaultText(const UploadFaultReport& fault);
// The same text as a message box, with the id of its heading.
OperatorMessage UploadFaultMessage(const UploadFaultReport& fault);
