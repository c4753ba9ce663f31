// Waiting for the operator's typed line without blocking Ctrl-C.
#pragma once

#include <chrono>

// Waits up to timeout for standard input to have something to read (or to
// end). True when a read will not wait for the operator to begin typing.
bool WaitForStandardInput(std::chrono::milliseconds timeout);
