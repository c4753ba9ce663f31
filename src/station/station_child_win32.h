// What the Windows station child (station_child_win32.cpp) decides without
// the system, kept apart so that it can be tested as pure functions.
#pragma once

#include <string>
#include <vector>

#include "platform/system_win32.h"
#include "station/station_child.h"

// The command line that CreateProcessW passes and the child's C library
// splits into args again, whatever spaces, quotes and backslashes they hold
// (args[0], the program's path, is quoted as a path: it holds no quote).
std::wstring WindowsCommandLine(const std::vector<std::string>& args);

// How a child ended, from its exit code: its own exit status; 130 for one
// ended by Ctrl-C (STATUS_CONTROL_C_EXIT); an exception code (0xC0000005)
// for one that crashed; killed: the station ended it (TerminateProcess).
ChildExit DescribeChildExit(DWORD code, bool killed);
