// What the operator is told about a slow USB adapter: one whose latency
// timer holds the receiver's "OK:" frames back long enough to slow every
// chunk of a download.
#pragma once

#include <optional>
#include <string>

// The notice for the port named port (as the operator gave it) whose
// adapter keeps latencyMs as its latency timer after the program asked for
// low latency: the timer, what it costs at most, and how to set it to 1 ms.
// "" when the latency is unknown or no more than kNoticeableLatencyMs.
std::string LatencyNoticeText(const std::string& port, std::optional<int> latencyMs);
