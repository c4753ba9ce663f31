// The terminal's look at a script, one check (CheckScript) with two uses:
// before the port is opened, so that a script's faults are reported before
// the operator powers the receiver on, not after the handshake; and
// --check, which shows what a run would send without any port.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "upload/script_check.h"

class FrontEnd;
class MessageBoxPresenter;

// Checks script (CheckScript). True when it may be run. Otherwise shows the
// message the run would show for its first fault through presenter, and
// each fault, with the command it was found at, as a detail line through
// details; returns false. Warnings (what runs, but not as meant, and lines
// of text that carry no command) are shown as detail lines either way and
// refuse nothing.
bool ScriptPassesPrecheck(const std::string& script, MessageBoxPresenter& presenter, FrontEnd& details);

// The port a --check is made for (--port with --check): its name and its
// adapter's latency timer, when known.
struct CheckPort {
    std::string m_strName;
    std::optional<int> m_latencyMs;
};

// The --check report below as text, with the check's findings: what the
// station's window shows of the script it is given.
struct ScriptCheckReport {
    std::string m_strText;
    ScriptCheckResult m_result;
};
ScriptCheckReport CheckScriptReport(const std::string& script, const std::optional<CheckPort>& port = {});

// --check: writes to out each command of script, each data file with its
// full path, size, chunks and line time, a total (and, for a port, the
// total behind its adapter), then every fault and warning. Returns 0 when
// the script has neither, 1 otherwise.
int ReportScriptCheck(const std::string& script, std::FILE* out, const std::optional<CheckPort>& port = {});
