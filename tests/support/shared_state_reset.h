// Puts the process-wide state back to how the process started, so that each
// test begins and ends clean.
#pragma once

#include <chrono>

// Stops what may still be running (sets g_bAbort, closes g_hComm so that a
// waiting read returns, waits up to joinTimeout for the worker threads),
// then clears every shared flag and counter, empties g_strScriptPath, sets
// g_hComm to nullptr and gives Outbox, InFrame and ReplyFrame (flags
// included) their start-of-process contents. Returns false when a worker
// thread was still running after joinTimeout (the state is reset anyway).
bool ResetAllSharedState(std::chrono::milliseconds joinTimeout = std::chrono::seconds(20));

// Calls ResetAllSharedState() when constructed and again when destroyed; a
// member of a test fixture keeps every test clean on both ends.
class SharedStateReset {
public:
    SharedStateReset();
    ~SharedStateReset();
    SharedStateReset(const SharedStateReset&) = delete;
    SharedStateReset& operator=(const SharedStateReset&) = delete;
};
