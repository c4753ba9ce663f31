#include "term/script_precheck.h"

#include "link/frame_format.h"
#include "platform/message_box.h"
#include "res/strings.h"
#include "ui/front_end.h"
#include "ui/latency_notice.h"
#include "ui/run_outcome.h"
#include "ui/upload_fault_text.h"
#include "upload/script_check.h"
#include "platform/utf8_path.h"

namespace {

// Enough to see what is wrong with a script that is not a script at all.
constexpr std::size_t kMaxDetailLines = 20;
constexpr std::size_t kMaxCommandBytes = 120;

// The message the run shows for this fault. A script that cannot be opened
// at all is met by the Connect sequence, before any upload, with its own
// text.
OperatorMessage RunMessage(const UploadFaultReport& fault) {
    if (fault.m_code == UploadFault::ScriptUnopenable)
        return {IDT_FILE_DOES_NOT_EXIST, kTextFileDoesNotExist};
    return UploadFaultMessage(fault);
}

// A command's text cut to a line, control bytes shown as '?'.
std::string Printable(const std::string& text) {
    std::string shown = text.substr(0, kMaxCommandBytes);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text.size() > kMaxCommandBytes ? shown + "..." : shown;
}

// One line: the command (or the script's line) and the text with its blank
// lines folded.
std::string DetailLine(const UploadFaultReport& fault) {
    std::string text = UploadFaultText(fault);
    for (std::size_t at = text.find("\n\n"); at != std::string::npos; at = text.find("\n\n", at))
        text.replace(at, 2, ": ");
    if (fault.m_nLine != 0)
        return "line " + std::to_string(fault.m_nLine) + ": " + text;
    if (fault.m_nCommand == 0)
        return text;
    return "command " + std::to_string(fault.m_nCommand) + " (" + Printable(fault.m_strCommand) + "): " + text;
}

// printf into a string, for lines that hold no path (paths are appended).
template <typename... Values>
std::string Format(const char* format, Values... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string Plural(std::uint64_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// An E command's text as it goes out: up to its first NUL.
std::string CommandLine(const ScriptCommand& command) {
    const std::string text = command.m_strText.substr(0, command.m_strText.find('\0'));
    if (text[0] != 'S')
        return Printable(text);
    return "data file " + Printable(text.substr(1));
}

// The file as found (when letter case made it differ from the name), its
// size, chunks and line time.
void PrintDataFile(const ScriptDataFile& file, const ScriptCommand& command, std::string& out) {
    if (command.m_strText.compare(1, std::string::npos, file.m_strPath) != 0)
        out += "      found as " + Printable(file.m_strPath) + "\n";
    out += Format("      %s, %s, %.2f s\n", Plural(file.m_qwLength, "byte").c_str(),
                  Plural(command.m_qwChunks, "chunk").c_str(), WireSeconds(command.m_qwWireBytes));
}

void PrintFindings(const char* heading, const std::vector<UploadFaultReport>& findings, std::string& out) {
    if (findings.empty())
        return;
    out += std::string(heading) + ":\n";
    for (const UploadFaultReport& finding : findings)
        out += "  " + DetailLine(finding) + "\n";
}

}  // namespace

bool ScriptPassesPrecheck(const std::string& script, MessageBoxPresenter& presenter, FrontEnd& details) {
    const ScriptCheckResult result = CheckScript(script);
    for (std::size_t i = 0; i < result.m_warnings.size() && i < kMaxDetailLines; ++i)
        details.ShowDetail("warning: " + DetailLine(result.m_warnings[i]));
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

namespace {

// The total for a port: each frame the tool sends answers a request of the
// receiver, which its adapter may hold back for its whole latency timer.
void PrintPortTotal(const ScriptCheckResult& result, const CheckPort& port, std::string& out) {
    if (!port.m_latencyMs) {
        out += "On " + port.m_strName + ": no adapter latency timer is known; the time above holds\n";
        return;
    }
    const double seconds =
        WireSeconds(result.WireBytes()) + static_cast<double>(result.Frames()) * *port.m_latencyMs / 1000.0;
    out += "On " + port.m_strName +
           Format(", whose adapter's latency timer is %d ms: up to about %.2f s (%s, each of which may wait that "
                  "long for the receiver's request)\n",
                  *port.m_latencyMs, seconds, Plural(result.Frames(), "frame").c_str());
    const std::string notice = LatencyNoticeText(port.m_strName, port.m_latencyMs);
    if (!notice.empty())
        out += notice + "\n";
}

}  // namespace

ScriptCheckReport CheckScriptReport(const std::string& script, const std::optional<CheckPort>& port) {
    const std::string path = AbsoluteUtf8Path(script);
    ScriptCheckReport report;
    report.m_result = CheckScript(path);
    const ScriptCheckResult& result = report.m_result;
    std::string& out = report.m_strText;
    out = "Script " + path + "\n";
    std::size_t file = 0;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < result.m_commands.size(); ++i) {
        const ScriptCommand& command = result.m_commands[i];
        out += Format("  %3zu ", i + 1) + CommandLine(command) + "\n";
        if (file < result.m_dataFiles.size() && result.m_dataFiles[file].m_nCommand == i + 1) {
            PrintDataFile(result.m_dataFiles[file], command, out);
            bytes += result.m_dataFiles[file++].m_qwLength;
        }
    }
    out += Format("Total: %s, %s of %s, %s on the line, about %.2f s at %u baud\n",
                  Plural(result.m_commands.size(), "command").c_str(),
                  Plural(result.m_dataFiles.size(), "data file").c_str(), Plural(bytes, "byte").c_str(),
                  Plural(result.WireBytes(), "byte").c_str(), WireSeconds(result.WireBytes()), frame::kFastBaudRate);
    if (port)
        PrintPortTotal(result, *port, out);
    PrintFindings("Faults (the download stops at the first)", result.m_faults, out);
    PrintFindings("Warnings (not carried out as written)", result.m_warnings, out);
    if (result.Sound())
        out += "The script is sound.\n";
    else
        out += "The script is not sound: " + Plural(result.m_faults.size(), "fault") + ", " +
               Plural(result.m_warnings.size(), "warning") + ".\n";
    return report;
}

int ReportScriptCheck(const std::string& script, std::FILE* out, const std::optional<CheckPort>& port) {
    const ScriptCheckReport report = CheckScriptReport(script, port);
    std::fputs(report.m_strText.c_str(), out);
    return report.m_result.Sound() ? kExitSuccess : kExitFailure;
}
