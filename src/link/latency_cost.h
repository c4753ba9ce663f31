// What a USB adapter's latency timer costs a transfer. The receiver sends
// "OK:" before every chunk and the tool answers it with the chunk, so each
// chunk waits for one "OK:" to come in. An adapter that holds received bytes
// until its latency timer runs out delays every "OK:" by up to that timer, and
// a chunk then costs both frames' time on the wire plus the timer.
#pragma once

#include "platform/serial_port.h"

// A latency timer above this is worth telling the operator about (at 4 ms a
// transfer takes about 1.17 times as long; the common driver's default of
// 16 ms makes it about 1.7).
inline constexpr int kNoticeableLatencyMs = 4;

// Milliseconds one chunk of a data file takes at the fast speed behind an
// adapter whose latency timer is latencyMs: the receiver's "OK:" frame and
// the tool's full chunk frame on the wire, in characters of line's format
// (the link's 8 data bits, odd parity, 1 stop bit unless given), plus
// latencyMs (negative counts as 0). The speed is always the fast one.
double ChunkMilliseconds(int latencyMs, const LineSettings& line = LineSettings{});

// How many times as long a transfer takes behind that adapter as on a line
// without one: ChunkMilliseconds(latencyMs) / ChunkMilliseconds(0), 1.0 for
// no latency. The upper bound: each "OK:" is taken to wait the whole timer.
double LatencySlowdown(int latencyMs, const LineSettings& line = LineSettings{});
