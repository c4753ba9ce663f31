#include "link/latency_cost.h"

#include <algorithm>

#include "link/frame_format.h"

double ChunkMilliseconds(int latencyMs, const LineSettings& line) {
    const double characters = frame::kReceiverOkFrameSize + frame::kFullChunkFrameSize;
    const double wireMs = characters * BitsPerCharacter(line) * 1000.0 / frame::kFastBaudRate;
    return wireMs + std::max(latencyMs, 0);
}

double LatencySlowdown(int latencyMs, const LineSettings& line) {
    return ChunkMilliseconds(latencyMs, line) / ChunkMilliseconds(0, line);
}
