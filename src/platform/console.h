// Whether a stream is a terminal that a live view can be drawn on in place.
#pragma once

#include <cstdio>

// True when out is a terminal that takes the cursor movements and line
// clearing of a live view (ANSI / virtual-terminal sequences): on POSIX
// systems any terminal; on Windows a console, whose processing of those
// sequences is turned on here (ENABLE_VIRTUAL_TERMINAL_PROCESSING). False
// for a pipe, a file, the null device, and a console too old to take them:
// the caller then prints plain lines.
bool EnableLiveConsole(std::FILE* out);
