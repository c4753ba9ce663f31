// Building the receiver's frames and parsing the tool's, on the simulator's
// side of the line. Layout and checksum as in link/frame_format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/frame_format.h"

// The wire bytes of a frame from the receiver: FE 01 L tag0 tag1 text cs
// (no preamble: the tool neither needs nor examines one). With badChecksum
// the checksum byte is off by one (and still not 0x00).
std::vector<std::uint8_t> BuildReceiverFrame(std::uint8_t tag0, std::uint8_t tag1,
                                             std::string_view text, bool badChecksum = false);

// The checksum a receiver frame with these tags and text would carry.
std::uint8_t ReceiverFrameChecksum(std::uint8_t tag0, std::uint8_t tag1, std::string_view text);

// Tag bytes that change with every frame and never produce a 0x00 byte in
// the tags or the checksum of the frame they go into.
class TagSequence {
public:
    explicit TagSequence(std::uint16_t start = 0x1234) : m_wNext(start) {}
    // Steps on to the next usable tag pair for a frame with this text.
    void Next(std::string_view text, std::uint8_t* tag0, std::uint8_t* tag1);

private:
    std::uint16_t m_wNext;
};

// One frame from the tool as it came off the line.
struct ToolFrame {
    std::uint8_t addr0 = 0, addr1 = 0;
    std::vector<std::uint8_t> payload;  // L bytes, tags included
    std::uint8_t tag0() const { return payload.size() > 0 ? payload[0] : 0; }
    std::uint8_t tag1() const { return payload.size() > 1 ? payload[1] : 0; }
    // The frame text: payload bytes 2 to L-1.
    std::string Text() const;
    std::string_view TextView() const;  // the same, valid while the frame lives
    std::size_t WireSize() const { return payload.size() + frame::kOverhead; }
};

// Splits the tool's byte stream into frames. Each frame starts with the
// preamble FF FF; bytes in front of it are reported as stray. A frame whose
// address bytes are not 01 FE, or whose checksum is wrong, is reported (and
// a bad-checksum frame is not returned).
class ToolFrameParser {
public:
    void Feed(const std::uint8_t* data, std::size_t size);
    // The next whole frame, if one is buffered.
    std::optional<ToolFrame> Next();
    // Problems seen since the last call (stray bytes, wrong address, bad
    // checksum).
    std::vector<std::string> TakeProblems();
    // Drops whatever is buffered (a new session, a power cycle).
    void Reset();

private:
    std::vector<std::uint8_t> m_abyBuffer;
    std::vector<std::string> m_problems;
};

// Bytes as readable text: printable ASCII as is, everything else (and '\')
// as \xHH.
std::string BytesAsText(const std::uint8_t* data, std::size_t size);
