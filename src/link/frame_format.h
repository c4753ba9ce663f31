// The link's frame, byte by byte. Shared by the tool's reader and writer and
// by the simulated receiver.
//
//   offset  size  field
//   0       1     preamble 0xFF  (sent by the tool; never required on input)
//   1       1     preamble 0xFF
//   2       1     address byte 0: 0xFE from the receiver, 0x01 from the tool
//   3       1     address byte 1: 0x01 from the receiver, 0xFE from the tool
//   4       1     length L: payload bytes, 0..255
//   5       L     payload: [0],[1] tag bytes chosen by the receiver and copied
//                 into every answer; [2..L-1] the frame text (no NUL on the wire)
//   5+L     1     checksum: low 8 bits of the sum of the L+3 bytes at offsets
//                 2..4+L (both address bytes, the length and the payload)
//
// A frame is L+6 bytes: 6 with an empty payload, 261 at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace frame {

inline constexpr std::uint8_t kPreambleByte = 0xFF;
inline constexpr std::uint8_t kReceiverAddr0 = 0xFE;
inline constexpr std::uint8_t kReceiverAddr1 = 0x01;
inline constexpr std::uint8_t kToolAddr0 = 0x01;
inline constexpr std::uint8_t kToolAddr1 = 0xFE;

// The speed both ends switch to after the "FAST" handshake.
inline constexpr unsigned kFastBaudRate = 38400;

inline constexpr std::size_t kPreambleSize = 2;
inline constexpr std::size_t kHeaderSize = 5;        // preamble, 2 address bytes, length
inline constexpr std::size_t kOverhead = 6;          // header + checksum
inline constexpr std::size_t kMaxPayload = 255;
inline constexpr std::size_t kMaxFrameSize = kMaxPayload + kOverhead;  // 261
inline constexpr std::size_t kTagSize = 2;           // payload bytes 0 and 1
inline constexpr std::size_t kTextOffset = kTagSize;  // frame text starts here

// The receiver's words (compared at the start of the frame text) and the
// tool's answers.
inline constexpr std::string_view kWordMon = "MON:";
inline constexpr std::string_view kWordError = "ERROR";
inline constexpr std::string_view kWordOk = "OK:";
inline constexpr std::string_view kAnswerFast = "FAST";
inline constexpr std::string_view kAnswerAck = ";";

// Upload frames (frame text after the tag bytes).
inline constexpr std::size_t kHeaderDataSize = 6;    // first 6 bytes of a data file
inline constexpr std::size_t kChunkDataSize = 64;    // data bytes per chunk frame
inline constexpr std::uint8_t kChunkMarker = '*';    // first text byte of a chunk
inline constexpr std::size_t kEFieldSize = 7;        // 'E' + 6 argument bytes, zero-filled
inline constexpr std::uint8_t kLengthE = kTagSize + kEFieldSize;             // 9
inline constexpr std::uint8_t kLengthLetter = kTagSize + 1;                  // 3 ('Q', 'X')
inline constexpr std::uint8_t kLengthHeader = kTagSize + kHeaderDataSize;    // 8
inline constexpr std::uint8_t kLengthFullChunk = kTagSize + 1 + kChunkDataSize;  // 67

// Whole frames on the wire during a transfer: the receiver's "OK:" (it sends
// no preamble) and the tool's chunk of kChunkDataSize bytes.
inline constexpr std::size_t kReceiverOkFrameSize = kOverhead - kPreambleSize + kTagSize + kWordOk.size();  // 9
inline constexpr std::size_t kFullChunkFrameSize = kOverhead + kLengthFullChunk;                          // 73

// Sum modulo 256 of the bytes [begin, end).
inline std::uint8_t Checksum(const std::uint8_t* begin, const std::uint8_t* end) {
    unsigned sum = 0;
    for (const std::uint8_t* p = begin; p != end; ++p)
        sum += *p;
    return static_cast<std::uint8_t>(sum);
}

}  // namespace frame
