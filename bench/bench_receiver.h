// BenchReceiver: the benchmark's own receiver on a pseudo-terminal, as lean
// as a receiver written in C: it sends "OK:" frames one after the other and
// timestamps each write and the arrival of the whole answer, so that the
// tool and the minimal responder are timed by the same code on the same kind
// of line.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_frames.h"

class BenchReceiver {
public:
    // A new pseudo-terminal; the program under test opens ToolPath().
    // nullptr with *reason on failure.
    static std::unique_ptr<BenchReceiver> Create(std::string* reason);
    ~BenchReceiver();
    BenchReceiver(const BenchReceiver&) = delete;
    BenchReceiver& operator=(const BenchReceiver&) = delete;

    const std::string& ToolPath() const { return m_strToolPath; }

    // "MON:" until it is answered "FAST" (again every 300 ms: the tool may
    // not have opened its port yet), then one "OK:" to complete the speed
    // handshake. False after timeout.
    bool Handshake(std::chrono::milliseconds timeout);
    // "OK:" until any answer comes (again every 300 ms: the program may not
    // have opened its port yet). False after timeout.
    bool AwaitAnswering(std::chrono::milliseconds timeout);

    struct Transfer {
        std::vector<double> answerMicros;  // per chunk: "OK:" written -> whole answer read
        unsigned chunks = 0;
        double seconds = 0;                // first chunk's "OK:" -> last chunk's answer
        std::string problem;               // "" when it ran to its end
    };
    // "OK:" after "OK:" until maxChunks chunk frames have come, a short
    // (last) chunk has come, or the answer is "X" (the end of the script).
    // Answers other than chunks (";", commands, the header) are taken and
    // not timed. atFirstChunk and atLastChunk run as those answers arrive.
    Transfer Run(unsigned maxChunks, const std::function<void()>& atFirstChunk,
                 const std::function<void()>& atLastChunk);

private:
    BenchReceiver() = default;
    struct Answer {
        std::size_t length = 0;  // L
        std::uint8_t first = 0;  // first text byte (0 when none)
    };
    bool Send(std::string_view text);
    // Sends text until an answer that wanted accepts comes, or timeout.
    bool Repeat(std::string_view text, std::chrono::milliseconds timeout,
                const std::function<bool(const Answer&)>& wanted);
    // The next whole frame from the tool, or nullopt after timeout.
    std::optional<Answer> Receive(std::chrono::milliseconds timeout);

    int m_master = -1;
    int m_slave = -1;  // kept open, so that the line stays up between the tool's opens
    std::string m_strToolPath;
    TagSequence m_tags;
    std::array<std::uint8_t, 4096> m_buffer{};
    std::size_t m_nHave = 0;
};
