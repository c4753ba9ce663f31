// What the fuzzers of the link share: the tool's port opened on a fresh
// pseudo-terminal, the receiver's byte stream cut into the frames the tool
// must accept, and the process-wide state put back between inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/serial_port.h"
#include "support/pty_pair.h"

// Stops the process so that libFuzzer records the input as a crash.
[[noreturn]] void FuzzFail(const char* what);

// A pty pair whose slave is opened as the tool's port (the Port Setup
// defaults) and stored in g_hComm for as long as the object lives.
class FuzzPort {
public:
    FuzzPort();
    ~FuzzPort();
    FuzzPort(const FuzzPort&) = delete;
    FuzzPort& operator=(const FuzzPort&) = delete;

    PtyPair& Pty() { return m_pty; }
    SerialPort& Port() { return *m_port; }

private:
    PtyPair m_pty;
    std::unique_ptr<SerialPort> m_port;
};

// A receiver frame as the tool reads it: the two address bytes, L, the L
// payload bytes and the checksum.
using FrameBytes = std::vector<std::uint8_t>;

// The frames a reader that takes one stray byte per attempt accepts from
// stream, in order: the port drops 0x00 bytes, then each attempt takes one
// byte and fails unless it is 0xFE; then 0x01 (else the attempt fails having
// taken both), then L and L+1 more bytes; the frame counts if its checksum
// is right. A frame cut short by the end of the stream is not returned.
// ends (if given) receives, for each frame, the offset in stream just after
// its last byte.
std::vector<FrameBytes> ExpectedFrames(const std::vector<std::uint8_t>& stream,
                                       std::vector<std::size_t>* ends = nullptr);

// Bytes that end any frame cut short by the end of the stream before them
// (a reader in the middle of a frame takes at most 2 + 1 + 255 + 1 more
// bytes), and are stray bytes after that.
std::vector<std::uint8_t> ResyncPadding();

// The frame the fuzzers append behind every input to know that the tool has
// read everything in front of it.
FrameBytes SentinelFrame();

// What a fuzzer sends down the line: the first maxInput bytes of the input,
// then ResyncPadding() and SentinelFrame().
std::vector<std::uint8_t> StreamWithSentinel(const std::uint8_t* data, std::size_t size, std::size_t maxInput);

// Installs a message-box presenter that shows nothing (the texts would only
// flood the fuzzer's output).
void SilenceMessageBoxes();
