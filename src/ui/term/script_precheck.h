// The terminal's look at the script before the port is opened: with the
// script known from the command line, its faults are reported before the
// operator powers the receiver on, not after the handshake.
#pragma once

#include <string>

class FrontEnd;
class MessageBoxPresenter;

// Checks script (CheckScript). True when it may be run. Otherwise shows the
// message the run would show for its first fault through presenter, and
// each fault, with the command it was found at, as a detail line through
// details; returns false.
bool ScriptPassesPrecheck(const std::string& script, MessageBoxPresenter& presenter, FrontEnd& details);
