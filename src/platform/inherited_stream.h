// The stream a station hands its child run for the run's events: the write
// end of a pipe the child inherits, named by number on its command line
// (--events-handle N): a handle on Windows, a descriptor on POSIX systems.
#pragma once

#include <cstdio>
#include <string>

// A stream on the inherited handle (descriptor) number, not passed on to
// programs this one starts. nullptr with *reason when the number names
// nothing this process can write to.
std::FILE* OpenInheritedStream(unsigned long long number, std::string* reason);
