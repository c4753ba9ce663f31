// Output files that hold whole lines only (the events, the record): a line
// goes out in one write, and one the system takes only in part (a full
// disk, a file size limit) is cut off again, so that a reader never meets a
// torn line and the next line starts on a line of its own.
#pragma once

#include <string>

// Appends text (one or more whole lines) to fd, going on after
// interruptions and short writes; with sync, also forces it to the disk
// (where fd is a file that can be synced). True when all of it went out.
// False with *reason when the system refused some of it: then, on a regular
// file written at its end, the file is cut back to the size it had before,
// and the next write goes there; elsewhere (a pipe, a terminal, a device)
// what went out cannot be taken back.
bool AppendWholeLine(int fd, const std::string& text, std::string* reason, bool sync = false);
