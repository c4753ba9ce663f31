// The standard descriptors (0 standard input, 1 standard output, 2 standard
// error), which the program writes its operator texts to by number.
#pragma once

// Opens the null device on each of 0, 1 and 2 that is closed (a service
// manager or cron may start the program with `>&-`). Call first thing, before
// anything opens a file: otherwise the program's own files and descriptors
// (the record, the events, a signalfd) would take those numbers, and text
// meant for the operator would land in them.
void OpenStandardDescriptors();
