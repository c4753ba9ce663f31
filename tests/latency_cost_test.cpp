// What an adapter's latency timer costs a transfer: one "OK:" (9 bytes, no
// preamble) and one 73-byte chunk frame per chunk at 38400 baud, plus the
// timer.
#include "link/latency_cost.h"

#include <gtest/gtest.h>

namespace {

TEST(LatencyCost, ChunkTimeAndSlowdown) {
    const LineSettings eightNoneOne{38400, 8, ParityMode::None, 1, FlowControl::None};
    struct Case {
        int latencyMs;
        LineSettings line;
        double chunkMs;
        double slowdown;
    };
    const Case cases[] = {
        {0, LineSettings{}, 23.49, 1.0},   // 82 characters of 11 bits (8O1)
        {1, LineSettings{}, 24.49, 1.043},
        {4, LineSettings{}, 27.49, 1.170},
        {16, LineSettings{}, 39.49, 1.681},
        {-5, LineSettings{}, 23.49, 1.0},
        {16, eightNoneOne, 37.35, 1.749},  // 10 bits a character
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(ChunkMilliseconds(c.latencyMs, c.line), c.chunkMs, 0.005) << c.latencyMs;
        EXPECT_NEAR(LatencySlowdown(c.latencyMs, c.line), c.slowdown, 0.0005) << c.latencyMs;
    }
}

}  // namespace
