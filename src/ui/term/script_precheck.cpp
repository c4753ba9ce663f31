#include "ui/term/script_precheck.h"

#include "platform/message_box.h"
#include "res/strings.h"
#include "ui/front_end.h"
#include "ui/upload_fault_text.h"
#include "upload/script_check.h"

namespace {

// Enough to see what is wrong with a script that is not a script at all.
constexpr std::size_t kMaxDetailLines = 20;
constexpr std::size_t kMaxCommandBytes = 120;

// The message the run shows for this fault. A script that cannot be opened
// at all is met by the Connect sequence, before any upload, with its own
// text.
std::string RunMessage(const UploadFaultReport& fault) {
    if (fault.m_code == UploadFault::ScriptUnopenable)
        return kTextFileDoesNotExist;
    return UploadFaultText(fault);
}

// One line: the command (control bytes shown as '?') and the text with its
// blank lines folded.
std::string DetailLine(const UploadFaultReport& fault) {
    std::string text = UploadFaultText(fault);
    for (std::size_t at = text.find("\n\n"); at != std::string::npos; at = text.find("\n\n", at))
        text.replace(at, 2, ": ");
    if (fault.m_nCommand == 0)
        return text;
    std::string command = fault.m_strCommand.substr(0, kMaxCommandBytes);
    for (char& c : command)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return "command " + std::to_string(fault.m_nCommand) + " (" + command + "): " + text;
}

}  // namespace

bool ScriptPassesPrecheck(const std::string& script, MessageBoxPresenter& presenter, FrontEnd& details) {
    const ScriptCheckResult result = CheckScript(script);
    if (result.Passed())
        return true;
    presenter.Show(RunMessage(result.m_faults.front()));
    details.ShowDetail("the script was refused before the port was opened: " + script);
    for (std::size_t i = 0; i < result.m_faults.size() && i < kMaxDetailLines; ++i)
        details.ShowDetail(DetailLine(result.m_faults[i]));
    if (result.m_faults.size() > kMaxDetailLines)
        details.ShowDetail("... and " + std::to_string(result.m_faults.size() - kMaxDetailLines) + " more faults");
    return false;
}
