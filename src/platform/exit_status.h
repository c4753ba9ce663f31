// The program's exit statuses, which a production line's scripts test.
#pragma once

constexpr int kExitSuccess = 0;     // "Download completed successfully..." shown, no error
constexpr int kExitFailure = 1;     // an error message, a time-out, or no download
constexpr int kExitUsage = 2;       // bad command line
constexpr int kExitCancelled = 130; // the operator cancelled (Ctrl-C, Cancel)
// A run ended by a signal other than SIGINT (SIGTERM, SIGHUP) exits with
// 128 + the signal's number, as a shell reports a process it killed.
constexpr int kExitSignalBase = 128;
